// SPDX-License-Identifier: GPL-3.0-or-later
// parlevox-station --setup as a user meets it: on a pseudo-terminal (prompts, the password not echoed) or with
// answers on a pipe, checking its login against an in-test directory on 127.0.0.1 (inside the private network
// namespace netns.sh makes).
#include "DataRow.h"
#include "FakeNetwork.h"
#include "StationSettings.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QStringList Answers{QStringLiteral("q1aaa-l"), QStringLiteral("s3cret pass"), QStringLiteral("Ann"),
                          QStringLiteral("Testville"), QStringLiteral("Parlevox test")};
constexpr int WaitMs = 20000;

// parlevox-station --setup with its input on a pseudo-terminal (which echoes what is typed unless the program
// turns that off) or on a pipe; its output on a pipe.
class SetupRun {
public:
    SetupRun(const QStringList& arguments, bool terminal) {
        if (terminal) {
            master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0);
            process_.setChildProcessModifier([slave = QByteArray(::ptsname(master_))] {
                ::setsid(); // the terminal becomes the program's own, so it can turn echo off
                ::dup2(::open(slave.constData(), O_RDWR), STDIN_FILENO);
            });
        }
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral(PARLEVOX_STATION_PATH), QStringList{QStringLiteral("--setup")} + arguments);
    }
    ~SetupRun() {
        process_.kill();
        process_.waitForFinished();
        ::close(master_);
    }
    // Runs the event loop (so the fake directory answers) until the output holds text.
    bool waitFor(const QByteArray& text) {
        return QTest::qWaitFor([&] { return (output += process_.readAll()).contains(text); }, WaitMs);
    }
    void type(const QByteArray& input) {
        if (master_ >= 0) {
            QCOMPARE(::write(master_, input.constData(), static_cast<size_t>(input.size())), input.size());
        } else {
            process_.write(input);
            process_.closeWriteChannel();
        }
    }
    int exitCode() {
        const bool ended = QTest::qWaitFor([&] { return process_.state() == QProcess::NotRunning; }, WaitMs);
        output += process_.readAll();
        return ended ? process_.exitCode() : -1;
    }
    void signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }
    bool endedBy(int number) {
        return exitCode() >= 0 && process_.exitStatus() == QProcess::CrashExit && process_.exitCode() == number;
    }
    bool echoing() const { // the master reads the terminal's own settings
        struct termios t {};
        return ::tcgetattr(master_, &t) == 0 && (t.c_lflag & ECHO);
    }
    QByteArray echoed() const {
        QByteArray all(65536, '\0');
        return all.left(std::max<ssize_t>(0, ::read(master_, all.data(), static_cast<size_t>(all.size()))));
    }
    QByteArray output;

private:
    QProcess process_;
    int master_ = -1;
};

int modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

QByteArray lines(const QStringList& answers) {
    return (answers.join(u'\n') + u'\n').toUtf8();
}

} // namespace

class SetupTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString file() const { return dir_.filePath(QStringLiteral("station.ini")); }
    QStringList setupArgs() const {
        return {QStringLiteral("--config"), file(), QStringLiteral("--directory"), QStringLiteral("127.0.0.1")};
    }

