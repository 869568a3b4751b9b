#pragma once

#include "device/Freshness.h"

#include <QList>
#include <QString>
#include <QtGlobal>

class QCheckBox;
class QWidget;

// The check boxes of a form that stand for bits of one word: every box under `parent` with the
// dynamic property "bit" (set in the form). Boxes without it ("reserved") are never touched.
// Boxes the operator edited (ToolWindow::isEdited) keep their tick through show() and
// showUnknown(); changes() tells what they ask for.
class BitBoxes
{
public:
    BitBoxes() = default;
    explicit BitBoxes(QWidget* parent);

    // Ticks each box from its bit.
    void show(quint32 word) const;
    // Unticks every box: the word is not known.
    void showUnknown() const;
    // The bits of the edited boxes: those unticked to `clearBits`, those ticked to `setBits`.
    // False when no box was edited.
    bool changes(quint32* clearBits, quint32* setBits) const;
    QList<QWidget*> editedBoxes() const;
    // `word` with the bit of every box set or cleared from the box; other bits as they are.
    quint32 applyTo(quint32 word) const;
    // Ticks or unticks every box.
    void setAll(bool ticked) const;
    const QList<QCheckBox*>& boxes() const { return m_boxes; }
    QCheckBox* box(int bit) const;

private:
    QList<QCheckBox*> m_boxes;
};

// Shows the boxes of one word by its age: stale, they are unticked (edited ones keep their tick)
// and `group` is disabled; otherwise `group` is enabled when `available`, grey while ageing.
// True when the word may be acted on (not stale).
bool showWordFreshness(const BitBoxes& boxes, QWidget* group, Freshness freshness, bool available = true);

// Boxes under `parent` that only show a word: the operator cannot tick them.
void makeDisplayOnly(QWidget* parent);

// Shows a group whose quantity the module cannot read: disabled, with " (not available)" after
// its title (`title` is the title without it).
void showAvailability(QWidget* group, const QString& title, bool available);
