// SPDX-License-Identifier: GPL-3.0-or-later
// parlevox-station --setup on a pseudo-terminal or a pipe, checking its login against an in-test directory on
// 127.0.0.1 inside netns.sh's namespace.
#include "DataRow.h"
#include "FakeNetwork.h"
#include "StationSettings.h"

#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>

namespace {
const QByteArray Answers = "q1aaa-l\ns3cret pass\nAnn\nTestville\nParlevox test\n";

// Input on a pseudo-terminal (which echoes what is typed unless the program turns that off) or a pipe.
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
        if (master < 0) {
            process.write(input);
            return process.closeWriteChannel();
        }
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
bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}
int modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}
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
        for (const QByteArray& answer : Answers.split('\n').first(5)) {
            QVERIFY2(run.waitFor(": "), run.output.constData());
            run.output.clear();
            run.type(answer + '\n');
        }
        QVERIFY2(run.waitFor("directory 127.0.0.1 accepted the login of Q1AAA-L"), run.output.constData());
        QCOMPARE(run.exitCode(), 0);
        QByteArray echoed(65536, '\0');
        echoed.truncate(std::max<ssize_t>(0, ::read(run.master, echoed.data(), size_t(echoed.size()))));
        QVERIFY2(echoed.contains("Testville") && !echoed.contains("s3cret"), echoed.constData());
        QCOMPARE(modeOf(file_), 0600);
        QCOMPARE(directory.requests.size(), 2);
        QVERIFY(directory.requests.first().startsWith("lQ1AAA-L\xac\xacs3cret pass\rONLINE") &&
                directory.requests.last().contains("\rOFF-V"));
    }

    void badAnswer_isAskedAgainWithTheReason_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QByteArray>("bad");
        QTest::addColumn<QString>("reason");
        row("NUL in callsign", 0, QByteArray("Q1\0AA", 5), "control characters or bytes that are not text");
        row("endless line", 4, QByteArray(100000, 'i'), "That is longer than 1000 bytes");
        row("location of 28", 3, QByteArray(28, 'L'), "That is 28 characters; the directory shows only 27.");
    }
    void badAnswer_isAskedAgainWithTheReason() {
        QFETCH(int, field);
        QFETCH(QByteArray, bad);
        QFETCH(QString, reason);
        QList<QByteArray> input = Answers.split('\n');
        input.insert(field, bad);
        SetupRun run(file_, false);
        run.type(input.join('\n'));
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(run.output.contains(reason.toUtf8()), run.output.constData());
        const SettingsLoad load = loadStationSettings(file_);
        QVERIFY(load.settings && load.settings->info == QLatin1String("Parlevox test"));
    }

    void existingFileWithBadCallsign_keepsItsOtherKeys() {
        const QByteArray kept = "PASSWORD=oldpass\nLOCATION=Oldtown\nDIRECTORY=127.0.0.1\nMAXCONNECTIONS=7\nRXGAIN=3\n";
        QVERIFY(writeFile(file_, "[STATION]\nCALLSIGN=no call!\n" + kept));
        SetupRun run(file_, false);
        run.type("q1old\n\nBo\nNew Town\nhi\n");
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(run.output.contains("EchoLink password [keep current]: ") && !run.output.contains("oldpass"),
                 run.output.constData());
        QFile written(file_);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), "[STATION]\nCALLSIGN=Q1OLD\nPASSWORD=oldpass\nNAME=Bo\nLOCATION=New "
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
