/* A WIENER_SNMP whose initialisation always fails (for the controller's start-up test). */
__attribute__((visibility("default"))) int snmpInit(void)
{
    return 0;
}
