#pragma once

#include <QDialog>

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

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateDescription();

    Ui::DialogInhibit* ui;
    int channel = -1;
};
