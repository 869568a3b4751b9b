#pragma once

#include <QString>

// Where `cmake --install` puts the program's companions, relative to the program's own folder
// (<prefix>/bin). The install rules in CMakeLists.txt use the same folders; the program finds
// them from wherever the prefix was moved, without LD_LIBRARY_PATH.
namespace InstallLayout {
// Our SNMP library, private to the program (not where other programs' loaders look).
inline constexpr const char* libraryFolder = "../lib/tesmarcontrol";
// The user manual ("documentation/") and the splash image.
inline constexpr const char* dataFolder = "../share/tesmarcontrol";

// `file` in `folder` seen from the running program's folder; empty when there is no application
// object or no such file (the program runs from the build tree).
QString installedFile(const char* folder, const QString& file);
// `file` (a relative path such as "documentation/index.html") in the working folder when it is
// there (a site's own copy, the build's run folder), else the copy installed in dataFolder; empty
// when neither exists.
QString dataFile(const QString& file);
} // namespace InstallLayout
