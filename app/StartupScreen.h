#pragma once

#include <QIcon>
#include <QPixmap>

// The pictures of the program's start and the splash screen's life.
namespace StartupScreen {
// "opc_control_512.png" from the working folder (not the resources, so a site can put its own
// picture there), else the one installed with the program; null when neither exists.
QPixmap splashImage();
// The window icon compiled into the program.
QIcon windowIcon();
// Hides every splash screen: it stays on top of everything and would hide a message box or a
// question shown before the window appears.
void hideSplashScreens();
} // namespace StartupScreen
