#include "common/ScriptedDialogs.h"

#include <QDialog>

#include <utility>

namespace {
template <typename T>
T takeOr(QList<T>& queue, const T& otherwise)
{
    return queue.isEmpty() ? otherwise : queue.takeFirst();
}
} // namespace

QList<ScriptedDialogs::Asked> ScriptedDialogs::askedOf(Kind kind) const
{
    QList<Asked> found;
    for (const Asked& one : asked)
        if (one.kind == kind)
            found.append(one);
    return found;
}

QStringList ScriptedDialogs::texts(Kind kind) const
{
    QStringList found;
    for (const Asked& one : asked)
        if (one.kind == kind)
            found.append(one.text);
    return found;
}

QList<ScriptedDialogs::Asked> ScriptedDialogs::prompts() const
{
    QList<Asked> found;
    for (const Asked& one : asked)
        if (one.kind == Kind::Value || one.kind == Kind::File)
            found.append(one);
    return found;
}

QStringList ScriptedDialogs::messages() const
{
    QStringList found;
    for (const Asked& one : asked)
        if (one.kind == Kind::Question || one.kind == Kind::Information || one.kind == Kind::Warning
            || one.kind == Kind::Critical)
            found.append(one.text);
    return found;
}

QStringList ScriptedDialogs::titles() const
{
    QStringList found;
    for (const Asked& one : asked)
        found.append(one.title);
    return found;
}

void ScriptedDialogs::record(Kind kind, const QString& title, const QString& text, QMessageBox::StandardButtons buttons)
{
    Asked one;
    one.kind = kind;
    one.title = title;
    one.text = text;
    one.buttons = buttons;
    asked.append(one);
}

QMessageBox::StandardButton ScriptedDialogs::question(
    QWidget*, const QString& title, const QString& text, QMessageBox::StandardButtons buttons, QMessageBox::StandardButton)
{
    record(Kind::Question, title, text, buttons);
    return takeOr(questionAnswers, questionAnswer);
}

QMessageBox::StandardButton ScriptedDialogs::information(
    QWidget*, const QString& title, const QString& text, QMessageBox::StandardButtons buttons)
{
    record(Kind::Information, title, text, buttons);
    return QMessageBox::Ok;
}

void ScriptedDialogs::critical(QWidget*, const QString& title, const QString& text)
{
    record(Kind::Critical, title, text, QMessageBox::Ok);
}

QMessageBox::StandardButton ScriptedDialogs::warning(
    QWidget*, const QString& title, const QString& text, QMessageBox::StandardButtons buttons)
{
    record(Kind::Warning, title, text, buttons);
    return QMessageBox::Ok;
}

QString ScriptedDialogs::chooseFile(const QString& caption, const QString& dir)
{
    record(Kind::File, caption, dir, {});
    return takeOr(fileNames, fileName);
}

QString ScriptedDialogs::getSaveFileName(QWidget*, const QString& caption, const QString& dir, const QString&)
{
    return chooseFile(caption, dir);
}

QString ScriptedDialogs::getOpenFileName(QWidget*, const QString& caption, const QString& dir, const QString&)
{
    return chooseFile(caption, dir);
}

QVariant ScriptedDialogs::prompt(Asked one)
{
    one.kind = Kind::Value;
    asked.append(one);
    if (whileOpen)
        std::exchange(whileOpen, {})();
    return takeOr(answers, QVariant());
}

QVariant ScriptedDialogs::numberPrompt(
    const QString& title, const QString& label, double value, double minValue, double maxValue, int decimals)
{
    Asked one;
    one.title = title;
    one.text = label;
    one.value = value;
    one.minValue = minValue;
    one.maxValue = maxValue;
    one.decimals = decimals;
    return prompt(one);
}

double ScriptedDialogs::getDouble(QWidget*, const QString& title, const QString& label, double value, double minValue,
    double maxValue, int decimals, bool* ok)
{
    const QVariant answer = numberPrompt(title, label, value, minValue, maxValue, decimals);
    *ok = answer.isValid();
    return *ok ? answer.toDouble() : value;
}

int ScriptedDialogs::getInt(
    QWidget*, const QString& title, const QString& label, int value, int minValue, int maxValue, int, bool* ok)
{
    const QVariant answer = numberPrompt(title, label, value, minValue, maxValue, 0);
    *ok = answer.isValid();
    return *ok ? answer.toInt() : value;
}

QString ScriptedDialogs::getItem(
    QWidget*, const QString& title, const QString& label, const QStringList& items, int current, bool, bool* ok)
{
    Asked one;
    one.title = title;
    one.text = label;
    one.items = items;
    one.current = current;
    const QVariant answer = prompt(one);
    *ok = answer.isValid();
    return *ok ? answer.toString() : QString();
}

QString ScriptedDialogs::getText(
    QWidget*, const QString& title, const QString& label, QLineEdit::EchoMode mode, const QString&, bool* ok)
{
    Asked one;
    one.title = title;
    one.text = label;
    one.echo = mode;
    const QVariant answer = prompt(one);
    *ok = answer.isValid();
    return *ok ? answer.toString() : QString();
}

bool ScriptedDialogs::getAddress(QWidget*, const QString& title, const QString& label, QString* address)
{
    Asked one;
    one.kind = Kind::Address;
    one.title = title;
    one.text = label;
    one.prefilled = *address;
    asked.append(one);
    if (addressAccepted && !addressAnswer.isEmpty())
        *address = addressAnswer;
    return addressAccepted;
}

int ScriptedDialogs::exec(QDialog* dialog)
{
    Asked one;
    one.kind = Kind::Dialog;
    one.title = dialog->windowTitle();
    asked.append(one);
    const std::function<int(QDialog*)> answer = takeOr(dialogAnswers, fill);
    return answer ? answer(dialog) : int(QDialog::Rejected);
}