private Q_SLOTS:
    void cleanup() { QFile::remove(file()); }

    void terminalAnswers_writePrivateFile_hidePassword_andSayTheLoginResult_data() {
        QTest::addColumn<bool>("serverUp");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("said");
        row("accepted, then logged off", true, QByteArray("OK 2.0\r\n"), 2,
            "directory 127.0.0.1 accepted the login of Q1AAA-L");
        row("refused", true, QByteArray("BAD\r\n"), 1, "refused the login of Q1AAA-L; it answered: \"BAD\"");
        row("endless reply", true, QByteArray(100000, 'X'), 1,
            QStringLiteral("it answered: \"") + QString(80, u'X') + QStringLiteral("\"\n"));
        row("closed unanswered", true, QByteArray(), 1, "reached (127.0.0.1 closed the connection without answering)");
        row("no server", false, QByteArray(), 0, "No directory server could be reached (127.0.0.1");
    }
    void terminalAnswers_writePrivateFile_hidePassword_andSayTheLoginResult() {
        QFETCH(bool, serverUp);
        QFETCH(QByteArray, reply);
        QFETCH(int, requests);
        QFETCH(QString, said);
        std::optional<DirectoryServer> directory;
        if (serverUp) {
            directory.emplace(QStringLiteral("127.0.0.1"));
            directory->loginReply = reply;
        }
        SetupRun run(setupArgs(), true);
        const QList<QByteArray> prompts{
            "Callsign: ", "(not shown as you type): ", "Your name: ", "27 characters: ", "connects: "};
        for (qsizetype i = 0; i < prompts.size(); ++i) {
            QVERIFY2(run.waitFor(prompts.at(i)), run.output.constData());
            run.type(Answers.at(i).toUtf8() + '\n');
        }
        QVERIFY2(run.waitFor(said.toUtf8()), run.output.constData());
        QCOMPARE(run.exitCode(), 0);
        const QByteArray echoed = run.echoed();
        QVERIFY2(echoed.contains("Testville") && !echoed.contains("s3cret"), echoed.constData());

        QCOMPARE(modeOf(file()), 0600);
        const SettingsLoad load = loadStationSettings(file());
        QVERIFY2(load.settings, qPrintable(load.error));
        const QStringList stored{load.settings->callsign, load.settings->password, load.settings->name,
                                 load.settings->location, load.settings->info};
        QCOMPARE(stored, QStringList(Answers).replaceInStrings(QStringLiteral("q1aaa-l"), QStringLiteral("Q1AAA-L")));
        QCOMPARE(directory ? static_cast<int>(directory->requests.size()) : 0, requests);
        if (requests > 0) {
            QVERIFY(directory->requests.first().startsWith("lQ1AAA-L\xac\xacs3cret pass\rONLINE"));
            QVERIFY(directory->requests.last().contains(requests == 2 ? "\rOFF-V" : "\rONLINE"));
        }
    }

    void badAnswer_isAskedAgainWithTheReason_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QByteArray>("bad");
        QTest::addColumn<QString>("reason");
        row("not a callsign", 0, QByteArray("no call!"), "no call! is not a callsign: 3 to 15 letters");
        row("no callsign", 0, QByteArray(""), "A callsign is needed");
        row("NUL in callsign", 0, QByteArray("Q1\0AA", 5), "control characters or bytes that are not text");
        row("not UTF-8", 2, QByteArray("\xff\xfe"), "control characters or bytes that are not text");
        row("escape sequence", 2, QByteArray("\x1b[2J"), "control characters or bytes that are not text");
        row("no password", 1, QByteArray(""), "The directory needs your EchoLink password.");
        row("password in spaces", 1, QByteArray(" pw "), "cannot keep spaces at the start or end");
        row("blank name", 2, QByteArray("   "), "Please enter something");
        row("endless line", 4, QByteArray(100000, 'i'), "That is longer than 1000 bytes");
        row("location of 28", 3, QByteArray(28, 'L'), "That is 28 characters; the directory shows only 27.");
    }
    void badAnswer_isAskedAgainWithTheReason() {
        QFETCH(int, field);
        QFETCH(QByteArray, bad);
        QFETCH(QString, reason);
        QByteArray input = lines(Answers);
        qsizetype at = 0;
        for (int i = 0; i < field; ++i) {
            at = input.indexOf('\n', at) + 1;
        }
        input.insert(at, bad + '\n');
        SetupRun run(setupArgs(), false);
        run.type(input);
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(run.output.contains(reason.toUtf8()), run.output.constData());
        const SettingsLoad load = loadStationSettings(file());
        QVERIFY2(load.settings, qPrintable(load.error));
        QCOMPARE(load.settings->name + load.settings->location + load.settings->info,
                 QStringLiteral("AnnTestvilleParlevox test"));
    }

    // A file whose callsign the reader refuses still gives the other keys.
    void existingFile_isOffered_keepsItsOtherKeys_andAnOverrideIsNotWritten_data() {
        QTest::addColumn<QByteArray>("callsign");
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("offered");
        row("good file", QByteArray("Q1OLD"), QByteArray(""), QByteArray("Callsign [Q1OLD]: "));
        row("bad callsign", QByteArray("no call!"), QByteArray("q1old"), QByteArray("\nCallsign: "));
    }
    void existingFile_isOffered_keepsItsOtherKeys_andAnOverrideIsNotWritten() {
        QFETCH(QByteArray, callsign);
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, offered);
        const QByteArray kept = "PASSWORD=oldpass\nNAME=Bo\nLOCATION=Oldtown\nINFO=hi\nDIRECTORY=127.0.0.1\n"
                                "BIND=127.0.0.1\nMAXCONNECTIONS=7\nACCEPT=any\nAUDIOIN=Mic 1\nAUDIOOUT=Speaker\n"
                                "RXGAIN=3\nTXGAIN=-2\n";
        QFile f(file());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("[STATION]\nCALLSIGN=" + callsign + '\n' + kept) > 0);
        QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
        f.close();
        SetupRun run({QStringLiteral("--config"), file(), QStringLiteral("--directory"), QStringLiteral("127.0.0.2")},
                     false);
        run.type(typed + "\n\n\nNew Town\n\n");
        QCOMPARE(run.exitCode(), 0);
        for (const QByteArray& shown : {offered, QByteArray("EchoLink password [keep current]: "),
                                        QByteArray("characters [Oldtown]: "), QByteArray("directory (127.0.0.2)")}) {
            QVERIFY2(run.output.contains(shown), run.output.constData());
        }
        QVERIFY(!run.output.contains("oldpass"));
        QCOMPARE(modeOf(file()), 0600); // it was 0604
        QFile written(file());
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), "[STATION]\nCALLSIGN=Q1OLD\n" + QByteArray(kept).replace("Oldtown", "New Town"));
    }

    // Ctrl+C or a kill while the password is typed: the echo comes back and the program ends by that signal.
    void signalAtPasswordPrompt_restoresEchoAndEnds() {
        SetupRun run(setupArgs(), true);
        QVERIFY(run.waitFor("Callsign: "));
        run.type("q1aaa-l\n");
        QVERIFY(run.waitFor("(not shown as you type): "));
        QTRY_VERIFY(!run.echoing());
        run.signal(SIGINT);
        QVERIFY2(run.endedBy(SIGINT), run.output.constData());
        QVERIFY(run.echoing());
        QVERIFY(!QFile::exists(file()));
    }

    void inputEndsBeforeEveryAnswer_exitsOneAndWritesNothing() {
        SetupRun run(setupArgs(), false);
        run.type(lines(Answers.mid(0, 4)));
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(run.output.contains("ended before every answer"), run.output.constData());
        QVERIFY(!QFile::exists(file()));
    }
};

QTEST_GUILESS_MAIN(SetupTest)
#include "tst_setup.moc"
