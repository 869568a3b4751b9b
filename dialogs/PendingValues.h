#pragma once

#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>

class QAbstractSpinBox;
class QDialogButtonBox;
class QLabel;
class QVBoxLayout;
class QWidget;

// Holds a dialog's fields and its OK button until the values they start from were answered by
// the module: meanwhile the spin boxes show "---", the fields and OK are disabled, and a line
// at the top says what the dialog waits for, or in red why it has nothing to start from. A
// dialog opened on a read that failed can so never be confirmed with what the failure left.
class PendingValues
{
public:
    PendingValues(QVBoxLayout* layout, QDialogButtonBox* buttons, const QList<QWidget*>& fields);

    // `failed` shows the text in red (the read was not answered).
    void setPending(const QString& text, bool failed = false);
    // The fields are the dialog's again; the caller sets their values before or after.
    void setAnswered();
    bool answered() const { return m_answered; }

private:
    QLabel* m_label;
    QPointer<QDialogButtonBox> m_buttons;
    QList<QPointer<QWidget>> m_fields;
    QHash<QAbstractSpinBox*, QString> m_specialTexts;
    bool m_answered = false;
};
