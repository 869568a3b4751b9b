#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class DialogWriteProfile;
}

// Preview and confirmation of a profile load: the main window logs what it will write, the
// operator answers Ok (write it) or Cancel. The same window then shows the write procedure's
// log and progress; Cancel (or closing the window) then asks to stop the write
// (cancelWriteRequested()) instead of closing. Each showing starts with an empty log.
class DialogWriteProfile : public QDialog
{
    Q_OBJECT
public:
    explicit DialogWriteProfile(QWidget* parent = nullptr);
    ~DialogWriteProfile() override;

    QString logText() const;
    // After Ok: shows the window again with the preview kept, so the write's log follows it; Ok
    // stays disabled and Cancel stops the write until writeFinished() enables Ok to close the
    // window.
    void showWriting();
    void setWriteProgress(int done, int total);
    void writeFinished();
    bool isWriting() const { return m_writing; }

signals:
    void cancelWriteRequested();

public slots:
    // Appends `line` and a line feed to the log.
    void addToLog(QString line);
    void on_btnOK_clicked();
    void on_btnCancel_clicked();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Ui::DialogWriteProfile* ui;
    bool m_keepLog = false;
    bool m_writing = false;
};
