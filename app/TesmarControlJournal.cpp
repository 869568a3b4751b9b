// The write journal's window: "Journal..." in the System menu.
#include "TesmarControl.h"

#include "DialogJournal.h"
#include "ui_TesmarControl.h"

#include "device/WriteJournal.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

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
}

void TesmarControl::showJournal()
{
    if (!dialogJournal)
        dialogJournal = new DialogJournal(WriteJournal::instance(), this);
    dialogJournal->show();
    dialogJournal->raise();
    dialogJournal->activateWindow();
}
