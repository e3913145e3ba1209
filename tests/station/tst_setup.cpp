// SPDX-License-Identifier: GPL-3.0-or-later
// parlevox-station --setup as a user meets it: on a pseudo-terminal (prompts, the password not echoed) or with
// answers on a pipe, checking its login against an in-test directory on 127.0.0.1 (inside the private network
// namespace netns.sh makes).
#include "DataRow.h"
#include "StationSettings.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QStringList Answers{QStringLiteral("q1aaa-l"), QStringLiteral("s3cret pass"), QStringLiteral("Ann"),
                          QStringLiteral("Testville"), QStringLiteral("Parlevox test")};
constexpr int WaitMs = 20000;

// A directory server answering every request with reply (nothing: it closes at once), keeping the requests.
class FakeDirectory : public QObject {
public:
    explicit FakeDirectory(QByteArray reply) : reply_(std::move(reply)) {
        QVERIFY(server_.listen(QHostAddress::LocalHost, 5200));
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = server_.nextPendingConnection();
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                if (s->peek(4096).count('\r') >= 3) { // a login is three lines ending in CR
                    requests << s->readAll();
                    s->write(reply_);
                    s->disconnectFromHost();
                }
            });
        });
    }
    QList<QByteArray> requests;

private:
    QByteArray reply_;
    QTcpServer server_;
};

// parlevox-station --setup on a pseudo-terminal: its output so far, and answers typed one at a time.
class Terminal {
public:
    explicit Terminal(const QStringList& arguments) {
        QList<QByteArray> words{QByteArrayLiteral(PARLEVOX_STATION_PATH), QByteArrayLiteral("--setup")};
        for (const QString& a : arguments) {
            words << a.toUtf8();
        }
        std::vector<char*> argv;
        for (QByteArray& w : words) {
            argv.push_back(w.data());
        }
        argv.push_back(nullptr);
        pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::fcntl(master_, F_SETFL, O_NONBLOCK);
    }
    ~Terminal() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(master_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Runs the event loop (so the fake directory answers) until text shows after what was matched before.
    bool waitFor(const QByteArray& text) {
        qsizetype at = -1;
        (void)QTest::qWaitFor(
            [&] {
                read();
                return (at = output.indexOf(text, cursor_)) >= 0;
            },
            WaitMs);
        cursor_ = at >= 0 ? at + text.size() : cursor_;
        return at >= 0;
    }
    bool type(const QString& line) {
        const QByteArray bytes = (line + u'\n').toUtf8();
        return ::write(master_, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
    }
    int exitCode() {
        (void)QTest::qWaitFor(
            [&] {
                read();
                return ::waitpid(pid_, &status_, WNOHANG) == pid_;
            },
            WaitMs);
        read();
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    QByteArray output;

private:
    void read() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(master_, buffer, sizeof buffer)) > 0) {
            output.append(buffer, n);
        }
    }
    pid_t pid_ = -1;
    int master_ = -1;
    int status_ = -1;
    qsizetype cursor_ = 0;
};

// parlevox-station with these arguments and all of input on a pipe: exit code and output.
std::pair<int, QByteArray> runPiped(const QStringList& arguments, const QByteArray& input) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(PARLEVOX_STATION_PATH), QStringList{QStringLiteral("--setup")} + arguments);
    process.write(input);
    process.closeWriteChannel();
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, WaitMs);
    return {process.state() == QProcess::NotRunning ? process.exitCode() : -1, process.readAll()};
}

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
        row("endless reply", true, QByteArray(100000, 'X'), 1, "it answered: \"" + QString(80, u'X') + "\"\r\n");
        row("closed unanswered", true, QByteArray(), 1, "reached (127.0.0.1 closed the connection without answering)");
        row("no server", false, QByteArray(), 0, "No directory server could be reached (127.0.0.1");
    }
    void terminalAnswers_writePrivateFile_hidePassword_andSayTheLoginResult() {
        QFETCH(bool, serverUp);
        QFETCH(QByteArray, reply);
        QFETCH(int, requests);
        QFETCH(QString, said);
        std::optional<FakeDirectory> directory;
        if (serverUp) {
            directory.emplace(reply);
        }
        Terminal terminal(setupArgs());
        const QStringList prompts{QStringLiteral("Callsign: "), QStringLiteral("(not shown as you type): "),
                                  QStringLiteral("Your name: "), QStringLiteral("27 characters: "),
                                  QStringLiteral("connects: ")};
        for (qsizetype i = 0; i < prompts.size(); ++i) {
            QVERIFY2(terminal.waitFor(prompts.at(i).toUtf8()), terminal.output.constData());
            QVERIFY(terminal.type(Answers.at(i)));
        }
        QVERIFY2(terminal.waitFor(said.toUtf8()), terminal.output.constData());
        QCOMPARE(terminal.exitCode(), 0);
        QVERIFY2(!terminal.output.contains("s3cret"), terminal.output.constData());
        QVERIFY(terminal.output.contains("Testville\r\n")); // other answers are echoed as typed

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
        const auto [code, output] = runPiped(setupArgs(), input);
        QCOMPARE(code, 0);
        QVERIFY2(output.contains(reason.toUtf8()), output.constData());
        const SettingsLoad load = loadStationSettings(file());
        QVERIFY2(load.settings, qPrintable(load.error));
        QCOMPARE(load.settings->name + load.settings->location + load.settings->info,
                 QStringLiteral("AnnTestvilleParlevox test"));
    }

    void existingFile_isOffered_keepsItsOtherKeys_andAnOverrideIsNotWritten() {
        const QByteArray old = "[STATION]\nCALLSIGN=Q1OLD\nPASSWORD=oldpass\nNAME=Bo\nLOCATION=Oldtown\nINFO=hi\n"
                               "DIRECTORY=127.0.0.1\nBIND=127.0.0.1\nMAXCONNECTIONS=7\nACCEPT=any\nAUDIOIN=Mic 1\n"
                               "AUDIOOUT=Speaker\nRXGAIN=3\nTXGAIN=-2\n";
        QFile f(file());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
        QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
        f.close();
        const auto [code, output] =
            runPiped({QStringLiteral("--config"), file(), QStringLiteral("--directory"), QStringLiteral("127.0.0.2")},
                     "\n\n\nNew Town\n\n");
        QCOMPARE(code, 0);
        for (const char* offered : {"Callsign [Q1OLD]: ", "EchoLink password [keep current]: ", "Your name [Bo]: ",
                                    "characters [Oldtown]: ", "connects [hi]: ", "directory (127.0.0.2)"}) {
            QVERIFY2(output.contains(offered), output.constData());
        }
        QVERIFY(!output.contains("oldpass"));
        QCOMPARE(modeOf(file()), 0600); // it was 0604
        QFile written(file());
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray(old).replace("Oldtown", "New Town"));
    }

    void inputEndsBeforeEveryAnswer_exitsOneAndWritesNothing() {
        const auto [code, output] = runPiped(setupArgs(), lines(Answers.mid(0, 4)));
        QCOMPARE(code, 1);
        QVERIFY2(output.contains("ended before every answer"), output.constData());
        QVERIFY(!QFile::exists(file()));
    }
};

QTEST_GUILESS_MAIN(SetupTest)
#include "tst_setup.moc"
