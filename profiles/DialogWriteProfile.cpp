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
    m_writing = true;
    ui->btnOK->setEnabled(false);
    ui->btnCancel->setEnabled(true);
    ui->progressBar->setValue(0);
    ui->progressBar->setVisible(true);
    show();
    m_keepLog = false;
}

void DialogWriteProfile::setWriteProgress(int done, int total)
{
    ui->progressBar->setMaximum(qMax(1, total));
    ui->progressBar->setValue(done);
}

void DialogWriteProfile::writeFinished()
{
    m_writing = false;
    ui->btnOK->setEnabled(true);
    ui->btnCancel->setEnabled(false);
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

void DialogWriteProfile::reject()
{
    // While writing, the window stays: it shows how the write ends.
    if (m_writing) {
        ui->btnCancel->setEnabled(false);
        emit cancelWriteRequested();
        return;
    }
    QDialog::reject();
}

void DialogWriteProfile::showEvent(QShowEvent* event)
{
    if (!m_keepLog) {
        ui->txtLog->clear();
        ui->btnOK->setEnabled(true);
        ui->btnCancel->setEnabled(true);
        ui->progressBar->setVisible(false);
    }
    QDialog::showEvent(event);
}

void DialogWriteProfile::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
