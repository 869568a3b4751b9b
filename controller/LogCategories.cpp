#include "controller/LogCategories.h"

// QtInfoMsg: debug lines off unless QT_LOGGING_RULES asks for them.
Q_LOGGING_CATEGORY(lcSnmp, "tesmar.snmp", QtInfoMsg)
Q_LOGGING_CATEGORY(lcOpc, "tesmar.opc", QtInfoMsg)
Q_LOGGING_CATEGORY(lcVme, "tesmar.vme", QtInfoMsg)
Q_LOGGING_CATEGORY(lcProfiles, "tesmar.profiles", QtInfoMsg)
Q_LOGGING_CATEGORY(lcService, "tesmar.service", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "tesmar.app", QtInfoMsg)
