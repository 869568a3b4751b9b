// The write journal in the main window: "Journal..." in the System menu and the red banner
// while the journal cannot be written.
#include "TesmarControl.h"

#include "DialogJournal.h"
#include "ui_TesmarControl.h"

#include "device/WriteJournal.h"

#include <QAction>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QVBoxLayout>

void TesmarControl::addJournalAction()
{
    // Outside the form: the window works without it, and the System menu keeps its order.
    QAction* action = new QAction(tr("Journal..."), this);
    action->setObjectName(QStringLiteral("actionJournal"));
    action->setShortcut(QKeySequence(tr("Ctrl+J")));
    ui->menuSystem->addSeparator();
    ui->menuSystem->addAction(action);
    // The journal is readable without a crate: the shortcut works while the menu is disabled.
    addAction(action);
    connect(action, &QAction::triggered, this, &TesmarControl::showJournal);

    // The banner sits above the form's content; it stays until a line is written again.
    journalBanner = new QLabel(this);
    journalBanner->setObjectName(QStringLiteral("journalFailureBanner"));
    journalBanner->setWordWrap(true);
    journalBanner->setStyleSheet(QStringLiteral("QLabel { background: #c00000; color: white; padding: 4px; }"));
    QWidget* content = takeCentralWidget();
    auto* holder = new QWidget(this);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(journalBanner);
    layout->addWidget(content, 1);
    setCentralWidget(holder);
    showJournalFailure();
    // Emitted on whichever thread wrote the line; the journal's state when it arrives counts (two
    // threads' signals may arrive in either order).
    connect(&WriteJournal::instance(), &WriteJournal::failingChanged, this, &TesmarControl::showJournalFailure,
        Qt::QueuedConnection);
}

void TesmarControl::showJournalFailure()
{
    const WriteJournal& journal = WriteJournal::instance();
    journalBanner->setText(journal.failure());
    journalBanner->setVisible(journal.isFailing());
}

void TesmarControl::showJournal()
{
    if (!dialogJournal)
        dialogJournal = new DialogJournal(WriteJournal::instance(), this);
    dialogJournal->show();
    dialogJournal->raise();
    dialogJournal->activateWindow();
}
