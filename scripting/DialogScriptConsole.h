#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class DialogScriptConsole;
}

// The script console: an editor, "Run Script" and "Stop Script", and the output of the running
// script, one paragraph per line. It only presents and forwards; the main window runs the script.
class DialogScriptConsole : public QDialog
{
    Q_OBJECT
public:
    explicit DialogScriptConsole(QWidget* parent = nullptr);
    ~DialogScriptConsole() override;

    QString editorText() const;
    QString outputText() const;

signals:
    // The editor's text; empty asks for the script held from before.
    void runScript(QString script);
    void stopScript();

public slots:
    // Appends `message` as a new paragraph of the output.
    void scriptMessage(QString message);
    // Clears the output and emits runScript with the editor's text.
    void runButtonClicked();
    // Stop is offered only while a script runs.
    void setScriptRunning(bool running);

private:
    Ui::DialogScriptConsole* ui;
};
