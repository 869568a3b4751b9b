#include "app/DialogConnectionSettings.h"
#include "ui_DialogConnectionSettings.h"

#include <QLabel>
#include <QPushButton>

DialogConnectionSettings::DialogConnectionSettings(const SnmpConnectionSettings& stored, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogConnectionSettings)
    , m_stored(stored)
{
    ui->setupUi(this);
    QStringList overridden;
    for (int i = 0; i < SnmpConnectionSettings::fieldCount; ++i) {
        const auto field = SnmpConnectionSettings::Field(i);
        QLineEdit* const line = edit(field);
        const QString override = SnmpConnectionSettings::environmentOverride(field);
        if (override.isEmpty()) {
            line->setText(stored.value(field));
        } else {
            line->setText(override);
            // Read-only and greyed: the variable, not this dialog, decides the value.
            line->setReadOnly(true);
            line->setEnabled(false);
            line->setToolTip(tr("Set by %1; the settings file holds %2.")
                                 .arg(SnmpConnectionSettings::environmentVariable(field), stored.value(field)));
            overridden << SnmpConnectionSettings::environmentVariable(field);
        }
        connect(line, &QLineEdit::textChanged, this, &DialogConnectionSettings::showProblem);
    }
    ui->overrides->setText(overridden.isEmpty()
            ? QString()
            : tr("Read-only: set by the environment (%1), which wins over the settings file.")
                  .arg(overridden.join(QStringLiteral(", "))));
    ui->overrides->setVisible(!overridden.isEmpty());
    ui->problem->setStyleSheet(QStringLiteral("color: red"));
    showProblem();
}

DialogConnectionSettings::~DialogConnectionSettings()
{
    delete ui;
}

QLineEdit* DialogConnectionSettings::edit(SnmpConnectionSettings::Field field) const
{
    switch (field) {
    case SnmpConnectionSettings::Port:
        return ui->port;
    case SnmpConnectionSettings::ReadCommunity:
        return ui->readCommunity;
    case SnmpConnectionSettings::WriteCommunity:
        return ui->writeCommunity;
    case SnmpConnectionSettings::TimeoutMs:
        return ui->timeoutMs;
    case SnmpConnectionSettings::Retries:
        return ui->retries;
    }
    return nullptr;
}

QString DialogConnectionSettings::firstProblem() const
{
    const QLabel* const labels[] = {
        ui->portLabel, ui->readCommunityLabel, ui->writeCommunityLabel, ui->timeoutMsLabel, ui->retriesLabel};
    for (int i = 0; i < SnmpConnectionSettings::fieldCount; ++i) {
        const auto field = SnmpConnectionSettings::Field(i);
        if (edit(field)->isReadOnly())
            continue;
        const QString problem = SnmpConnectionSettings::problem(field, edit(field)->text());
        if (!problem.isEmpty()) {
            QString name = labels[i]->text().remove(QLatin1Char('&'));
            name.chop(1); // the colon
            return tr("%1: %2").arg(name, problem);
        }
    }
    return QString();
}

void DialogConnectionSettings::showProblem()
{
    const QString problem = firstProblem();
    ui->problem->setText(problem);
    ui->problem->setVisible(!problem.isEmpty());
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(problem.isEmpty());
}

SnmpConnectionSettings DialogConnectionSettings::settings() const
{
    SnmpConnectionSettings result = m_stored;
    for (int i = 0; i < SnmpConnectionSettings::fieldCount; ++i) {
        const auto field = SnmpConnectionSettings::Field(i);
        if (!edit(field)->isReadOnly())
            result.setValue(field, edit(field)->text());
    }
    return result;
}

void DialogConnectionSettings::accept()
{
    if (!firstProblem().isEmpty())
        return;
    QDialog::accept();
}
