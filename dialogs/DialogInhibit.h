#pragma once

#include <QDialog>

#include <memory>

class PendingValues;

namespace Ui {
class DialogInhibit;
}

// "External Inhibit Settings": what a channel (or every channel, channel -1) does when its
// external inhibit input fires. Run modally by the main window.
class DialogInhibit : public QDialog
{
    Q_OBJECT
public:
    explicit DialogInhibit(QWidget* parent = nullptr);
    ~DialogInhibit() override;

    // A negative channel stands for every channel.
    void setChannel(int channel);
    // 1 ramp down, 2 switch the channel off, 3 switch the module off; anything else: ignore.
    void setAction(int action);
    int action() const;
    // Until the values the dialog starts from were answered: "---", fields and OK disabled, and
    // `text` at the top (red when `failed`). setValuesAnswered() after the values were set.
    void setValuesPending(const QString& text, bool failed = false);
    void setValuesAnswered();
    bool valuesAnswered() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateDescription();

    Ui::DialogInhibit* ui;
    std::unique_ptr<PendingValues> pending;
    int channel = -1;
};
