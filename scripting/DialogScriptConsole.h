#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

namespace Ui {
class DialogScriptConsole;
}
class ScriptOutputModel;

// The script console: an editor, "Run Script" and "Stop Script", and the output of the running
// script, one paragraph per line. It only presents and forwards; the main window runs the script.
// The output keeps the latest maxOutputLines lines; the line below it says how many older ones
// were dropped.
class DialogScriptConsole : public QDialog
{
    Q_OBJECT
public:
    explicit DialogScriptConsole(QWidget* parent = nullptr);
    ~DialogScriptConsole() override;

    static constexpr int maxOutputLines = 10000;

    QString editorText() const;
    QString outputText() const;

signals:
    // The editor's text; empty asks for the script held from before.
    void runScript(QString script);
    void stopScript();

public slots:
    // Appends `message` as a new paragraph of the output.
    void scriptMessage(QString message);
    // Appends a batch of lines; `droppedLines` lines before them never reached the console.
    void scriptOutput(QStringList lines, qint64 droppedLines);
    // Clears the output and emits runScript with the editor's text.
    void runButtonClicked();
    // Stop is offered only while a script runs.
    void setScriptRunning(bool running);

private:
    void showDropped();

    Ui::DialogScriptConsole* ui;
    ScriptOutputModel* m_output;
    qint64 m_linesReceived = 0; // since the output was last cleared, dropped ones included
};
