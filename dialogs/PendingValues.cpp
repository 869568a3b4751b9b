#include "PendingValues.h"

#include <QAbstractSpinBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {
const QString unknownText = QStringLiteral("---");

// "---" through the special value text, which a spin box shows at its minimum.
void showUnknown(QAbstractSpinBox* box)
{
    const QSignalBlocker blocker(box);
    box->setSpecialValueText(unknownText);
    if (auto* doubleBox = qobject_cast<QDoubleSpinBox*>(box))
        doubleBox->setValue(doubleBox->minimum());
    else if (auto* intBox = qobject_cast<QSpinBox*>(box))
        intBox->setValue(intBox->minimum());
}
} // namespace

PendingValues::PendingValues(QVBoxLayout* layout, QDialogButtonBox* buttons, const QList<QWidget*>& fields)
    : m_label(new QLabel)
    , m_buttons(buttons)
{
    m_label->setObjectName(QStringLiteral("lblPendingValues"));
    m_label->setWordWrap(true);
    m_label->hide();
    layout->insertWidget(0, m_label);
    for (QWidget* field : fields) {
        m_fields.append(field);
        if (auto* box = qobject_cast<QAbstractSpinBox*>(field))
            m_specialTexts.insert(box, box->specialValueText());
    }
}

void PendingValues::setPending(const QString& text, bool failed)
{
    m_answered = false;
    m_label->setText(text);
    m_label->setStyleSheet(failed ? QStringLiteral("QLabel { color: red; }") : QString());
    m_label->show();
    for (const QPointer<QWidget>& field : qAsConst(m_fields)) {
        if (!field)
            continue;
        field->setEnabled(false);
        if (auto* box = qobject_cast<QAbstractSpinBox*>(field.data()))
            showUnknown(box);
    }
    if (m_buttons) {
        if (QPushButton* ok = m_buttons->button(QDialogButtonBox::Ok))
            ok->setEnabled(false);
    }
}

void PendingValues::setAnswered()
{
    m_answered = true;
    m_label->hide();
    for (const QPointer<QWidget>& field : qAsConst(m_fields)) {
        if (!field)
            continue;
        field->setEnabled(true);
        if (auto* box = qobject_cast<QAbstractSpinBox*>(field.data()))
            box->setSpecialValueText(m_specialTexts.value(box));
    }
    if (m_buttons) {
        // Disabled while pending, OK lost its place as the default button to Cancel: Enter
        // confirms the answered values again.
        if (QPushButton* ok = m_buttons->button(QDialogButtonBox::Ok)) {
            ok->setEnabled(true);
            ok->setDefault(true);
        }
    }
}
