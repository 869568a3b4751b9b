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
    // As plain text: a script's line is never taken for markup.
    QTextCursor cursor(ui->txtOutput->document());
    cursor.movePosition(QTextCursor::End);
    if (!ui->txtOutput->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(message);
    ui->txtOutput->setTextCursor(cursor);
    ui->txtOutput->ensureCursorVisible();
}

void DialogScriptConsole::runButtonClicked()
{
    ui->txtOutput->clear();
    emit runScript(ui->txtScript->toPlainText());
}

void DialogScriptConsole::setScriptRunning(bool running)
{
    ui->btnStop->setEnabled(running);
}
