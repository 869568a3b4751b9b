#include "Resolution.h"
