#pragma once

#include <QString>

// The state of the bus behind a controller as the controller last read it: what it means and the
// plain words an operator reads. How it is shown (a bad state in red) is the window's business.
struct BusStatus
{
    enum class State {
        None,         // this kind of controller has no bus status (the VME bridges)
        Ok,           // the bus works
        NotAnswering, // the status could not be read: says nothing about the bus itself
        PoweredOff,   // the crate's main switch reads off
        Fault,        // the server reports something other than OK
    };

    State state = State::None;
    QString text;

    bool isOk() const { return state == State::Ok; }
    bool operator==(const BusStatus& other) const { return state == other.state && text == other.text; }
};
