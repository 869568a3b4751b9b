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
    ui->txtLog->clear();
    QDialog::showEvent(event);
}

void DialogWriteProfile::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
