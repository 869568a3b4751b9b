// The OPC controller bound to the stand-in client library: lists, bus status, live insertion, an
// unanswering server, and a library that is not there.
#include "common/OpcStandInConfig.h"

#include "controller/FatalErrorHandler.h"
#include "controller/OpcController.h"
#include "device/DeviceSession.h"
#include "device/OpcControllerFactory.h"

#include <QLibrary>
#include <QTest>

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

} // namespace

class TestOpcController : public QObject
{
    Q_OBJECT

private slots:
    void splitsLists_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("trailing separator")
            << QByteArray("bus0.module0;bus0.module1;") << QStringList{"bus0.module0", "bus0.module1"};
        QTest::newRow("empty parts") << QByteArray(";a;;b") << QStringList{"a", "b"};
        QTest::newRow("empty") << QByteArray("") << QStringList{};
    }
    void splitsLists()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, entries);
        QCOMPARE(OpcController::splitList(text.constData()), entries);
        QCOMPARE(OpcController::splitList(nullptr), QStringList{});
    }

    // The lists the server reports, read at construction.
    void readsModuleAndChannelLists()
    {
        OpcStandInConfig config;
        QVERIFY(config.write(
            R"({"modules": [{"name": "bus1.module2", "channels": 2}, {"name": "bus1.module5", "channels": 1}]})"));
        OpcController controller(10);
        QVERIFY(controller.open(QStringLiteral("opc")));
        QCOMPARE(controller.stringList(), (QStringList{"bus1.module2", "bus1.module5"}));
        QCOMPARE(controller.channelList(), (QStringList{"bus1.module2.ch00", "bus1.module2.ch01", "bus1.module5.ch00"}));
        QCOMPARE(controller.className(), QStringLiteral("OpcController"));
        QCOMPARE(controller.address(), QStringLiteral("opc"));
    }

    // Only exactly "OK" is a working bus; every other text, an empty one too, is a fault.
    void busStatus_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("state");
        QTest::newRow("OK") << "OK" << int(BusStatus::State::Ok);
        QTest::newRow("bus off") << "Bus off" << int(BusStatus::State::Fault);
        QTest::newRow("lower case") << "ok" << int(BusStatus::State::Fault);
        QTest::newRow("empty") << "" << int(BusStatus::State::Fault);
    }
    void busStatus()
    {
        QFETCH(QString, status);
        QFETCH(int, state);
        OpcStandInConfig config;
        QVERIFY(config.write(QStringLiteral(R"({"busStatus": "%1", "modules": []})").arg(status).toLatin1()));
        OpcController controller(200);
        QCOMPARE(controller.busStatus(), (BusStatus{BusStatus::State(state), "Bus status: " + status}));
        QCOMPARE(controller.connectionInfo(), QStringLiteral("Connected to Tesmar OPC Server."));
        QCOMPARE(controller.errorString(), QString());
        QCOMPARE(controller.libraryFailure(), QString());
    }

    // A layout the stand-in cannot use gives a server without modules that says why in red.
    void unusableLayout_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("not JSON") << QByteArray("{\"modules\": [");
        QTest::newRow("no channels") << QByteArray(R"({"modules": [{"name": "bus0.module0", "channels": 0}]})");
        QTest::newRow("name ends with a dot") << QByteArray(R"({"modules": [{"name": "bus0.module0."}]})");
        QTest::newRow("no file") << QByteArray();
    }
    void unusableLayout()
    {
        QFETCH(QByteArray, json);
        OpcStandInConfig config;
        if (json.isEmpty())
            qputenv("TESMAR_OPC_SIM_CONFIG", "/nonexistent/layout.json");
        else
            QVERIFY(config.write(json));
        OpcController controller(200);
        QVERIFY(controller.stringList().isEmpty());
        QVERIFY(controller.channelList().isEmpty());
        const BusStatus bus = controller.busStatus();
        QCOMPARE(bus.state, BusStatus::State::Fault);
        QVERIFY2(bus.text.startsWith("Bus status: Configuration error: "), qPrintable(bus.text));
    }

    void liveInsertionRoundTrip()
    {
        OpcStandInConfig config;
        QVERIFY(config.write(R"({"modules": []})"));
        OpcController controller(200);
        QVERIFY(!controller.liveInsertion());
        controller.setLiveInsertion(true);
        QVERIFY(controller.liveInsertion());
        controller.setLiveInsertion(false);
        QVERIFY(!controller.liveInsertion());
    }

    // A server that stops answering: reads fail, writes are not confirmed, errorString says so.
    void unansweredServer()
    {
        OpcStandInConfig config;
        QVERIFY(config.write(R"({"modules": []})"));
        OpcController controller(200);
        controller.opc_setBool("Simulation.Reachable", false);
        bool ok = true;
        QCOMPARE(controller.getString(QStringLiteral("Status.CAN"), &ok), QString());
        QVERIFY(!ok);
        QCOMPARE(controller.busStatus().state, BusStatus::State::NotAnswering);
        QVERIFY(!controller.errorString().isEmpty());
        QVERIFY(!controller.setBool(QStringLiteral("Status.LiveInsertionMode"), true));
        controller.opc_setBool("Simulation.Reachable", true);
        QVERIFY(!controller.liveInsertion());
        QVERIFY(controller.setBool(QStringLiteral("Status.LiveInsertionMode"), true));
        QVERIFY(controller.errorString().isEmpty());
        // An item the server does not know is not confirmed either.
        QVERIFY(!controller.setFloat(QStringLiteral("bus0.nothing"), 1.0f));
    }

    // Run by its own test entry whose library path lacks the stand-in: the controller only
    // records why it cannot work and stays inert; the session reports that once, as the end of
    // the program, and connects nothing.
    void missingLibraryEndsTheProgram()
    {
        if (QLibrary(QString::fromLatin1(OpcController::libraryName)).load())
            QSKIP("the stand-in library is on this run's library path");
        RecordingHandler handler;
        FatalErrorHandler* previous = FatalErrorHandler::install(&handler);
        {
            OpcController controller(200);
            QCOMPARE(handler.calls.size(), 0);
            QVERIFY2(controller.libraryFailure().startsWith("Error while loading shared library '")
                    && controller.libraryFailure().contains("tesmarOpcClientLibrary")
                    && controller.libraryFailure().endsWith("' or one of its dependencies!"),
                qPrintable(controller.libraryFailure()));
            QVERIFY(!controller.open(QStringLiteral("opc")));
            QVERIFY(controller.stringList().isEmpty());
            QVERIFY(!controller.setBool(QStringLiteral("Status.LiveInsertionMode"), true));
        }
        DeviceSession session(std::make_unique<OpcControllerFactory>());
        QVERIFY(!session.connectTo(QStringLiteral("opc")));
        FatalErrorHandler::install(previous);
        QCOMPARE(handler.calls.size(), 1);
        QCOMPARE(handler.calls.at(0).at(0), QStringLiteral("Tesmar SNMP Control"));
        QVERIFY(handler.calls.at(0).at(1).contains("tesmarOpcClientLibrary"));
        QVERIFY2(handler.calls.at(0).at(1).endsWith("' or one of its dependencies!\n\nProgram will be terminated."),
            qPrintable(handler.calls.at(0).at(1)));
        QCOMPARE(handler.calls.at(0).at(2), QStringLiteral("1"));
        QVERIFY(session.controller() == nullptr);
        QVERIFY(session.modules().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestOpcController)
#include "tst_opccontroller.moc"
