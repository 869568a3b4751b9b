#include "device/BaseCrate.h"

BaseCrate::~BaseCrate() = default;

bool BaseCrate::lastReadFailed()
{
    return false;
}
