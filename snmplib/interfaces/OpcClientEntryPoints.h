/*
 * The entry points of the OPC client library "tesmarOpcClientLibrary", in one list, so that the
 * controller's members, its binding and a stand-in library are generated from the same text.
 *
 * X(name, result type, parameter list), in the library's order. Item names are Latin-1,
 * NUL-terminated; every getter sets *ok to whether the server answered the read (ok may not be
 * null). Texts returned by the library belong to the library and stay valid until the calling
 * thread's next call into it. The setters report nothing: a program learns whether a write
 * arrived only by reading the item again.
 */
#ifndef TESMAR_OPC_CLIENT_ENTRY_POINTS_H
#define TESMAR_OPC_CLIENT_ENTRY_POINTS_H

#include <stdbool.h>
#include <stdint.h>

#define TESMAR_OPC_ENTRY_POINTS(X)                                                                                          \
    X(opc_init, void, (int updateIntervalMs))                                                                               \
    X(opc_quit, void, (void))                                                                                               \
    X(opc_getBool, bool, (const char* item, bool* ok))                                                                      \
    X(opc_getByte, uint8_t, (const char* item, bool* ok))                                                                   \
    X(opc_getUnsignedShort, uint16_t, (const char* item, bool* ok))                                                         \
    X(opc_getUnsignedLong, uint32_t, (const char* item, bool* ok))                                                          \
    X(opc_getFloat, float, (const char* item, bool* ok))                                                                    \
    X(opc_getString, const char*, (const char* item, bool* ok))                                                             \
    X(opc_getModuleList, const char*, (bool* ok))                                                                           \
    X(opc_getChannelList, const char*, (bool* ok))                                                                          \
    X(opc_setBool, void, (const char* item, bool value))                                                                    \
    X(opc_setByte, void, (const char* item, uint8_t value))                                                                 \
    X(opc_setUnsignedShort, void, (const char* item, uint16_t value))                                                       \
    X(opc_setUnsignedLong, void, (const char* item, uint32_t value))                                                        \
    X(opc_setFloat, void, (const char* item, float value))

/* Function pointer types: OpcEntry_opc_init and so on. */
#define TESMAR_OPC_ENTRY_TYPE(name, result, parameters) typedef result(*OpcEntry_##name) parameters;
TESMAR_OPC_ENTRY_POINTS(TESMAR_OPC_ENTRY_TYPE)
#undef TESMAR_OPC_ENTRY_TYPE

#endif /* TESMAR_OPC_CLIENT_ENTRY_POINTS_H */
