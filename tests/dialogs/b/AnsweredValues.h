#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>

// Waits until `dialog` shows the values the module answered (its OK button enabled); false when
// it never does within `timeoutMs` (the read failed or never came).
inline bool waitForAnsweredValues(QDialog* dialog, int timeoutMs = 5000)
{
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    QPushButton* ok = buttons ? buttons->button(QDialogButtonBox::Ok) : nullptr;
    return ok && QTest::qWaitFor([ok] { return ok->isEnabled(); }, timeoutMs);
}
