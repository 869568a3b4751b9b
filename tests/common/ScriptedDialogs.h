#pragma once

#include "dialogs/common/UserDialogs.h"

#include <QList>
#include <QVariant>

#include <functional>

// The one scripted stand-in for the person at the screen: every dialog a window under test opens
// through UserDialogs is answered from a queue of its kind, or by that kind's default when the
// queue is empty, and recorded in `asked`. The defaults answer the way a careful operator would
// who is asked something unexpected: No to questions, Cancel to prompts and file choosers, the
// pre-filled crate address accepted, modal dialogs rejected.
class ScriptedDialogs : public UserDialogs
{
public:
    enum class Kind { Question, Information, Warning, Critical, Value, File, Address, Dialog };

    // One dialog as it was opened.
    struct Asked
    {
        Kind kind = Kind::Question;
        QString title;
        // The message, the prompt's label, the file chooser's folder, the address dialog's label.
        QString text;
        QMessageBox::StandardButtons buttons; // questions and messages
        // Value prompts: the value it starts from and its bounds; item choices: the items.
        double value = 0;
        double minValue = 0;
        double maxValue = 0;
        int decimals = 0;
        QStringList items;
        int current = -1;
        QLineEdit::EchoMode echo = QLineEdit::Normal;
        QString prefilled; // the address dialog's
    };

    // ---- Answers ----
    QList<QMessageBox::StandardButton> questionAnswers;
    QMessageBox::StandardButton questionAnswer = QMessageBox::No;
    // getDouble, getInt, getItem and getText in the order asked; an invalid QVariant is Cancel.
    QList<QVariant> answers;
    // Runs once while the next value prompt is open (a real dialog's event loop would run
    // timers then).
    std::function<void()> whileOpen;
    // The file choosers (save and open); an empty name is Cancel.
    QStringList fileNames;
    QString fileName;
    // The address dialog: accepted with `addressAnswer`, or with the pre-filled address while
    // that is empty; `addressAccepted` false is Cancel.
    QString addressAnswer;
    bool addressAccepted = true;
    // Modal dialogs run by exec(): each function edits the dialog's fields and returns its result
    // code, in place of the dialog's own event loop; `fill` answers when the queue is empty.
    QList<std::function<int(QDialog*)>> dialogAnswers;
    std::function<int(QDialog*)> fill;

    // ---- What was asked ----
    QList<Asked> asked;
    QList<Asked> askedOf(Kind kind) const;
    // The texts of one kind, in order.
    QStringList texts(Kind kind) const;
    QStringList questions() const { return texts(Kind::Question); }
    QStringList informations() const { return texts(Kind::Information); }
    QStringList warnings() const { return texts(Kind::Warning); }
    // Every question and message (information, warning, critical), in order.
    QStringList messages() const;
    // The labels of the value prompts.
    QStringList labels() const { return texts(Kind::Value); }
    // The value prompts and file choosers, in order.
    QList<Asked> prompts() const;
    QStringList titles() const;

    QMessageBox::StandardButton question(QWidget* parent, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) override;
    QMessageBox::StandardButton information(
        QWidget* parent, const QString& title, const QString& text, QMessageBox::StandardButtons buttons) override;
    void critical(QWidget* parent, const QString& title, const QString& text) override;
    QMessageBox::StandardButton warning(
        QWidget* parent, const QString& title, const QString& text, QMessageBox::StandardButtons buttons) override;
    QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter) override;
    QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter) override;
    double getDouble(QWidget* parent, const QString& title, const QString& label, double value, double minValue,
        double maxValue, int decimals, bool* ok) override;
    int getInt(QWidget* parent, const QString& title, const QString& label, int value, int minValue, int maxValue, int step,
        bool* ok) override;
    QString getItem(QWidget* parent, const QString& title, const QString& label, const QStringList& items, int current,
        bool editable, bool* ok) override;
    QString getText(QWidget* parent, const QString& title, const QString& label, QLineEdit::EchoMode mode,
        const QString& text, bool* ok) override;
    bool getAddress(QWidget* parent, const QString& title, const QString& label, QString* address) override;
    int exec(QDialog* dialog) override;

private:
    void record(Kind kind, const QString& title, const QString& text, QMessageBox::StandardButtons buttons);
    // Records a value prompt and takes its answer.
    QVariant prompt(Asked asked);
    QVariant numberPrompt(
        const QString& title, const QString& label, double value, double minValue, double maxValue, int decimals);
    QString chooseFile(const QString& caption, const QString& dir);
};
