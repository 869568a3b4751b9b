#include "scripting/DialogScriptConsole.h"

#include "ui_DialogScriptConsole.h"

#include <QTextCursor>

DialogScriptConsole::DialogScriptConsole(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogScriptConsole)
{
    ui->setupUi(this);
    connect(ui->btnRun, &QPushButton::clicked, this, &DialogScriptConsole::runButtonClicked);
    connect(ui->btnStop, &QPushButton::clicked, this, &DialogScriptConsole::stopScript);
}

DialogScriptConsole::~DialogScriptConsole()
{
    delete ui;
}

QString DialogScriptConsole::editorText() const
{
    return ui->txtScript->toPlainText();
}

QString DialogScriptConsole::outputText() const
{
    return ui->txtOutput->toPlainText();
}

void DialogScriptConsole::scriptMessage(QString message)
{
    scriptOutput({message}, 0);
}

void DialogScriptConsole::scriptOutput(QStringList lines, qint64 droppedLines)
{
    m_linesReceived += droppedLines + lines.size();
    // Only the lines the view can keep are inserted, in one edit, as plain text (a script's line
    // is never taken for markup); the document drops its oldest blocks beyond the maximum.
    if (lines.size() > maxOutputLines)
        lines = lines.mid(lines.size() - maxOutputLines);
    if (!lines.isEmpty()) {
        QTextCursor cursor(ui->txtOutput->document());
        cursor.movePosition(QTextCursor::End);
        if (!ui->txtOutput->document()->isEmpty())
            cursor.insertBlock();
        cursor.insertText(lines.join(QLatin1Char('\n')));
        ui->txtOutput->setTextCursor(cursor);
        ui->txtOutput->ensureCursorVisible();
    }
    showDropped();
}

void DialogScriptConsole::showDropped()
{
    const qint64 dropped = m_linesReceived - ui->txtOutput->document()->blockCount();
    ui->lblStatus->setText(dropped > 0 && !ui->txtOutput->document()->isEmpty()
            ? tr("%1 older lines dropped; the console keeps the latest %2.").arg(dropped).arg(maxOutputLines)
            : QString());
}

void DialogScriptConsole::runButtonClicked()
{
    ui->txtOutput->clear();
    m_linesReceived = 0;
    showDropped();
    emit runScript(ui->txtScript->toPlainText());
}

void DialogScriptConsole::setScriptRunning(bool running)
{
    ui->btnStop->setEnabled(running);
}
