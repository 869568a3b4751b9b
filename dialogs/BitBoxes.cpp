#include "BitBoxes.h"

#include "dialogs/common/ToolWindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>

BitBoxes::BitBoxes(QWidget* parent)
{
    const QList<QCheckBox*> all = parent->findChildren<QCheckBox*>();
    for (QCheckBox* box : all) {
        if (box->property("bit").isValid())
            m_boxes.append(box);
    }
}

void BitBoxes::show(quint32 word) const
{
    for (QCheckBox* box : m_boxes) {
        if (!ToolWindow::isEdited(box))
            box->setChecked(word & (1u << box->property("bit").toInt()));
    }
}

void BitBoxes::showUnknown() const
{
    for (QCheckBox* box : m_boxes) {
        if (!ToolWindow::isEdited(box))
            box->setChecked(false);
    }
}

bool BitBoxes::changes(quint32* clearBits, quint32* setBits) const
{
    *clearBits = 0;
    *setBits = 0;
    bool any = false;
    for (QCheckBox* box : m_boxes) {
        if (!ToolWindow::isEdited(box))
            continue;
        any = true;
        const quint32 bit = 1u << box->property("bit").toInt();
        (box->isChecked() ? *setBits : *clearBits) |= bit;
    }
    return any;
}

QList<QWidget*> BitBoxes::editedBoxes() const
{
    QList<QWidget*> edited;
    for (QCheckBox* box : m_boxes) {
        if (ToolWindow::isEdited(box))
            edited.append(box);
    }
    return edited;
}

quint32 BitBoxes::applyTo(quint32 word) const
{
    for (QCheckBox* box : m_boxes) {
        const quint32 bit = 1u << box->property("bit").toInt();
        word = box->isChecked() ? (word | bit) : (word & ~bit);
    }
    return word;
}

void BitBoxes::setAll(bool ticked) const
{
    for (QCheckBox* box : m_boxes)
        box->setChecked(ticked);
}

QCheckBox* BitBoxes::box(int bit) const
{
    for (QCheckBox* box : m_boxes) {
        if (box->property("bit").toInt() == bit)
            return box;
    }
    return nullptr;
}

bool showWordFreshness(const BitBoxes& boxes, QWidget* group, Freshness freshness, bool available)
{
    const bool known = freshness != Freshness::Stale;
    if (!known)
        boxes.showUnknown();
    group->setEnabled(known && available);
    ToolWindow::showAgeing(group, freshness == Freshness::Ageing);
    return known;
}

void makeDisplayOnly(QWidget* parent)
{
    const QList<QCheckBox*> all = parent->findChildren<QCheckBox*>();
    for (QCheckBox* box : all) {
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
    }
}

void showAvailability(QWidget* group, const QString& title, bool available)
{
    group->setEnabled(available);
    const QString text = available ? title : QCoreApplication::translate("BitBoxes", "%1 (not available)").arg(title);
    if (auto* box = qobject_cast<QGroupBox*>(group))
        box->setTitle(text);
}
