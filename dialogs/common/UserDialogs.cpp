#include "dialogs/common/UserDialogs.h"

#include "dialogs/common/IpV4InputDialog.h"

#include <QFileDialog>

namespace {
UserDialogs* s_startupOverride = nullptr;
}

UserDialogs::~UserDialogs() = default;

QMessageBox::StandardButton UserDialogs::question(QWidget* parent, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::question(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton UserDialogs::information(
    QWidget* parent, const QString& title, const QString& text, QMessageBox::StandardButtons buttons)
{
    return QMessageBox::information(parent, title, text, buttons);
}

void UserDialogs::critical(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::critical(parent, title, text);
}

QMessageBox::StandardButton UserDialogs::warning(
    QWidget* parent, const QString& title, const QString& text, QMessageBox::StandardButtons buttons)
{
    return QMessageBox::warning(parent, title, text, buttons);
}

QString UserDialogs::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString UserDialogs::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

double UserDialogs::getDouble(QWidget* parent, const QString& title, const QString& label, double value, double minValue,
    double maxValue, int decimals, bool* ok)
{
    return QInputDialog::getDouble(parent, title, label, value, minValue, maxValue, decimals, ok);
}

int UserDialogs::getInt(
    QWidget* parent, const QString& title, const QString& label, int value, int minValue, int maxValue, int step, bool* ok)
{
    return QInputDialog::getInt(parent, title, label, value, minValue, maxValue, step, ok);
}

QString UserDialogs::getItem(QWidget* parent, const QString& title, const QString& label, const QStringList& items,
    int current, bool editable, bool* ok)
{
    return QInputDialog::getItem(parent, title, label, items, current, editable, ok);
}

QString UserDialogs::getText(
    QWidget* parent, const QString& title, const QString& label, QLineEdit::EchoMode mode, const QString& text, bool* ok)
{
    return QInputDialog::getText(parent, title, label, mode, text, ok);
}

bool UserDialogs::getAddress(QWidget* parent, const QString& title, const QString& label, QString* address)
{
    IpV4InputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setAddress(*address);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *address = dialog.address();
    return true;
}

int UserDialogs::exec(QDialog* dialog)
{
    return dialog->exec();
}

void UserDialogs::setStartupOverride(UserDialogs* dialogs)
{
    s_startupOverride = dialogs;
}

UserDialogs* UserDialogs::startupOverride()
{
    return s_startupOverride;
}
