#pragma once

#include "dialogs/common/UserDialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>
#include <QVariant>

#include <functional>

// Answers the dialogs of the windows under test: value prompts and item choices from a list (an
// invalid QVariant or none left is Cancel), questions with `questionAnswer`, modal dialogs
// through `fill`, which edits the dialog's fields and returns its result code (none: Cancel).
// Records what was asked.
class AnsweringDialogs : public UserDialogs
{
public:
    QList<QVariant> answers;
    QStringList labels;
    QStringList informations;
    QStringList warnings;
    QStringList offeredItems; // of the latest item choice
    int offeredCurrent = -1;
    int lastIntValue = 0; // the value the latest number prompt started from
    QMessageBox::StandardButton questionAnswer = QMessageBox::No;
    std::function<int(QDialog*)> fill;

    double getDouble(QWidget*, const QString&, const QString& label, double value, double, double, int, bool* ok) override
    {
        labels.append(label);
        const QVariant answer = answers.isEmpty() ? QVariant() : answers.takeFirst();
        *ok = answer.isValid();
        return *ok ? answer.toDouble() : value;
    }
    int getInt(QWidget*, const QString&, const QString& label, int value, int, int, int, bool* ok) override
    {
        labels.append(label);
        lastIntValue = value;
        const QVariant answer = answers.isEmpty() ? QVariant() : answers.takeFirst();
        *ok = answer.isValid();
        return *ok ? answer.toInt() : value;
    }
    QString getText(QWidget*, const QString&, const QString& label, QLineEdit::EchoMode, const QString&, bool* ok) override
    {
        labels.append(label);
        const QVariant answer = answers.isEmpty() ? QVariant() : answers.takeFirst();
        *ok = answer.isValid();
        return answer.toString();
    }
    QMessageBox::StandardButton information(
        QWidget*, const QString&, const QString& text, QMessageBox::StandardButtons) override
    {
        informations.append(text);
        return QMessageBox::Ok;
    }
    QMessageBox::StandardButton question(
        QWidget*, const QString&, const QString& text, QMessageBox::StandardButtons, QMessageBox::StandardButton) override
    {
        informations.append(text);
        return questionAnswer;
    }
    QMessageBox::StandardButton warning(QWidget*, const QString&, const QString& text, QMessageBox::StandardButtons) override
    {
        warnings.append(text);
        return QMessageBox::Ok;
    }
    QString getItem(
        QWidget*, const QString&, const QString& label, const QStringList& items, int current, bool, bool* ok) override
    {
        labels.append(label);
        offeredItems = items;
        offeredCurrent = current;
        const QVariant answer = answers.isEmpty() ? QVariant() : answers.takeFirst();
        *ok = answer.isValid();
        return answer.toString();
    }
    bool getAddress(QWidget*, const QString&, const QString&, QString*) override { return true; }
    int exec(QDialog* dialog) override { return fill ? fill(dialog) : int(QDialog::Rejected); }
};

// Waits until `dialog` shows the values the module answered (its OK button enabled); false when
// it never does within `timeoutMs` (the read failed or never came).
inline bool waitForAnsweredValues(QDialog* dialog, int timeoutMs = 5000)
{
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    QPushButton* ok = buttons ? buttons->button(QDialogButtonBox::Ok) : nullptr;
    return ok && QTest::qWaitFor([ok] { return ok->isEnabled(); }, timeoutMs);
}
