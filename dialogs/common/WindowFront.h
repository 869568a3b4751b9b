#pragma once

class QWidget;

// Bringing a kept window to the operator: shown, raised above the others and given the focus.
namespace WindowFront {
void showAndActivate(QWidget* window);
} // namespace WindowFront
