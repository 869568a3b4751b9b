#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QHBoxLayout;

// Asks for a dotted IPv4 address. OK is enabled only while the text is a complete address.
// The caller sets the window title.
class IpV4InputDialog : public QDialog
{
    Q_OBJECT

public:
    explicit IpV4InputDialog(QWidget* parent = nullptr);

    // Rich text shown above the address field.
    void setLabelText(const QString& text);
    void setAddress(const QString& address);
    QString address() const;

private slots:
    void addressChanged(const QString& address);

private:
    QLabel* m_label;
    QLineEdit* m_lineEdit;
    QVBoxLayout* m_layout;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
    QHBoxLayout* m_buttonLayout;
};
