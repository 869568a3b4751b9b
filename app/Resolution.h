#pragma once
// Placeholder until the display resolution record lands.
