#pragma once

#include <QLoggingCategory>

// The program's debug output, one category per area. Debug lines are off by default; turn them
// on with QT_LOGGING_RULES="tesmar.*.debug=true" (or one area, e.g. "tesmar.snmp.debug=true").
// Warnings stay on.
Q_DECLARE_LOGGING_CATEGORY(lcSnmp)     // tesmar.snmp: the SNMP library binding
Q_DECLARE_LOGGING_CATEGORY(lcOpc)      // tesmar.opc: the OPC client library, its items
Q_DECLARE_LOGGING_CATEGORY(lcVme)      // tesmar.vme: the VME bridge libraries
Q_DECLARE_LOGGING_CATEGORY(lcProfiles) // tesmar.profiles: profile writes, automatic stepping
Q_DECLARE_LOGGING_CATEGORY(lcService)  // tesmar.service: firmware transfer, base address
Q_DECLARE_LOGGING_CATEGORY(lcApp)      // tesmar.app: the window's start-up
