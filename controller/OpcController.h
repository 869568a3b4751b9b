#pragma once

#include "controller/BaseController.h"
#include "snmplib/interfaces/OpcClientEntryPoints.h"

#include <QString>
#include <QStringList>

// Controller of modules and a crate behind an OPC server, reached through the run-time library
// "tesmarOpcClientLibrary". Construction loads and binds the library, opens the connection
// (opc_init) and reads the server's module and channel item lists once. A library that does not
// load or lacks an entry point leaves the controller inert (libraryFailure() says why): reads
// answer as unanswered reads, writes are refused and open() fails.
//
// Modules and crates read and write named items through the typed accessors below, which lock
// mutex() for each call, so a text the library returns is copied out before another thread can
// overwrite it. Locked inside; callable from any thread.
class OpcController : public BaseController
{
public:
    static constexpr const char* libraryName = "tesmarOpcClientLibrary";
    // The library's update interval is never set below this.
    static constexpr int minimumUpdateIntervalMs = 50;

    explicit OpcController(int updateIntervalMs);
    ~OpcController() override;

    // The server is the library's: the address is only recorded. True when the library was bound
    // and its connection opened.
    bool open(const QString& address) override;
    QString address() override;
    // "Status.LiveInsertionMode".
    void setLiveInsertion(bool on) override;
    bool liveInsertion() override;
    // From "Status.CAN": Ok for exactly "OK", Fault for any other text (an empty one too), both
    // as "Bus status: <text>"; NotAnswering when the server did not answer the read.
    BusStatus busStatus() override;
    // "no answer" when the latest read through this controller was not answered, otherwise
    // empty.
    QString errorString() override;
    QString className() override;
    // "Connected to Tesmar OPC Server."
    QString connectionInfo() override;
    // The module list.
    QStringList stringList() override;

    // Item lists as the server reported them at construction.
    QStringList moduleList() const { return m_moduleList; }
    QStringList channelList() const { return m_channelList; }
    bool isLibraryReady() const { return m_libraryReady; }

    // A ';'-separated list without its empty parts.
    static QStringList splitList(const char* text);

    // Reads of one item; `ok` (may be null) tells whether the server answered. An unanswered read
    // gives what the library gave (0, false, empty).
    bool getBool(const QString& item, bool* ok = nullptr);
    quint8 getByte(const QString& item, bool* ok = nullptr);
    quint16 getUnsignedShort(const QString& item, bool* ok = nullptr);
    quint32 getUnsignedLong(const QString& item, bool* ok = nullptr);
    float getFloat(const QString& item, bool* ok = nullptr);
    QString getString(const QString& item, bool* ok = nullptr);

    // Writes of one item. The library's setters report nothing, so each write is followed by a
    // read of the same item: true when the server answered it (the write reached a server that
    // knows the item), false when it did not or the library lacks the entry. `readBack` (may be
    // null) gets the value that read gave when it was answered: whether the server took the
    // value is the caller's judgement.
    bool setBool(const QString& item, bool value);
    bool setByte(const QString& item, quint8 value);
    bool setUnsignedShort(const QString& item, quint16 value);
    bool setUnsignedLong(const QString& item, quint32 value);
    bool setFloat(const QString& item, float value, float* readBack = nullptr);

    // Library entry points; null when not resolved.
#define TESMAR_OPC_ENTRY_MEMBER(name, result, parameters) OpcEntry_##name name = nullptr;
    TESMAR_OPC_ENTRY_POINTS(TESMAR_OPC_ENTRY_MEMBER)
#undef TESMAR_OPC_ENTRY_MEMBER

private:
    void bindLibrary(int updateIntervalMs);
    template <typename Getter>
    auto read(Getter getter, const QString& item, bool* ok);
    template <typename Setter, typename Getter, typename Value>
    bool write(Setter setter, Getter getter, const QString& item, Value value, Value* readBack);

    QString m_address;
    QStringList m_moduleList;
    QStringList m_channelList;
    bool m_libraryReady = false;
    bool m_lastReadFailed = false;
};
