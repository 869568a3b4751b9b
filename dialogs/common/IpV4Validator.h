#pragma once

#include <QValidator>

// Accepts a dotted IPv4 address "a.b.c.d" with each part a decimal number from 0 to 255.
// While the user types, incomplete addresses ("192.168.", "10..1") are Intermediate.
class IpV4Validator : public QValidator
{
    Q_OBJECT

public:
    explicit IpV4Validator(QObject* parent = nullptr);

    State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
};
