#pragma once

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

// The one seam through which the main window asks the user anything: message boxes, input
// dialogs and the IPv4 address dialog. The default implementation shows the real Qt dialogs;
// tests derive from it and answer without a human.
class UserDialogs
{
public:
    UserDialogs() = default;
    virtual ~UserDialogs();
    UserDialogs(const UserDialogs&) = delete;
    UserDialogs& operator=(const UserDialogs&) = delete;

    virtual QMessageBox::StandardButton question(QWidget* parent, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    virtual QMessageBox::StandardButton information(
        QWidget* parent, const QString& title, const QString& text, QMessageBox::StandardButtons buttons = QMessageBox::Ok);
    virtual void critical(QWidget* parent, const QString& title, const QString& text);
    virtual QMessageBox::StandardButton warning(
        QWidget* parent, const QString& title, const QString& text, QMessageBox::StandardButtons buttons = QMessageBox::Ok);
    // File choosers; an empty text means Cancel.
    virtual QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
    virtual QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
    virtual double getDouble(QWidget* parent, const QString& title, const QString& label, double value, double minValue,
        double maxValue, int decimals, bool* ok);
    virtual int getInt(QWidget* parent, const QString& title, const QString& label, int value, int minValue, int maxValue,
        int step, bool* ok);
    virtual QString getItem(QWidget* parent, const QString& title, const QString& label, const QStringList& items,
        int current, bool editable, bool* ok);
    virtual QString getText(QWidget* parent, const QString& title, const QString& label, QLineEdit::EchoMode mode,
        const QString& text, bool* ok);
    // IpV4InputDialog with the label (rich text) and the address pre-filled; true on OK, and then
    // *address holds the entered text. On Cancel *address is left unchanged.
    virtual bool getAddress(QWidget* parent, const QString& title, const QString& label, QString* address);
    // Runs a prepared modal dialog (current trip, external inhibit, user nominal values) and
    // returns its result code (QDialog::Accepted or Rejected).
    virtual int exec(QDialog* dialog);

    // Dialogs used by a main window from its construction on (the address conflict is asked
    // inside the constructor, before a test could call setUserDialogs). Not owned; null (the
    // default) means real dialogs. Only the GUI thread uses it.
    static void setStartupOverride(UserDialogs* dialogs);
    static UserDialogs* startupOverride();
};
