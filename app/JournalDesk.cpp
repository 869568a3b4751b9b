#include "JournalDesk.h"

#include "DialogJournal.h"

#include "device/WriteJournal.h"

#include "dialogs/common/WindowFront.h"

#include <QAction>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QVBoxLayout>

JournalDesk::JournalDesk(QMainWindow* window, QMenu* systemMenu)
    : QObject(window)
    , m_window(window)
{
    // Outside the form: the window works without it, and the System menu keeps its order.
    QAction* action = new QAction(tr("Journal..."), window);
    action->setObjectName(QStringLiteral("actionJournal"));
    action->setShortcut(QKeySequence(tr("Ctrl+J")));
    systemMenu->addSeparator();
    systemMenu->addAction(action);
    // The journal is readable without a crate: the shortcut works while the menu is disabled.
    window->addAction(action);
    connect(action, &QAction::triggered, this, &JournalDesk::showJournal);

    // The banner sits above the form's content; it stays until a line is written again.
    m_banner = new QLabel(window);
    m_banner->setObjectName(QStringLiteral("journalFailureBanner"));
    m_banner->setWordWrap(true);
    m_banner->setStyleSheet(QStringLiteral("QLabel { background: #c00000; color: white; padding: 4px; }"));
    QWidget* content = window->takeCentralWidget();
    auto* holder = new QWidget(window);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_banner);
    layout->addWidget(content, 1);
    window->setCentralWidget(holder);
    showFailure();
    // Emitted on whichever thread wrote the line; the journal's state when it arrives counts (two
    // threads' signals may arrive in either order).
    connect(&WriteJournal::instance(), &WriteJournal::failingChanged, this, &JournalDesk::showFailure, Qt::QueuedConnection);
}

void JournalDesk::showFailure()
{
    const WriteJournal& journal = WriteJournal::instance();
    m_banner->setText(journal.failure());
    m_banner->setVisible(journal.isFailing());
}

void JournalDesk::showJournal()
{
    if (!m_dialog)
        m_dialog = new DialogJournal(WriteJournal::instance(), m_window);
    WindowFront::showAndActivate(m_dialog);
}
