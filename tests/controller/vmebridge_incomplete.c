/*
 * A bridge library under the real name that lacks most of its entry points, as an old or
 * foreign build would: the controllers must refuse it as a whole and never call what they
 * found of it. Built twice, as "xx_usb" and as "CAENVME", each into a folder of its own.
 */
#include "snmplib/interfaces/VmeEntryPoints.h"

#ifdef INCOMPLETE_XXUSB
short xxusb_devices_find(struct XxusbDeviceEntry* devices)
{
    (void)devices;
    return 1; /* claims a device: reaching it would use the missing entry points */
}
#else
int CAENVME_Init(int boardType, short link, short boardNumber, int32_t* handle)
{
    (void)boardType;
    (void)link;
    (void)boardNumber;
    *handle = 1;
    return 0;
}
#endif
