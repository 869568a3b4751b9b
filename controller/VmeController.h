#pragma once

#include "controller/BaseController.h"

#include <QtGlobal>

// A bridge to a VME bus: adds to the controller interface the three bus cycles a VME module
// needs. The controllers know nothing of module registers; all register traffic of a module goes
// through these primitives.
//
// Result codes: 0 is success, a negative code a failure; `error` may be null in all three, and
// when given receives the same code.
class VmeController : public BaseController
{
public:
    // A16 non-privileged data access: the only address space the modules decode.
    static constexpr int addressModifierA16 = 0x29;

    virtual int systemReset(int* error) = 0;
    virtual int write16(quint32 address, int addressModifier, quint32 data, int* error) = 0;
    virtual quint32 read16(quint32 address, int addressModifier, int* error) = 0;

    // A bridge has no address to open: it was opened when the controller was made. Answers
    // whether the bridge is there (isConnected()); `address` is ignored.
    bool open(const QString& address) override;
    QString className() override;
    QStringList stringList() override;
    bool isConnected() override;
};
