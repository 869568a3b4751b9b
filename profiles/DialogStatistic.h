#pragma once

#include "dialogs/common/ToolWindow.h"
#include "dialogs/common/UserDialogs.h"

#include <QString>
#include <QVector>

#include <memory>

namespace Ui {
class DialogStatistic;
}

class QFile;

// Records measured voltages and currents with the module temperature into a semicolon-separated
// text file, from the snapshots the poller publishes of every module while the window is shown
// (it reads nothing itself). All channels of every module that reports (one line per module and
// read) or one channel number of every module. "Once" records the latest read of every module at
// the next tick of the window.
//
// A line holds only values that were read, with the time of that read, in the units the module
// shows: a channel whose read failed leaves its fields empty; a read that is stale or in other
// units is not written; the same read published twice is written once. Each line reaches the
// file with a single write, so an abrupt end leaves only complete lines.
class DialogStatistic : public ToolWindow
{
    Q_OBJECT
public:
    static constexpr int maxModules = 64;

    explicit DialogStatistic(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogStatistic() override;

    // Channels per line in the all-channels header; also the channel spin box's range.
    void setChannelCount(int count);
    // Where the file chooser and the warning go (not owned; null: real dialogs).
    void setUserDialogs(UserDialogs* dialogs);
    bool recording() const;
    quint64 linesWritten() const;

    // A snapshot of `module`: its line while recording (see above), and its temperature.
    void showAnyModuleSnapshot(BaseModule* module, const ModuleSnapshot& snapshot, qint64 nowMs) override;

public slots:
    void on_btnSelectFile_clicked();
    void on_btnStart_clicked();
    void on_btnStop_clicked();
    void on_pushButtonOnce_clicked();
    void on_chkAllChannels_clicked();
    void on_chkSingleChannel_clicked();
    void on_txtFilename_textChanged(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // The tick on which a pending "Once" records.
    void showFreshness(qint64 nowMs) override;

private:
    struct ModuleSlot
    {
        int serialNumber = 0;
        float temperature = 0.0f;
        qint64 lastWrittenReadAtMs = -1;
    };

    // The module's slot, allocated at its first report; null when all slots are taken.
    ModuleSlot* slotOf(int serialNumber);
    // The display text as a number without the locale's group separator.
    static QString fieldText(const QString& text);
    void startRecording();
    void stopRecording();
    void closeFile();
    void writeLine(const QString& line);
    void setRecordingControls(bool recording);

    Ui::DialogStatistic* ui;
    UserDialogs m_ownDialogs;
    UserDialogs* m_dialogs = &m_ownDialogs;
    std::unique_ptr<QFile> m_file;
    QVector<ModuleSlot> m_slots;
    int m_channelCount = 0;
    quint64 m_linesWritten = 0;
    bool m_once = false;
};
