#include "scripting/DialogScriptConsole.h"

#include "ui_DialogScriptConsole.h"

#include "scripting/ScriptOutputModel.h"

DialogScriptConsole::DialogScriptConsole(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogScriptConsole)
{
    ui->setupUi(this);
    m_output = new ScriptOutputModel(maxOutputLines, this);
    ui->lstOutput->setModel(m_output);
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
    return m_output->text();
}

void DialogScriptConsole::scriptMessage(QString message)
{
    scriptOutput({message}, 0);
}

void DialogScriptConsole::scriptOutput(QStringList lines, qint64 droppedLines)
{
    m_linesReceived += droppedLines + lines.size();
    m_output->append(lines);
    ui->lstOutput->scrollToBottom();
    showDropped();
}

void DialogScriptConsole::showDropped()
{
    const qint64 dropped = m_linesReceived - m_output->lineCount();
    ui->lblStatus->setText(dropped > 0
            ? tr("%1 older lines dropped; the console keeps the latest %2.").arg(dropped).arg(maxOutputLines)
            : QString());
}

void DialogScriptConsole::runButtonClicked()
{
    m_output->clear();
    m_linesReceived = 0;
    showDropped();
    emit runScript(ui->txtScript->toPlainText());
}

void DialogScriptConsole::setScriptRunning(bool running)
{
    ui->btnStop->setEnabled(running);
}
