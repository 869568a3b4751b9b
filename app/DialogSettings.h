#pragma once

#include <QDialog>
#include <QList>

class BaseModule;

namespace Ui {
class DialogSettings;
}

// Edits the display resolution of the current module ("Settings..." of the Module menu). On OK
// it saves a Resolution at the chosen scope; editModuleResolution() runs the whole flow.
class DialogSettings : public QDialog
{
    Q_OBJECT
public:
    explicit DialogSettings(QWidget* parent = nullptr);
    ~DialogSettings() override;

    void setUseControllerUnits(bool value);
    void setVoltageUnit(const QString& unit);
    void setVoltagePrecision(int precision);
    void setCurrentUnit(const QString& unit);
    void setCurrentPrecision(int precision);
    void setFirmwareName(const QString& name);
    void setSerialNumber(int serialNumber);

    bool useControllerUnits() const;
    QString voltageUnit() const;
    int voltagePrecision() const;
    QString currentUnit() const;
    int currentPrecision() const;
    // 0 all modules, 1 modules with the firmware name, 2 the module with the serial number.
    int scope() const;

    // Fills a dialog from `current`, runs it; on OK saves, sets the current module's connection
    // state to unknown (so its table is set up again) and applies the values to every module of
    // `modules` with the same firmware name (firmware-name scope) or to `current` only.
    // Returns whether the user confirmed.
    static bool editModuleResolution(QWidget* parent, BaseModule* current, const QList<BaseModule*>& modules);
    // The part after the dialog closed with OK; separate so it can run without a window.
    static void applyToModules(const DialogSettings& dialog, BaseModule* current, const QList<BaseModule*>& modules);

public slots:
    void accept() override;

private slots:
    void on_controllerSettings_clicked();
    void on_userSettings_clicked();

private:
    void updateFormatGroups();

    Ui::DialogSettings* ui;
    QString m_firmwareName;
    int m_serialNumber = 0;
};
