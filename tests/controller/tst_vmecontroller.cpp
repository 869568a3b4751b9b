// The two VME bridges bound to the stand-in libraries: cycles with and without a device, which
// VM-USB is opened, the texts an operator sees, and libraries that are not there.
#include "common/VmeStandInConfig.h"

#include "controller/FatalErrorHandler.h"
#include "controller/V1718.h"
#include "controller/VmUsb.h"

#include <QLibrary>
#include <QTest>

#include <memory>

namespace {

class RecordingHandler : public FatalErrorHandler
{
public:
    void fatalError(const QString& title, const QString& text, int exitCode) override
    {
        calls << QStringList{title, text, QString::number(exitCode)};
    }
    QList<QStringList> calls;
};

// A class 20 module at 0x4000; nothing else answers on the bus.
QByteArray crate(const QByteArray& serials, bool v1718)
{
    return R"({"vmUsbSerials": )" + serials + R"(, "v1718": )" + (v1718 ? "true" : "false")
        + R"(, "modules": [{"base": "0x4000", "class": 20, "channels": 4}]})";
}

std::unique_ptr<VmeController> makeBridge(const QString& kind)
{
    if (kind == QLatin1String("vmusb"))
        return std::make_unique<VmUsb>();
    return std::make_unique<V1718>();
}

constexpr int am = VmeController::addressModifierA16;
constexpr quint32 eventMaskRegister = 0x4006;

} // namespace

