/* A WIENER_SNMP whose initialisation always fails (for the controller's start-up test). Built
 * twice: with snmpLastError giving the reason, and (WITHOUT_LAST_ERROR) like a library that
 * cannot tell why. */
__attribute__((visibility("default"))) int snmpInit(void)
{
    return 0;
}

#ifndef WITHOUT_LAST_ERROR
__attribute__((visibility("default"))) const char* snmpLastError(void* session)
{
    return session ? "" : "cannot open a UDP socket: Permission denied";
}
#endif
