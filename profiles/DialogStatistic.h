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
// text file, from the main window's update signals (it reads nothing itself). All channels of
// every module that reports (one line per module and read) or one channel number of every module.
//
// A line holds only values that were read: the values of one read of a module arrive as update
// signals followed by updateModuleChannelsRead, which writes the line with the time of that read.
// A channel whose read failed leaves its fields empty; the same read shown twice is written once.
// Each line reaches the file with a single write, so an abrupt end leaves only complete lines.
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

public slots:
    void updateChannelVoltageMeasure(int serialNumber, int channel, QString value);
    void updateChannelCurrentMeasure(int serialNumber, int channel, QString value);
    void updateModuleTemperature(int serialNumber, int index, float temperature);
    // The end of one read's values of a module; readAtMs on ModuleSnapshot::nowMs()'s clock.
    void updateModuleChannelsRead(int serialNumber, int channelCount, qint64 readAtMs);
    void updateAllModulesStarted();
    void updateAllModulesCompleted();

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

private:
    struct ModuleSlot
    {
        int serialNumber = 0;
        float temperature = 0.0f;
        // Texts of the read in progress; emptied when its line is written.
        QVector<QString> voltages;
        QVector<QString> currents;
        qint64 lastWrittenReadAtMs = -1;
    };

    // The module's slot, allocated at its first report; null when all slots are taken.
    ModuleSlot* slotOf(int serialNumber);
    void store(int serialNumber, int channel, const QString& value, bool voltage);
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