class TestVmeController : public QObject
{
    Q_OBJECT

private slots:
    // Without a bridge every cycle reports the bridge's own code and reads 0.
    void cyclesWithoutDevice_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("error");
        QTest::newRow("VM-USB") << "vmusb" << -1 << "Not connected to Wiener XXUSB library!"
                                << "No VM-USB controller number 0 found!";
        QTest::newRow("V1718") << "v1718" << -3 << "CAEN VME library version "
                               << "";
    }
    void cyclesWithoutDevice()
    {
        QFETCH(QString, kind);
        QFETCH(int, code);
        QFETCH(QString, info);
        QFETCH(QString, error);
        VmeStandInConfig config;
        QVERIFY(config.write(crate("[]", false)));
        auto bridge = makeBridge(kind);
        QVERIFY(!bridge->isConnected());
        QVERIFY2(bridge->connectionInfo().startsWith(info), qPrintable(bridge->connectionInfo()));
        QCOMPARE(bridge->errorString(), error);
        int result = 1;
        QCOMPARE(bridge->read16(eventMaskRegister, am, &result), 0u);
        QCOMPARE(result, code);
        result = 1;
        QCOMPARE(bridge->write16(eventMaskRegister, am, 0x5A5A, &result), code);
        QCOMPARE(result, code);
        QCOMPARE(bridge->read16(eventMaskRegister, am, nullptr), 0u);
    }

    // Both bridges reach the module; an address nobody decodes is a bus error.
    void cyclesReachTheBus_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("VM-USB") << "vmusb";
        QTest::newRow("V1718") << "v1718";
    }
    void cyclesReachTheBus()
    {
        QFETCH(QString, kind);
        VmeStandInConfig config;
        QVERIFY(config.write(crate(R"(["VM0001A"])", true)));
        auto bridge = makeBridge(kind);
        QVERIFY(bridge->isConnected());
        int result = 1;
        QCOMPARE(bridge->write16(eventMaskRegister, am, 0x5A5A, &result), 0);
        QCOMPARE(result, 0);
        QCOMPARE(bridge->read16(eventMaskRegister, am, &result), 0x5A5Au);
        QCOMPARE(result, 0);
        QCOMPARE(bridge->read16(0x7000, am, &result), 0u);
        QVERIFY(result < 0);
        QVERIFY(bridge->write16(0x7000, am, 1, nullptr) < 0);
        QVERIFY(bridge->stringList().isEmpty());
    }

    // The first bridge the library lists is the one opened.
    void firstOfTwoVmUsbsIsOpened()
    {
        VmeStandInConfig config;
        QVERIFY(config.write(crate(R"(["VM0001A", "VM0002B"])", false)));
        VmUsb bridge;
        QVERIFY(bridge.isConnected());
        QCOMPARE(bridge.serialNumber(), QStringLiteral("VM0001A"));
        QCOMPARE(bridge.connectionInfo(), QStringLiteral("Connected to VME controller Wiener VM0001A."));
        QCOMPARE(bridge.className(), QStringLiteral("Wiener VM-USB"));
        QVERIFY(bridge.errorString().isEmpty());
    }

    // The VM-USB has no bus reset: the caller's error variable stays as it was. The V1718 resets
    // the bus; without a board it answers like every other cycle.
    void systemReset()
    {
        VmeStandInConfig config;
        QVERIFY(config.write(crate(R"(["VM0001A"])", true)));
        VmUsb usb;
        int error = 4711;
        usb.systemReset(&error);
        QCOMPARE(error, 4711);
        V1718 caen;
        QCOMPARE(caen.className(), QStringLiteral("CAEN V1718"));
        QCOMPARE(caen.systemReset(&error), 0);
        QCOMPARE(error, 0);
    }

    // Both bridges fail alike when their library is not there or lacks entries: each records
    // why (nothing ends the program from inside a controller), stays inert and answers every
    // cycle with its "no device" code. The missing libraries run in their own test entry whose
    // library path lacks the stand-ins; the incomplete ones where only those are on the path.
    void unusableLibraries_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("library");
        QTest::addColumn<int>("code");
        QTest::newRow("VM-USB") << "vmusb" << QString::fromLatin1(VmUsb::libraryName) << int(VmUsb::noDevice);
        QTest::newRow("V1718") << "v1718" << QString::fromLatin1(V1718::libraryName) << int(V1718::noBoard);
    }
    void unusableLibraries()
    {
        QFETCH(QString, kind);
        QFETCH(QString, library);
        QFETCH(int, code);
        QLibrary probe(library);
        const bool missing = !probe.load();
        if (!missing && probe.resolve(kind == QLatin1String("vmusb") ? "VME_read_16" : "CAENVME_ReadCycle"))
            QSKIP("a complete library is on this run's library path");
        RecordingHandler handler;
        FatalErrorHandler* previous = FatalErrorHandler::install(&handler);
        const std::unique_ptr<VmeController> bridge = makeBridge(kind);
        FatalErrorHandler::install(previous);
        QVERIFY(handler.calls.isEmpty());
        QVERIFY2(bridge->libraryFailure().startsWith("Error while loading shared library '")
                && bridge->libraryFailure().contains(library)
                && bridge->libraryFailure().endsWith("' or one of its dependencies!"),
            qPrintable(bridge->libraryFailure()));
        if (missing)
            QVERIFY2(bridge->errorString().contains(library), qPrintable(bridge->errorString()));
        else
            QCOMPARE(bridge->errorString(), QStringLiteral("Error while loading shared library '%1'").arg(library));
        QVERIFY(!bridge->isConnected());
        QVERIFY(!bridge->open(QString()));
        int result = 0;
        QCOMPARE(bridge->write16(eventMaskRegister, am, 0x1234, &result), code);
        QCOMPARE(result, code);
        QCOMPARE(bridge->read16(eventMaskRegister, am, &result), 0u);
        QCOMPARE(result, code);
        if (kind == QLatin1String("v1718")) {
            QCOMPARE(bridge->systemReset(&result), code);
            QCOMPARE(bridge->connectionInfo(), QStringLiteral("Not connected to CAEN VME library!"));
        } else {
            QCOMPARE(bridge->connectionInfo(), QStringLiteral("Not connected to Wiener XXUSB library!"));
        }
    }
};

QTEST_GUILESS_MAIN(TestVmeController)
#include "tst_vmecontroller.moc"
