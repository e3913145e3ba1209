// SPDX-License-Identifier: GPL-3.0-or-later
// The bus object over a private D-Bus with the real Node on a fake network; then the program itself: how it
// refuses to start, how it ends and what it tells the directory, and its --setup on a pseudo-terminal or a pipe,
// checking the login against an in-test directory on 127.0.0.1. Runs inside netns.sh's namespace.
#include "DataRow.h"
#include "FakeNetwork.h"
#include "Packets.h"
#include "StationBus.h"
#include "StationHarness.h"
#include "platform/EchoLinkBus.h"

#include <QDBusMessage>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <csignal>
#include <fcntl.h>
#include <termios.h>

namespace {
const QString Service = QString::fromLatin1(EchoLinkBus::Service);
const QString Path = QString::fromLatin1(EchoLinkBus::ObjectPath);
const QString Interface = QString::fromLatin1(EchoLinkBus::Interface);

// Input typed on a pseudo-terminal (which echoes it unless the program turns that off), or else on a pipe.
struct SetupRun {
    QProcess process;
    int master = -1;
    QByteArray output;

    SetupRun(const QString& file, bool terminal) {
        if (terminal) {
            master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
            process.setChildProcessModifier([slave = QByteArray(::ptsname(master))] {
                ::setsid(); // the terminal becomes the program's own, so it can turn echo off
                ::dup2(::open(slave.constData(), O_RDWR), STDIN_FILENO);
            });
        }
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(PARLEVOX_STATION_PATH),
                      {QStringLiteral("--setup"), QStringLiteral("--config"), file, QStringLiteral("--directory"),
                       QStringLiteral("127.0.0.1")});
    }
    ~SetupRun() {
        process.kill();
        process.waitForFinished();
        ::close(master);
    }
    bool waitFor(const QByteArray& text) {
        return QTest::qWaitFor([&] { return (output += process.readAll()).contains(text); }, 20000);
    }
    void type(const QByteArray& input) {
        QCOMPARE(::write(master, input.constData(), size_t(input.size())), input.size());
    }
    int exitCode() {
        const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000);
        output += process.readAll();
        return ended ? process.exitCode() : -1;
    }
    bool echoing() const {
        struct termios t {};
        return ::tcgetattr(master, &t) == 0 && (t.c_lflag & ECHO);
    }
};
} // namespace

class StationProgramTest : public QObject {
    Q_OBJECT
    e2e::PrivateBus bus_, programBus_;
    QDBusConnection client_{QString()};
    QTemporaryDir dir_;
    const QString ini_ = dir_.filePath(QStringLiteral("station.ini"));
    QStringList heard_;

    QDBusMessage call(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, Interface, method);
        message.setArguments(arguments);
        return client_.call(message, QDBus::BlockWithGui, 3000);
    }
    // The program on a bus of its own, with settings that keep it on 127.0.0.x; true once it said it is ready.
    bool start(QProcess& program, const QByteArray& settings = {}, const QStringList& arguments = {}) {
        writeFile(ini_, "[STATION]\nCALLSIGN=QA1OWN\nPASSWORD=pw\nBIND=127.0.0.2\nDIRECTORY=127.0.0.10\n" + settings);
        QFile::setPermissions(ini_, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        e2e::dieWithParent(program);
        program.setProcessEnvironment(programBus_.environment());
        program.start(QStringLiteral(PARLEVOX_STATION_PATH), QStringList{QStringLiteral("--config"), ini_} + arguments);
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
    void init() {
        heard_.clear();
        QFile::remove(ini_);
    }

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

    void terminal_hidesPassword_writesPrivateFile_andChecksTheLogin() {
        DirectoryServer directory(QStringLiteral("127.0.0.1"));
        SetupRun run(ini_, true);
        for (const char* answer : {"q1aaa-l\n", "s3cret pass\n", "Ann\n", "Testville\n", "Parlevox test\n"}) {
            QVERIFY2(run.waitFor(": "), run.output.constData());
            run.output.clear();
            run.type(answer);
        }
        QVERIFY2(run.waitFor("directory 127.0.0.1 accepted the login of Q1AAA-L"), run.output.constData());
        QCOMPARE(run.exitCode(), 0);
        QByteArray echoed(65536, '\0');
        echoed.truncate(std::max<ssize_t>(0, ::read(run.master, echoed.data(), size_t(echoed.size()))));
        QVERIFY2(echoed.contains("Testville") && !echoed.contains("s3cret"), echoed.constData());
        QCOMPARE(QFile::permissions(ini_), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(directory.requests.size(), 2);
        QVERIFY(directory.requests.first().startsWith("lQ1AAA-L\xac\xacs3cret pass\rONLINE") &&
                directory.requests.last().contains("\rOFF-V"));
    }

    // Over a pipe, into a file whose CALLSIGN is bad: its other keys stay, the password too (Enter alone), and a bad
    // answer is asked again with the reason.
    void pipe_asksAgainOnBadAnswer_keepsOtherKeys_data() {
        columns<int, QByteArray, QString>("field", "bad", "reason");
        row("NUL in callsign", 0, QByteArray("Q1\0AA", 5), "control characters or bytes that are not text");
        row("endless line", 4, QByteArray(100000, 'i'), "That is longer than 1000 bytes");
        row("location of 28", 3, QByteArray(28, 'L'), "That is 28 characters; the directory shows only 27.");
    }
    void pipe_asksAgainOnBadAnswer_keepsOtherKeys() {
        QFETCH(int, field);
        QFETCH(QByteArray, bad);
        QFETCH(QString, reason);
        QVERIFY(writeFile(ini_,
                          "[STATION]\nCALLSIGN=no call!\nPASSWORD=oldpass\nLOCATION=Oldtown\nDIRECTORY=127.0.0.1\n"
                          "MAXCONNECTIONS=7\nRXGAIN=3\n"));
        QList<QByteArray> input = QByteArray("q1old\n\nBo\nNew Town\nhi\n").split('\n');
        input.insert(field, bad);
        SetupRun run(ini_, false);
        run.process.write(input.join('\n'));
        run.process.closeWriteChannel();
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(run.output.contains(reason.toUtf8()) && run.output.contains("EchoLink password [keep current]: ") &&
                     !run.output.contains("oldpass"),
                 run.output.constData());
        QCOMPARE(readFile(ini_), "[STATION]\nCALLSIGN=Q1OLD\nPASSWORD=oldpass\nNAME=Bo\nLOCATION=New "
                                 "Town\nINFO=hi\nDIRECTORY=127.0.0.1\nBIND=\nMAXCONNECTIONS=7\nACCEPT="
                                 "directory\nAUDIOIN=\nAUDIOOUT=\nRXGAIN=3\nTXGAIN=0\n");
    }

    // Ctrl+C while the password is typed: the echo comes back and the program ends by that signal.
    void signalAtPasswordPrompt_restoresEchoAndEnds() {
        SetupRun run(ini_, true);
        QVERIFY(run.waitFor("Callsign: "));
        run.type("q1aaa-l\n");
        QVERIFY(run.waitFor("(not shown as you type): "));
        QTRY_VERIFY(!run.echoing());
        ::kill(pid_t(run.process.processId()), SIGINT);
        QCOMPARE(run.exitCode(), SIGINT);
        QCOMPARE(run.process.exitStatus(), QProcess::CrashExit);
        QVERIFY(run.echoing() && !QFile::exists(ini_));
    }
};

QTEST_GUILESS_MAIN(StationProgramTest)
#include "tst_stationprogram.moc"
