/*
 * The entry points of the two VME bridge libraries, "xx_usb" (Wiener VM-USB) and "CAENVME" (CAEN
 * V1718), in one list each, so that the controllers' members, their binding and the stand-in
 * libraries are generated from the same text.
 *
 * X(name, result type, parameter list), in the order the controllers resolve them.
 *
 * xx_usb: xxusb_devices_find fills at most xxusbMaxDevices entries and returns their count (read
 * as a 16-bit signed number; below 1 means none); xxusb_device_open takes the usbDevice pointer
 * of an entry and returns a handle, null on failure. VME cycles return 0 on success, a negative
 * code on failure.
 *
 * CAENVME: handles are 32-bit; 0 means "not open". Data width 2 is a 16-bit cycle; the data
 * pointer points to a 16-bit word. Every call returns 0 on success, a negative code on failure.
 */
#ifndef TESMAR_VME_ENTRY_POINTS_H
#define TESMAR_VME_ENTRY_POINTS_H

#include <stdint.h>

#define TESMAR_XXUSB_MAX_DEVICES 32
#define TESMAR_CAENVME_BOARD_V1718 0
#define TESMAR_CAENVME_DATA_WIDTH_D16 2

struct XxusbDeviceEntry
{
    void* usbDevice;
    char serialString[7];
};

#define TESMAR_XXUSB_ENTRY_POINTS(X)                                                                                        \
    X(xxusb_devices_find, short, (struct XxusbDeviceEntry * devices))                                                       \
    X(xxusb_device_open, void*, (void* usbDevice))                                                                          \
    X(xxusb_device_close, short, (void* handle))                                                                            \
    X(xxusb_register_read, int, (void* handle, int registerNumber, long* value))                                            \
    X(VME_read_16, short, (void* handle, short addressModifier, long address, long* data))                                  \
    X(VME_write_16, short, (void* handle, short addressModifier, long address, long data))

#define TESMAR_CAENVME_ENTRY_POINTS(X)                                                                                      \
    X(CAENVME_SWRelease, int, (char* release))                                                                              \
    X(CAENVME_Init, int, (int boardType, short link, short boardNumber, int32_t* handle))                                   \
    X(CAENVME_End, int, (int32_t handle))                                                                                   \
    X(CAENVME_BoardFWRelease, int, (int32_t handle, char* release))                                                         \
    X(CAENVME_ReadCycle, int, (int32_t handle, uint32_t address, void* data, int addressModifier, int dataWidth))           \
    X(CAENVME_WriteCycle, int, (int32_t handle, uint32_t address, void* data, int addressModifier, int dataWidth))          \
    X(CAENVME_SetTimeout, int, (int32_t handle, int timeout))                                                               \
    X(CAENVME_SystemReset, int, (int32_t handle))

/* Function pointer types: VmeEntry_xxusb_devices_find and so on. */
#define TESMAR_VME_ENTRY_TYPE(name, result, parameters) typedef result(*VmeEntry_##name) parameters;
TESMAR_XXUSB_ENTRY_POINTS(TESMAR_VME_ENTRY_TYPE)
TESMAR_CAENVME_ENTRY_POINTS(TESMAR_VME_ENTRY_TYPE)
#undef TESMAR_VME_ENTRY_TYPE

#endif /* TESMAR_VME_ENTRY_POINTS_H */
