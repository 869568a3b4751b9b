#pragma once

#include <QDialog>

#include <memory>

class PendingValues;

namespace Ui {
class DialogSetUserNominalValues;
}

// "Set User Nominal Values": a plain form for a channel's user nominal voltage and current
// (below the hardware nominal values). The main window fills it and writes what was accepted.
class DialogSetUserNominalValues : public QDialog
{
    Q_OBJECT
public:
    explicit DialogSetUserNominalValues(QWidget* parent = nullptr);
    ~DialogSetUserNominalValues() override;

    // Decimals first: they round the maximum and the value.
    void setVoltageDecimals(int decimals);
    void setVoltageMaximum(double maximum);
    void setVoltageNominal(double value);
    void setVoltageUnit(const QString& unit);
    double voltageNominal() const;
    void setCurrentDecimals(int decimals);
    void setCurrentMaximum(double maximum);
    void setCurrentNominal(double value);
    void setCurrentUnit(const QString& unit);
    double currentNominal() const;
    // Until the values the dialog starts from were answered: "---", fields and OK disabled, and
    // `text` at the top (red when `failed`). setValuesAnswered() after the values were set.
    void setValuesPending(const QString& text, bool failed = false);
    void setValuesAnswered();
    bool valuesAnswered() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    Ui::DialogSetUserNominalValues* ui;
    std::unique_ptr<PendingValues> pending;
};
