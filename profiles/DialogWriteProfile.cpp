#include "DialogWriteProfile.h"

#include "ui_DialogWriteProfile.h"

#include <QEvent>
#include <QTextCursor>

DialogWriteProfile::DialogWriteProfile(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogWriteProfile)
{
    ui->setupUi(this);
}

DialogWriteProfile::~DialogWriteProfile()
{
    delete ui;
}

QString DialogWriteProfile::logText() const
{
    return ui->txtLog->toPlainText();
}

void DialogWriteProfile::showWriting()
{
    m_keepLog = true;
    ui->btnOK->setEnabled(false);
    ui->btnCancel->setEnabled(false);
    show();
    m_keepLog = false;
}

void DialogWriteProfile::writeFinished()
{
    ui->btnOK->setEnabled(true);
}

void DialogWriteProfile::addToLog(QString line)
{
    // At the end whatever the operator clicked into: the log stays in order.
    QTextCursor cursor = ui->txtLog->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line + QLatin1Char('\n'));
    ui->txtLog->setTextCursor(cursor);
    ui->txtLog->ensureCursorVisible();
}

void DialogWriteProfile::on_btnOK_clicked()
{
    accept();
}

void DialogWriteProfile::on_btnCancel_clicked()
{
    reject();
}

void DialogWriteProfile::showEvent(QShowEvent* event)
{
    if (!m_keepLog) {
        ui->txtLog->clear();
        ui->btnOK->setEnabled(true);
        ui->btnCancel->setEnabled(true);
    }
    QDialog::showEvent(event);
}

void DialogWriteProfile::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
