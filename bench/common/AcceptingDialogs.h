#pragma once

#include "dialogs/common/UserDialogs.h"

// The answers a benchmark's window gets without anybody at the screen: the stored crate address
// is taken as it is, and every question (ramp down on close, ...) is answered No.
class AcceptingDialogs : public UserDialogs
{
public:
    bool getAddress(QWidget*, const QString&, const QString&, QString*) override { return true; }
    QMessageBox::StandardButton question(
        QWidget*, const QString&, const QString&, QMessageBox::StandardButtons, QMessageBox::StandardButton) override
    {
        return QMessageBox::No;
    }
};
