#include "app/StartupScreen.h"

#include "controller/InstallLayout.h"

#include <QApplication>
#include <QSplashScreen>
#include <QWidget>

// The resources live in the static window library; a static library's resources are only
// registered when something asks for them by name. Q_INIT_RESOURCE must not sit in a namespace.
static void registerResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace StartupScreen {

QPixmap splashImage()
{
    const QString path = InstallLayout::dataFile(QStringLiteral("opc_control_512.png"));
    return path.isEmpty() ? QPixmap() : QPixmap(path);
}

QIcon windowIcon()
{
    static const bool registered = (registerResources(), true);
    Q_UNUSED(registered);
    return QIcon(QStringLiteral(":/") + QStringLiteral("images/TesmarSnmpControl64x64.ico"));
}

void hideSplashScreens()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* splash = qobject_cast<QSplashScreen*>(widget))
            splash->hide();
    }
}

} // namespace StartupScreen
