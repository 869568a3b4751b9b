#include "controller/OpcController.h"

#include "controller/LibraryBinding.h"
#include "controller/LogCategories.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibrary>

#include <mutex>

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

QString translate(const char* text)
{
    return QCoreApplication::translate("OpcController", text);
}

QByteArray itemName(const QString& item)
{
    return item.toLatin1();
}

} // namespace

OpcController::OpcController(int updateIntervalMs)
{
    bindLibrary(updateIntervalMs);
}

OpcController::~OpcController()
{
    Lock lock(mutex());
    if (m_libraryReady && opc_quit)
        opc_quit();
}

void OpcController::bindLibrary(int updateIntervalMs)
{
    // A local binding: destroying it does not unload the library, so the resolved pointers stay
    // valid for the program's life.
    LibraryBinding binding(QString::fromLatin1(libraryName), lcOpc());
    if (binding.load()) {
#define TESMAR_OPC_BIND(name, result, parameters) binding.resolve(#name, name);
        TESMAR_OPC_ENTRY_POINTS(TESMAR_OPC_BIND)
#undef TESMAR_OPC_BIND
    }
    if (!binding.isComplete()) {
        recordLibraryFailure(binding.failure());
        binding.unload();
        // Nothing of a library that may be gone is called again.
#define TESMAR_OPC_CLEAR(name, result, parameters) name = nullptr;
        TESMAR_OPC_ENTRY_POINTS(TESMAR_OPC_CLEAR)
#undef TESMAR_OPC_CLEAR
        return;
    }
    opc_init(qMax(minimumUpdateIntervalMs, updateIntervalMs));
    m_libraryReady = true;

    bool ok = false;
    m_moduleList = splitList(opc_getModuleList ? opc_getModuleList(&ok) : nullptr);
    qCDebug(lcOpc).noquote() << "Modules" << m_moduleList.join(QLatin1Char(' '));
    m_channelList = splitList(opc_getChannelList ? opc_getChannelList(&ok) : nullptr);
    qCDebug(lcOpc).noquote() << "Channels" << m_channelList.join(QLatin1Char(' '));
}

QStringList OpcController::splitList(const char* text)
{
    return QString::fromLatin1(text ? text : "").split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

template <typename Getter>
auto OpcController::read(Getter getter, const QString& item, bool* ok)
{
    Lock lock(mutex());
    bool answered = false;
    using Result = decltype(getter(nullptr, &answered));
    Result value{};
    if (m_libraryReady && getter)
        value = getter(itemName(item).constData(), &answered);
    m_lastReadFailed = !answered;
    if (ok)
        *ok = answered;
    return value;
}

template <typename Setter, typename Getter, typename Value>
bool OpcController::write(Setter setter, Getter getter, const QString& item, Value value, Value* readBack)
{
    Lock lock(mutex());
    if (!m_libraryReady || !setter)
        return false;
    setter(itemName(item).constData(), value);
    bool answered = false;
    const Value back = Value(read(getter, item, &answered));
    if (answered && readBack)
        *readBack = back;
    return answered;
}

bool OpcController::getBool(const QString& item, bool* ok)
{
    return read(opc_getBool, item, ok);
}

quint8 OpcController::getByte(const QString& item, bool* ok)
{
    return read(opc_getByte, item, ok);
}

quint16 OpcController::getUnsignedShort(const QString& item, bool* ok)
{
    return read(opc_getUnsignedShort, item, ok);
}

quint32 OpcController::getUnsignedLong(const QString& item, bool* ok)
{
    return read(opc_getUnsignedLong, item, ok);
}

float OpcController::getFloat(const QString& item, bool* ok)
{
    return read(opc_getFloat, item, ok);
}

QString OpcController::getString(const QString& item, bool* ok)
{
    Lock lock(mutex());
    const char* text = read(opc_getString, item, ok);
    return QString::fromLatin1(text ? text : "");
}

bool OpcController::setBool(const QString& item, bool value)
{
    return write(opc_setBool, opc_getBool, item, value, static_cast<bool*>(nullptr));
}

bool OpcController::setByte(const QString& item, quint8 value)
{
    return write(opc_setByte, opc_getByte, item, value, static_cast<quint8*>(nullptr));
}

bool OpcController::setUnsignedShort(const QString& item, quint16 value)
{
    return write(opc_setUnsignedShort, opc_getUnsignedShort, item, value, static_cast<quint16*>(nullptr));
}

bool OpcController::setUnsignedLong(const QString& item, quint32 value)
{
    return write(opc_setUnsignedLong, opc_getUnsignedLong, item, value, static_cast<quint32*>(nullptr));
}

bool OpcController::setFloat(const QString& item, float value, float* readBack)
{
    return write(opc_setFloat, opc_getFloat, item, value, readBack);
}

bool OpcController::open(const QString& address)
{
    Lock lock(mutex());
    m_address = address;
    return m_libraryReady;
}

QString OpcController::address()
{
    Lock lock(mutex());
    return m_address;
}

void OpcController::setLiveInsertion(bool on)
{
    setBool(QStringLiteral("Status.LiveInsertionMode"), on);
}

bool OpcController::liveInsertion()
{
    return getBool(QStringLiteral("Status.LiveInsertionMode"));
}

BusStatus OpcController::busStatus()
{
    bool answered = false;
    const QString status = getString(QStringLiteral("Status.CAN"), &answered);
    if (!answered)
        return {BusStatus::State::NotAnswering, translate("Server does not answer!")};
    const QString text = translate("Bus status: ") + status;
    if (status == QLatin1String("OK"))
        return {BusStatus::State::Ok, text};
    return {BusStatus::State::Fault, text};
}

QString OpcController::errorString()
{
    Lock lock(mutex());
    return m_lastReadFailed ? QStringLiteral("no answer") : QString();
}

QString OpcController::className()
{
    return QStringLiteral("OpcController");
}

QString OpcController::connectionInfo()
{
    return translate("Connected to Tesmar OPC Server.");
}

QStringList OpcController::stringList()
{
    return m_moduleList;
}
