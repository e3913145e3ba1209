// SPDX-License-Identifier: GPL-3.0-or-later
// The bus object over a private D-Bus with the real Node on a fake network; then the program itself: how it
// refuses to start, how it ends and what it tells the directory. Runs inside netns.sh's namespace.
#include "DataRow.h"
#include "FakeNetwork.h"
#include "Packets.h"
#include "StationBus.h"
#include "StationHarness.h"
#include "platform/EchoLinkBus.h"

#include <QDBusMessage>
#include <QTemporaryDir>
#include <QUdpSocket>

namespace {
const QString Service = QString::fromLatin1(EchoLinkBus::Service);
const QString Path = QString::fromLatin1(EchoLinkBus::ObjectPath);
const QString Interface = QString::fromLatin1(EchoLinkBus::Interface);

} // namespace

class TestStationBus : public QObject {
    Q_OBJECT
    e2e::PrivateBus bus_, programBus_;
    QDBusConnection client_{QString()};
    QTemporaryDir dir_;
    QStringList heard_;

    QDBusMessage call(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, Interface, method);
        message.setArguments(arguments);
        return client_.call(message, QDBus::BlockWithGui, 3000);
    }
    // The program on a bus of its own, with settings that keep it on 127.0.0.x; true once it said it is ready.
    bool start(QProcess& program, const QByteArray& settings = {}, const QStringList& arguments = {}) {
        const QString ini = dir_.filePath(QStringLiteral("station.ini"));
        writeFile(ini, "[STATION]\nCALLSIGN=QA1OWN\nPASSWORD=pw\nBIND=127.0.0.2\nDIRECTORY=127.0.0.10\n" + settings);
        QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        e2e::dieWithParent(program);
        program.setProcessEnvironment(programBus_.environment());
        program.start(QStringLiteral(PARLEVOX_STATION_PATH), QStringList{QStringLiteral("--config"), ini} + arguments);
        return program.waitForStarted(10000) &&
               QTest::qWaitFor([&] { return program.canReadLine() || program.state() != QProcess::Running; }, 10000) &&
               program.readLine().startsWith("parlevox-station ready: QA1OWN on 127.0.0.2");
    }

