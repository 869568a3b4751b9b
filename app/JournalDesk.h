#pragma once

#include <QObject>
#include <QPointer>

class DialogJournal;
class QAction;
class QLabel;
class QMainWindow;
class QMenu;

// The write journal in the main window: "Journal..." (Ctrl+J) at the end of the System menu,
// the journal's window, and the red banner above the window's content while the journal cannot
// be written. Reads the journal only; a child of the window.
class JournalDesk : public QObject
{
    Q_OBJECT
public:
    // Adds the action to `systemMenu` and as a shortcut of `window`, and puts the banner above
    // the window's central widget (which must be set).
    JournalDesk(QMainWindow* window, QMenu* systemMenu);

    void showJournal();

private:
    // The banner says what failed; it stays until a line is written again.
    void showFailure();

    QMainWindow* m_window;
    QPointer<DialogJournal> m_dialog;
    QLabel* m_banner = nullptr;
};
