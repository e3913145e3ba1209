// SPDX-License-Identifier: GPL-3.0-or-later
// parlevox-station --setup on a pseudo-terminal or a pipe, checking its login against an in-test directory on
// 127.0.0.1 inside netns.sh's namespace.
#include "DataRow.h"
#include "FakeNetwork.h"

#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <termios.h>

namespace {
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

class SetupTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    const QString file_ = dir_.filePath(QStringLiteral("station.ini"));

private Q_SLOTS:
    void cleanup() { QFile::remove(file_); }

    void terminal_hidesPassword_writesPrivateFile_andChecksTheLogin() {
        DirectoryServer directory(QStringLiteral("127.0.0.1"));
        SetupRun run(file_, true);
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
        QCOMPARE(QFile::permissions(file_), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
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
        QVERIFY(writeFile(file_,
                          "[STATION]\nCALLSIGN=no call!\nPASSWORD=oldpass\nLOCATION=Oldtown\nDIRECTORY=127.0.0.1\n"
                          "MAXCONNECTIONS=7\nRXGAIN=3\n"));
        QList<QByteArray> input = QByteArray("q1old\n\nBo\nNew Town\nhi\n").split('\n');
        input.insert(field, bad);
        SetupRun run(file_, false);
        run.process.write(input.join('\n'));
        run.process.closeWriteChannel();
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(run.output.contains(reason.toUtf8()) && run.output.contains("EchoLink password [keep current]: ") &&
                     !run.output.contains("oldpass"),
                 run.output.constData());
        QCOMPARE(readFile(file_), "[STATION]\nCALLSIGN=Q1OLD\nPASSWORD=oldpass\nNAME=Bo\nLOCATION=New "
                                  "Town\nINFO=hi\nDIRECTORY=127.0.0.1\nBIND=\nMAXCONNECTIONS=7\nACCEPT="
                                  "directory\nAUDIOIN=\nAUDIOOUT=\nRXGAIN=3\nTXGAIN=0\n");
    }

    // Ctrl+C while the password is typed: the echo comes back and the program ends by that signal.
    void signalAtPasswordPrompt_restoresEchoAndEnds() {
        SetupRun run(file_, true);
        QVERIFY(run.waitFor("Callsign: "));
        run.type("q1aaa-l\n");
        QVERIFY(run.waitFor("(not shown as you type): "));
        QTRY_VERIFY(!run.echoing());
        ::kill(pid_t(run.process.processId()), SIGINT);
        QCOMPARE(run.exitCode(), SIGINT);
        QCOMPARE(run.process.exitStatus(), QProcess::CrashExit);
        QVERIFY(run.echoing() && !QFile::exists(file_));
    }
};

QTEST_GUILESS_MAIN(SetupTest)
#include "tst_setup.moc"
