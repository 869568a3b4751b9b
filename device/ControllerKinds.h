#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class ControllerFactory;

// The controller kinds the program can work with, by the name the command line and the
// settings use ("snmp", "opc"). A new kind is one more row in the table of ControllerKinds.cpp.
namespace ControllerKinds {

inline constexpr const char* defaultKind = "snmp";

// Every known name, in table order.
QStringList names();
bool isKnown(const QString& kind);
// The factory of `kind`; null for an unknown kind.
std::unique_ptr<ControllerFactory> createFactory(const QString& kind);
// True for the kinds whose modules sit on a VME bus: the window then offers the service
// functions and tool windows that only VME modules serve.
bool reachesVmeModules(const QString& kind);

} // namespace ControllerKinds
