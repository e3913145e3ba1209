// SPDX-License-Identifier: GPL-3.0-or-later
// The bus object over real D-Bus (a private bus), with the real Node on a fake network; then the program
// itself: how it refuses to start and how it ends. Runs in a private network namespace (netns.sh).
#include "DataRow.h"
#include "EchoLinkBus.h"
#include "FakeNetwork.h"
#include "InteropRig.h"
#include "Packets.h"
#include "StationBus.h"
#include "StationHarness.h"

#include <QDBusPendingCallWatcher>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>

namespace {

const QString Service = QString::fromLatin1(EchoLinkBus::Service);
const QString Path = QString::fromLatin1(EchoLinkBus::ObjectPath);
const QString Interface = QString::fromLatin1(EchoLinkBus::Interface);

// Our interface's element in an introspection document, whitespace runs made one space.
QString interfaceText(const QString& xml) {
    static const QRegularExpression element(QStringLiteral("<interface name=\"%1\">.*?</interface>").arg(Interface),
                                            QRegularExpression::DotMatchesEverythingOption);
    return element.match(xml).captured().simplified();
}

} // namespace

class TestStationBus : public QObject {
    Q_OBJECT
    e2e::PrivateBus bus_;
    QDBusConnection server_{QString()};
    QDBusConnection client_{QString()};
    FakeTransport transport_;
    FakeDirectory directory_;
    FakeAudioSource source_;
    FakeAudioSink sink_;
    std::unique_ptr<Node> node_;
    std::unique_ptr<StationBus> object_;
    QTemporaryDir dir_;

    QDBusMessage request(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, Interface, method);
        message.setArguments(arguments);
        return message;
    }
    // Parlevox's client gives a station 3 s to answer; so do these calls.
    QDBusMessage call(const QString& method, const QVariantList& arguments = {}) {
        return client_.call(request(method, arguments), QDBus::BlockWithGui, 3000);
    }

