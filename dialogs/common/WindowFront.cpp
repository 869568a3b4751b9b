#include "dialogs/common/WindowFront.h"

#include <QWidget>

void WindowFront::showAndActivate(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}
