#pragma once

#include <QList>

class BaseModule;
struct ChannelReading;
struct ModuleSnapshot;

// Smallest and largest |nominal| voltage or current over some channels of one channel read:
// the limits a prompt offers. `found` is false when a channel was not reached by that read, so
// a limit never comes from a read that failed.
struct NominalRange
{
    float smallest = 0.0f;
    float largest = 0.0f;
    bool found = false;

    void add(const ChannelReading& reading, bool voltage);
    // Widens this range by `other` (found).
    void merge(const NominalRange& other);
    static NominalRange of(const ModuleSnapshot& snapshot, const QList<int>& channels, bool voltage);
    // Over the channels of the read that it reached (found when it reached any).
    static NominalRange ofReached(const ModuleSnapshot& snapshot, bool voltage);
    // Read from the module now (device side). A 0 is no nominal value: a channel whose read
    // failed adds nothing.
    static NominalRange readFrom(BaseModule& module, bool voltage);
};
