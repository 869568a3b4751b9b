#pragma once

#include "controller/SnmpConnectionSettings.h"

#include <QDialog>

class QLineEdit;

namespace Ui {
class DialogConnectionSettings;
}

// Edits the SNMP connection settings of the settings file ("Connection Settings..." beside
// Select Controller). A value an environment variable overrides is shown read-only with the
// variable's value; OK is refused (with the reason beside) while a field is out of range. The
// caller saves what settings() returns; the program uses it at its next connect.
class DialogConnectionSettings : public QDialog
{
    Q_OBJECT
public:
    explicit DialogConnectionSettings(const SnmpConnectionSettings& stored, QWidget* parent = nullptr);
    ~DialogConnectionSettings() override;

    // The file's values as edited (overridden fields keep their stored value).
    SnmpConnectionSettings settings() const;

public slots:
    void accept() override;

private:
    QLineEdit* edit(SnmpConnectionSettings::Field field) const;
    // The first field that is not valid and why, "" when all are.
    QString firstProblem() const;
    void showProblem();

    Ui::DialogConnectionSettings* ui;
    SnmpConnectionSettings m_stored;
};