private slots:
    void initTestCase() {
        QString error;
        QVERIFY2(bus_.start(&error), qPrintable(error));
        server_ = bus_.connect();
        client_ = bus_.connect();
        QVERIFY(server_.isConnected() && client_.isConnected());
        QVERIFY(server_.registerService(Service));
    }
    void init() {
        directory_.stations.clear();
        directory_.listed = true;
        directory_.autoAnswer = true;
        node_ = std::make_unique<Node>(
            NodeConfig{QStringLiteral("QA1OWN"), QStringLiteral("Own"), QString(), 4, AcceptPolicy::Any}, transport_,
            directory_, source_, sink_);
        object_ = std::make_unique<StationBus>(*node_);
        QVERIFY(server_.registerObject(Path, object_.get(),
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    }
    void cleanup() {
        server_.unregisterObject(Path);
        object_.reset();
        node_.reset();
    }

    void introspection_equalsTheInterfaceXml() {
        QFile file(QFINDTESTDATA("../../src/platform/org.parlevox.EchoLink.xml"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString expected = interfaceText(QString::fromUtf8(file.readAll()));
        QVERIFY(expected.contains(QStringLiteral("<arg name=\"sCallConnected\" type=\"s\"/>")));
        const QDBusMessage reply = client_.call(
            QDBusMessage::createMethodCall(Service, Path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                           QStringLiteral("Introspect")),
            QDBus::BlockWithGui, 3000);
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(interfaceText(reply.arguments().value(0).toString()), expected);
    }

    void refusal_isErrorWithNodesNameAndMessage_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("arguments");
        QTest::addColumn<QString>("errorName");
        QTest::addColumn<QString>("message");
        const QString refused = QString::fromLatin1(EchoLinkBus::ErrorRefused);
        const QString notConnected = QString::fromLatin1(EchoLinkBus::ErrorNotConnected);
        row("connectOwnCall", "Connect", QVariantList{QStringLiteral(" qa1own "), -1}, refused,
            "QA1OWN is this station's own callsign");
        row("connectBlank", "Connect", QVariantList{QStringLiteral(" \t"), 0},
            QString::fromLatin1(EchoLinkBus::ErrorInvalidArgument), "no callsign given");
        // Answered only after the node asked the directory again.
        row("connectUnlisted", "Connect", QVariantList{QStringLiteral("QA9NOT"), 0}, refused,
            "QA9NOT is not in the EchoLink station list");
        row("chatWithNobody", "SendChatText", QVariantList{QStringLiteral("hi")}, notConnected,
            "no station is connected");
        row("disconnectStranger", "Disconnect", QVariantList{QStringLiteral("qa9not")}, notConnected,
            "QA9NOT is not connected");
    }
    void refusal_isErrorWithNodesNameAndMessage() {
        QFETCH(QString, method);
        QFETCH(QVariantList, arguments);
        QFETCH(QString, errorName);
        QFETCH(QString, message);
        const QDBusMessage reply = call(method, arguments);
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), errorName);
        QCOMPARE(reply.errorMessage(), message);
    }

    void connect_repliesWhenTheStationListHasCome() {
        directory_.listed = false;
        directory_.autoAnswer = false;
        directory_.add(QStringLiteral("QA2ABC"), QStringLiteral("127.0.0.5"));
        QDBusPendingCallWatcher watcher(
            client_.asyncCall(request(QStringLiteral("Connect"), {QStringLiteral("QA2ABC"), 0})));
        QTest::qWait(300);
        QVERIFY(!watcher.isFinished());
        directory_.answerRefresh(true);
        QTRY_VERIFY(watcher.isFinished());
        QVERIFY2(!watcher.isError(), qPrintable(watcher.error().message()));
        QVERIFY(!transport_.sentTo(QStringLiteral("127.0.0.5"), true).isEmpty()); // the call went out
    }

    void connect_fromTheProgramItself_calls() { // not through the bus: there is no reply to send
        directory_.add(QStringLiteral("QA3XYZ"), QStringLiteral("127.0.0.6"));
        object_->Connect(QStringLiteral(" QA3XYZ "), 0);
        QTRY_VERIFY(!transport_.sentTo(QStringLiteral("127.0.0.6"), true).isEmpty());
    }

    void nodeEvents_areSignalsWithArguments() {
        interop::BusRecorder bus;
        QVERIFY(bus.listen(client_, Path, Interface));
        transport_.receiveControl(QStringLiteral("127.0.0.5"),
                                  el::buildSdes(QStringLiteral("QA2ABC"), QStringLiteral("Bea Lin")));
        QTRY_COMPARE(bus.events().size(), 1);
        QCOMPARE(call(QStringLiteral("ConnectedCount")).arguments(), QVariantList{1});
        QCOMPARE(call(QStringLiteral("OwnCallsign")).arguments(), QVariantList{QStringLiteral("QA1OWN")});
        transport_.receiveData(QStringLiteral("127.0.0.5"),
                               el::buildChat(QStringLiteral("QA2ABC"), QStringLiteral("73 all")));
        QTRY_COMPARE(bus.events().size(), 2);
        transport_.receiveControl(QStringLiteral("127.0.0.5"), el::buildBye());
        QTRY_COMPARE(bus.events().size(), 3);
        object_->close();
        QTRY_COMPARE(bus.events().size(), 4);
        QCOMPARE(bus.events(), (QStringList{QStringLiteral("Connected QA2ABC|Bea Lin|127.0.0.5"),
                                            QStringLiteral("ChatTextReceived QA2ABC>73 all"),
                                            QStringLiteral("Disconnected QA2ABC"), QStringLiteral("Closing")}));
    }

    void program_refusesToStartWithReason_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("busReachable");
        QTest::addColumn<bool>("anotherRunning");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QStringList config{QStringLiteral("--config"), QStringLiteral("%1/station.ini")};
        row("noSettings", QStringList{QStringLiteral("--config"), QStringLiteral("%1/missing.ini")}, true, false, 2,
            "parlevox-station: no settings file %1/missing.ini");
        row("badBindOption", config + QStringList{QStringLiteral("--bind"), QStringLiteral("nowhere")}, true, false, 2,
            "--bind nowhere");
        row("strayArgument", config + QStringList{QStringLiteral("stray")}, true, false, 2,
            "unexpected argument stray; see --help");
        row("noSessionBus", config, false, false, 1, "no D-Bus session bus");
        row("secondCopy", config, true, true, 1,
            "parlevox-station: the name org.parlevox.EchoLink is already taken: another station program is "
            "running on this bus");
    }
    void program_refusesToStartWithReason() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, busReachable);
        QFETCH(bool, anotherRunning);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QProcessEnvironment env = programEnvironment();
        if (!busReachable) {
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        }
        QProcess first;
        if (anotherRunning) {
            QVERIFY(
                startProgram(first, env, {QStringLiteral("--config"), dir_.filePath(QStringLiteral("station.ini"))}));
        }
        QProcess program;
        startProgram(program, env, arguments.replaceInStrings(QStringLiteral("%1"), dir_.path()));
        QVERIFY(program.state() == QProcess::NotRunning || program.waitForFinished(10000));
        const QString errors = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(program.exitCode(), exitCode);
        QVERIFY2(errors.contains(message.replace(QStringLiteral("%1"), dir_.path())), qPrintable(errors));
        QVERIFY(program.readAllStandardOutput().isEmpty());
        e2e::stopProcess(first);
    }

    void program_endsOnSignalOrBusLoss_data() {
        QTest::addColumn<int>("signal"); // 0: the session bus goes away
        QTest::addColumn<bool>("twice"); // the signal again while signing off: out at once
        row("sigterm", SIGTERM, false);
        row("sigint", SIGINT, false);
        row("sighup", SIGHUP, false);
        row("busGone", 0, false);
        row("sigtermTwice", SIGTERM, true);
    }
    void program_endsOnSignalOrBusLoss() {
        QFETCH(int, signal);
        QFETCH(bool, twice);
        // A directory that takes the connection and never answers keeps the log-off waiting its 3 s.
        QTcpServer silentDirectory;
        QVERIFY(!twice || silentDirectory.listen(QHostAddress(QStringLiteral("127.0.0.10")), el::DirectoryPort));
        QProcess program;
        QVERIFY(startProgram(program, programEnvironment(),
                             {QStringLiteral("--config"), dir_.filePath(QStringLiteral("station.ini"))}));
        interop::BusRecorder seen;
        QDBusConnection programBus = programBus_->connect();
        QVERIFY(seen.listen(programBus, Path, Interface));
        QElapsedTimer timer;
        if (signal == 0) {
            programBus_->stop();
        } else {
            ::kill(static_cast<pid_t>(program.processId()), signal);
            QVERIFY(seen.waitFor(QStringLiteral("Closing"), 5000) >= 0);
            timer.start();
            if (twice) {
                ::kill(static_cast<pid_t>(program.processId()), signal);
            }
        }
        QVERIFY(program.state() == QProcess::NotRunning || program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), twice ? 1 : 0);
        QVERIFY(!twice || timer.elapsed() < 2000);
        QVERIFY(program.readAllStandardError().contains("signing off"));
    }

    void program_busyWhileFull_printsEachConnection() {
        DirectoryServer directory(QStringLiteral("127.0.0.10"));
        directory.listReply = "@@@\n0\n+++\n";
        const auto statuses = [&] {
            QStringList out;
            for (const QByteArray& got : std::as_const(directory.requests)) {
                if (got.startsWith('l')) {
                    out << QString::fromLatin1(got.split('\r').at(1)).section(QLatin1Char('3'), 0, 0);
                }
            }
            return out;
        };
        QProcess program;
        QVERIFY(startProgram(program, programEnvironment("MAXCONNECTIONS=1\nACCEPT=any\n"),
                             {QStringLiteral("--config"), dir_.filePath(QStringLiteral("station.ini"))}));
        QTRY_COMPARE(statuses(), QStringList{QStringLiteral("ONLINE")});
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress(QStringLiteral("127.0.0.5")), el::ControlPort));
        const QHostAddress station(QStringLiteral("127.0.0.2"));
        peer.writeDatagram(el::buildSdes(QStringLiteral("QA2ABC"), QStringLiteral("Bea")), station, el::ControlPort);
        QTRY_VERIFY(program.canReadLine());
        QCOMPARE(program.readLine(), QByteArray("connected: QA2ABC (Bea) at 127.0.0.5\n"));
        QTRY_COMPARE(statuses().size(), 2);
        peer.writeDatagram(el::buildBye(), station, el::ControlPort);
        QTRY_VERIFY(program.canReadLine());
        QCOMPARE(program.readLine(), QByteArray("disconnected: QA2ABC\n"));
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 10000); // the directory answers meanwhile
        QCOMPARE(statuses(), (QStringList{QStringLiteral("ONLINE"), QStringLiteral("BUSY"), QStringLiteral("ONLINE"),
                                          QStringLiteral("OFF-V")}));
    }

