#include "device/BaseCrate.h"

BaseCrate::~BaseCrate() = default;
