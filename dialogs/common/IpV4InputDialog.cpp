#include "dialogs/common/IpV4InputDialog.h"

#include "dialogs/common/IpV4Validator.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

IpV4InputDialog::IpV4InputDialog(QWidget* parent)
    : QDialog(parent)
    , m_label(new QLabel(tr("Enter IP Address:"), this))
    , m_lineEdit(new QLineEdit(this))
    , m_layout(new QVBoxLayout(this))
    , m_okButton(new QPushButton(tr("Ok"), this))
    , m_cancelButton(new QPushButton(tr("Cancel"), this))
    , m_buttonLayout(new QHBoxLayout)
{
    setObjectName(QStringLiteral("IpV4InputDialog"));
    m_label->setObjectName(QStringLiteral("label"));
    m_lineEdit->setObjectName(QStringLiteral("lineEdit"));
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));

    m_label->setTextFormat(Qt::RichText);
    m_label->setWordWrap(true);
    m_lineEdit->setValidator(new IpV4Validator(m_lineEdit));

    m_layout->addWidget(m_label);
    m_layout->addWidget(m_lineEdit);
    m_buttonLayout->addWidget(m_okButton);
    m_buttonLayout->addWidget(m_cancelButton);
    m_layout->addLayout(m_buttonLayout);

    setMinimumWidth(380);
    m_okButton->setDefault(true);
    m_okButton->setEnabled(false);

    connect(m_lineEdit, &QLineEdit::textChanged, this, &IpV4InputDialog::addressChanged);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void IpV4InputDialog::setLabelText(const QString& text)
{
    m_label->setText(text);
}

void IpV4InputDialog::setAddress(const QString& address)
{
    m_lineEdit->setText(address);
    // setText with the text already shown emits no change; keep the button state right anyway.
    addressChanged(address);
}

QString IpV4InputDialog::address() const
{
    return m_lineEdit->text();
}

void IpV4InputDialog::addressChanged(const QString& /*address*/)
{
    m_okButton->setEnabled(m_lineEdit->hasAcceptableInput());
}