private:
    std::unique_ptr<e2e::PrivateBus> programBus_;

    // A bus of its own for each run of the program, and settings that keep it on 127.0.0.x.
    QProcessEnvironment programEnvironment(const QByteArray& moreSettings = {}) {
        programBus_ = std::make_unique<e2e::PrivateBus>();
        QString error;
        if (!programBus_->start(&error)) {
            qWarning("%s", qPrintable(error));
        }
        const QString ini = dir_.filePath(QStringLiteral("station.ini"));
        e2e::writeFile(ini, "[STATION]\nCALLSIGN=QA1OWN\nPASSWORD=pw\nBIND=127.0.0.2\nDIRECTORY=127.0.0.10\n" +
                                moreSettings);
        QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QProcessEnvironment env = programBus_->environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
        return env;
    }
    // Starts the program; true once it has said it is ready.
    static bool startProgram(QProcess& program, const QProcessEnvironment& env, const QStringList& arguments) {
        e2e::dieWithParent(program);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(PARLEVOX_STATION_PATH), arguments);
        return program.waitForStarted(10000) &&
               QTest::qWaitFor([&] { return program.canReadLine() || program.state() != QProcess::Running; }, 10000) &&
               program.readLine().startsWith("parlevox-station ready: QA1OWN on 127.0.0.2");
    }
};

QTEST_GUILESS_MAIN(TestStationBus)
#include "tst_stationbus.moc"
