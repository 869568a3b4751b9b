#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <mutex>

// The in-process OPC server behind the stand-in "tesmarOpcClientLibrary": a store of named,
// typed items (a bus status, the live-insertion mode, one crate, modules with channels) with
// the simple behaviour of a crate: channel on and emergency-off bits and the module masks that
// mirror them, measured voltage following the set voltage while a channel is on, measured
// current from a load, an emergency off raising the channel's event, events cleared by writing
// ones, variable groups, unit properties "#100".
//
// The layout comes from a JSON file (see README, "The stand-in OPC server"); without one a
// built-in server with two modules. Thread-safe: every call locks the store.
class OpcStandInServer
{
public:
    enum class Type { Bool, Byte, Word, Long, Float, Text };

    // Loads the layout from `configPath` (empty: the built-in one). A file that cannot be read
    // or parsed gives a server without modules whose bus status names the error (also printed on
    // standard error).
    void load(const QString& configPath);
    void clear();

    // One item's value as a number or a text; false when the server does not answer (unknown
    // item, or the server made unreachable through "Simulation.Reachable").
    bool readNumber(const QByteArray& item, double* value);
    bool readText(const QByteArray& item, QByteArray* text);
    // Writes to unknown items and to an unreachable server are lost, as on a network.
    void write(const QByteArray& item, double value);
    bool moduleList(QByteArray* text);
    bool channelList(QByteArray* text);

private:
    struct Item
    {
        Type type = Type::Float;
        double number = 0;
        QByteArray text;
    };
    struct Module
    {
        QByteArray name; // item prefix without the final '.'
        int channels = 0;
        bool measurement = false;
        double voltsPerUnit = 1;   // server voltage unit in volts
        double amperesPerUnit = 1; // server current unit in amperes
        double loadOhms = 10e6;
        double signalVolts = 0;
        quint32 groupVariables[32] = {};
    };

    bool loadJson(const QByteArray& json, QString* error);
    void addItem(const QByteArray& name, Type type, double number = 0, const QByteArray& text = {});
    QByteArray channelItem(const Module& module, int channel, const char* suffix) const;
    double number(const QByteArray& item) const;
    void setNumber(const QByteArray& item, double value);
    // Side effects of a write that the store alone does not give.
    bool applyWrite(const QByteArray& item, double value);
    // Sets a channel's emergency off; switching it on raises the channel's emergency event.
    void setEmergency(const Module& module, int channel, bool set);
    // Derived items (measured values, status words, module masks) from the written ones.
    void update();
    bool reachable() const;

    std::mutex m_mutex;
    QHash<QByteArray, Item> m_items;
    QVector<Module> m_modules;
    QByteArray m_crate;
};