public Q_SLOTS:
    void hear(const QDBusMessage& m) {
        heard_ << (m.member() + u' ' + QVariant(m.arguments()).toStringList().join(u'|')).trimmed();
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(bus_.start(&error) && programBus_.start(&error), qPrintable(error));
        client_ = bus_.connect();
    }
    void init() { heard_.clear(); }

    void busObject_answersCallsAndSignalsNodeEvents() {
        FakeTransport transport;
        FakeDirectory directory;
        FakeAudioSource source;
        FakeAudioSink sink;
        Node node(NodeConfig{QStringLiteral("QA1OWN"), QStringLiteral("Own"), QString(), 4, AcceptPolicy::Any},
                  transport, directory, source, sink);
        StationBus object(node);
        QDBusConnection server = bus_.connect();
        QVERIFY(
            server.registerService(Service) &&
            server.registerObject(Path, &object, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        directory.add(QStringLiteral("QA3XYZ"), QStringLiteral("127.0.0.6"));
        object.Connect(QStringLiteral(" QA3XYZ "), 0); // not through the bus: there is no reply to send
        QTRY_VERIFY(!transport.sentTo(QStringLiteral("127.0.0.6"), true).isEmpty());
        QCOMPARE(call(QStringLiteral("Connect"), {QStringLiteral(" qa1own "), -1}).errorMessage(),
                 QStringLiteral("QA1OWN is this station's own callsign"));
        QCOMPARE(call(QStringLiteral("Disconnect"), {QStringLiteral("qa9not")}).errorName(),
                 QString::fromLatin1(EchoLinkBus::ErrorNotConnected));
        QVERIFY(client_.connect(QString(), Path, Interface, QString(), this, SLOT(hear(QDBusMessage))));
        transport.receiveControl(QStringLiteral("127.0.0.5"),
                                 el::buildSdes(QStringLiteral("QA2ABC"), QStringLiteral("Bea Lin")));
        QCOMPARE(call(QStringLiteral("ConnectedCount")).arguments(), QVariantList{1});
        transport.receiveData(QStringLiteral("127.0.0.5"),
                              el::buildChat(QStringLiteral("QA2ABC"), QStringLiteral("73 all")));
        QVERIFY(call(QStringLiteral("Disconnect"), {QStringLiteral("qa2abc")}).type() == QDBusMessage::ReplyMessage);
        object.close();
        QTRY_COMPARE(heard_, (QStringList{QStringLiteral("Connected QA2ABC|Bea Lin|127.0.0.5"),
                                          QStringLiteral("ChatTextReceived QA2ABC>73 all"),
                                          QStringLiteral("Disconnected QA2ABC"), QStringLiteral("Closing")}));
    }

    void program_refusesToStartWithReason_data() {
        columns<QByteArray, QString, QString>("settings", "argument", "message");
        row("bad callsign", QByteArray("CALLSIGN=x\n"), "", "CALLSIGN=X is not a callsign");
        row("stray argument", QByteArray(), "stray", "unexpected argument stray; see --help");
    }
    void program_refusesToStartWithReason() {
        QProcess program;
        QVERIFY(!start(program, col<QByteArray>("settings"),
                       QStringList(col<QString>("argument")).filter(QStringLiteral("s"))));
        program.waitForFinished(10000);
        QCOMPARE(program.exitCode(), 2);
        const QByteArray errors = program.readAllStandardError();
        QVERIFY2(errors.contains(col<QString>("message").toUtf8()), errors.constData());
    }

    // Busy at the directory while every place is taken. Signing off says Closing on the bus and logs off at the
    // directory, which then never answers: the program waits for it, unless the signal comes again.
    void program_busyWhileFull_signsOffOnSignal_data() {
        columns<int, bool>("signal", "twice");
        row("SIGTERM", SIGTERM, false);
        row("SIGHUP twice", SIGHUP, true);
    }
    void program_busyWhileFull_signsOffOnSignal() {
        const bool twice = col<bool>("twice");
        DirectoryServer directory(QStringLiteral("127.0.0.10"));
        const auto statuses = [&] {
            QStringList out;
            for (const QByteArray& got : std::as_const(directory.requests)) {
                got.startsWith('l') && (out << QString::fromLatin1(got.split('\r').at(1)).section(u'3', 0, 0), true);
            }
            return out;
        };
        QProcess program;
        QVERIFY(start(program, "MAXCONNECTIONS=1\nACCEPT=any\n"));
        QDBusConnection programBus = programBus_.connect();
        QVERIFY(programBus.connect(QString(), Path, Interface, QString(), this, SLOT(hear(QDBusMessage))));
        QTRY_COMPARE(statuses(), QStringList{QStringLiteral("ONLINE")});
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress(QStringLiteral("127.0.0.5")), el::ControlPort));
        const QHostAddress station(QStringLiteral("127.0.0.2"));
        peer.writeDatagram(el::buildSdes(QStringLiteral("QA2ABC"), QStringLiteral("Bea")), station, el::ControlPort);
        QTRY_COMPARE(statuses().size(), 2);
        peer.writeDatagram(el::buildBye(), station, el::ControlPort);
        QTRY_COMPARE(statuses().size(), 3);
        directory.mode = Silent;
        ::kill(pid_t(program.processId()), col<int>("signal"));
        QTRY_COMPARE(statuses(), (QStringList{QStringLiteral("ONLINE"), QStringLiteral("BUSY"),
                                              QStringLiteral("ONLINE"), QStringLiteral("OFF-V")}));
        QTRY_VERIFY(heard_.contains(QStringLiteral("Closing")));
        if (twice) {
            ::kill(pid_t(program.processId()), SIGHUP);
        }
        QVERIFY(program.waitForFinished(twice ? 1000 : 10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), twice ? 1 : 0);
        QVERIFY(program.readAllStandardError().contains("signing off"));
        QCOMPARE(program.readAllStandardOutput(), "connected: QA2ABC (Bea) at 127.0.0.5\ndisconnected: QA2ABC\n");
    }
};

QTEST_GUILESS_MAIN(TestStationBus)
#include "tst_stationbus.moc"
