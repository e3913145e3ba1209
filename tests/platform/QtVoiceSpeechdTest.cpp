// SPDX-License-Identifier: GPL-3.0-or-later
// QtVoice with the real speechd engine against a private speech-dispatcher. Its output module is the generic
// module running a small script that writes each text to a file only after a pause: a text that is cut off
// never reaches the file, so the file proves both order and completeness, with no sound card.
#include "QtVoice.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextToSpeech>
#include <QtTest>
#include <csignal>
#include <sys/types.h>

namespace {

constexpr int kSpeechTimeoutMs = 30000;

QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

bool writeFile(const QString& path, const QString& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) == text.toUtf8().size();
}

bool waitForFile(const QString& path, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!QFile::exists(path)) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(50);
    }
    return true;
}

// A pulseaudio with a null sink and a speech-dispatcher, both private to one temporary directory.
class PrivateSpeechServer {
public:
    ~PrivateSpeechServer() {
        stopSpeechd();
        stopProcess(pulse_);
        if (QFile::exists(path(QStringLiteral("slow.pid")))) {
            const qint64 pid = fileLines(path(QStringLiteral("slow.pid"))).value(0).toLongLong();
            if (pid > 0) {
                ::kill(pid_t(pid), SIGKILL);
            }
        }
    }

    // Empty on success, otherwise why the server could not be started.
    QString start() {
        if (!dir_.isValid()) {
            return QStringLiteral("no temporary directory");
        }
        for (const char* program : {"speech-dispatcher", "pulseaudio"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
                return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(program));
            }
        }
        if (!QTextToSpeech::availableEngines().contains(QStringLiteral("speechd"))) {
            return QStringLiteral("the Qt speechd plug-in is not installed");
        }
        QDir(dir_.path()).mkpath(QStringLiteral("run/pulse"));
        QDir(dir_.path()).mkpath(QStringLiteral("config/speech-dispatcher/modules"));
        QDir(dir_.path()).mkpath(QStringLiteral("log"));
        if (!writeConfig()) {
            return QStringLiteral("cannot write the configuration");
        }

        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("HOME"), dir_.path());
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env_.insert(QStringLiteral("PULSE_RUNTIME_PATH"), path(QStringLiteral("run/pulse")));
        env_.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + path(QStringLiteral("run/pulse/native")));
        // speech-dispatcher ends at once on a locale that is not installed.
        env_.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env_.remove(QStringLiteral("LC_ALL"));
        env_.remove(QStringLiteral("SPEECHD_ADDRESS"));

        pulse_.setProcessEnvironment(env_);
        pulse_.setProcessChannelMode(QProcess::MergedChannels);
        pulse_.setStandardOutputFile(path(QStringLiteral("log/pulse.log")));
        pulse_.start(QStringLiteral("pulseaudio"),
                     {QStringLiteral("--daemonize=no"), QStringLiteral("-n"), QStringLiteral("--use-pid-file=no"),
                      QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--disallow-exit"),
                      QStringLiteral("--disable-shm=yes"), QStringLiteral("--load=module-null-sink"),
                      QStringLiteral("--load=module-native-protocol-unix")});
        if (!pulse_.waitForStarted() || !waitForFile(path(QStringLiteral("run/pulse/native")), 10000)) {
            return QStringLiteral("pulseaudio did not start: ") + logTail(QStringLiteral("log/pulse.log"));
        }
        return startSpeechd();
    }

    QString startSpeechd() {
        QFile::remove(socketPath());
        speechd_ = std::make_unique<QProcess>();
        speechd_->setProcessEnvironment(env_);
        speechd_->setProcessChannelMode(QProcess::MergedChannels);
        speechd_->setStandardOutputFile(path(QStringLiteral("log/speechd.out")), QIODevice::Append);
        speechd_->start(QStringLiteral("speech-dispatcher"),
                        {QStringLiteral("-s"), QStringLiteral("-C"), path(QStringLiteral("config/speech-dispatcher")),
                         QStringLiteral("-c"), QStringLiteral("unix_socket"), QStringLiteral("-S"), socketPath(),
                         QStringLiteral("-t"), QStringLiteral("0"), QStringLiteral("-L"), path(QStringLiteral("log"))});
        if (!speechd_->waitForStarted() || !waitForFile(socketPath(), 10000)) {
            return QStringLiteral("speech-dispatcher did not start: ") + logTail(QStringLiteral("log/speechd.out"));
        }
        return QString();
    }

    // As a crash: no chance to tidy up.
    void stopSpeechd() {
        if (speechd_) {
            stopProcess(*speechd_);
            speechd_.reset();
        }
    }

    void signalSpeechd(int signal) {
        if (speechd_ && speechd_->processId() > 0) {
            ::kill(pid_t(speechd_->processId()), signal);
        }
    }

    QString address() const { return QStringLiteral("unix_socket:") + socketPath(); }
    QString configHome() const { return path(QStringLiteral("config")); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QStringList spoken() const { return fileLines(path(QStringLiteral("spoken.txt"))); }
    QStringList started() const { return fileLines(path(QStringLiteral("started.txt"))); }

private:
    QString socketPath() const { return path(QStringLiteral("run/speechd.sock")); }

    bool writeConfig() {
        // A text containing "slowly" is never finished, so that the server can be killed in the middle of it.
        const QString script =
            QStringLiteral("#!/bin/sh\n"
                           "printf '%s\\n' \"$1\" >> '%1/started.txt'\n"
                           "case \"$1\" in *slowly*) echo $$ > '%1/slow.pid'; exec sleep 600;; esac\n"
                           "sleep 0.3\n"
                           "printf '%s\\n' \"$1\" >> '%1/spoken.txt'\n")
                .arg(dir_.path());
        const QString module = QStringLiteral("GenericExecuteSynth \"sh '%1/synth.sh' \\'$DATA\\'\"\n"
                                              "GenericMaxChunkLength 10000\n"
                                              "GenericDelimiters \"\"\n"
                                              // The client names its language after the locale, "c" here.
                                              "GenericLanguage \"c\" \"en\" \"utf-8\"\n"
                                              "GenericLanguage \"en\" \"en\" \"utf-8\"\n"
                                              "GenericLanguage \"en-us\" \"en\" \"utf-8\"\n"
                                              "AddVoice \"en\" \"MALE1\" \"plain\"\n")
                                   .arg(dir_.path());
        const QString server = QStringLiteral("LogLevel 3\n"
                                              "AudioOutputMethod \"pulse\"\n"
                                              "AddModule \"file\" \"sd_generic\" \"file.conf\"\n"
                                              "DefaultModule file\n"
                                              "DisableAutoSpawn\n");
        return writeFile(path(QStringLiteral("synth.sh")), script) &&
               writeFile(path(QStringLiteral("config/speech-dispatcher/modules/file.conf")), module) &&
               writeFile(path(QStringLiteral("config/speech-dispatcher/speechd.conf")), server);
    }

    QString logTail(const QString& name) const { return fileLines(path(name)).mid(-5).join(QLatin1Char(' ')); }

    static void stopProcess(QProcess& process) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QTemporaryDir dir_;
    QProcessEnvironment env_;
    QProcess pulse_;
    std::unique_ptr<QProcess> speechd_;
};

} // namespace

class QtVoiceSpeechdTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void textsInQuickSuccession_allSpokenWholeAndInOrder();
    void serverKilledMidSentence_laterTextsSpokenOnceItIsBack();
    void serverFrozen_windowKeepsRunning_andSpeechGoesOnAfterwards();
    void serverFrozen_voiceCanBeDestroyedWithoutWaitingForIt();
    void noServer_createFailsWithReason();

private:
    std::unique_ptr<PrivateSpeechServer> server_;
};

void QtVoiceSpeechdTest::init() {
    server_ = std::make_unique<PrivateSpeechServer>();
    const QString problem = server_->start();
    if (!problem.isEmpty()) {
        server_.reset();
        QSKIP(qPrintable(QStringLiteral("no private speech server: ") + problem));
    }
    // The client library reads both: the address of our server, and a configuration that forbids
    // starting a server of its own when ours is down.
    qputenv("SPEECHD_ADDRESS", server_->address().toUtf8());
    qputenv("XDG_CONFIG_HOME", server_->configHome().toUtf8());
}

void QtVoiceSpeechdTest::cleanup() {
    server_.reset();
}

void QtVoiceSpeechdTest::textsInQuickSuccession_allSpokenWholeAndInOrder() {
    QString error;
    auto voice = QtVoice::create(&error, QStringLiteral("speechd"));
    QVERIFY2(voice, qPrintable(error));

    const QStringList texts{QStringLiteral("Message from  N0CALL hello there"),
                            QStringLiteral("N 0 C A L L dash L connected"),
                            QStringLiteral("The time is 12 00"),
                            QStringLiteral("The time is 12 00"),
                            QStringLiteral("it's 73; see you = \"later\" $HOME"),
                            QStringLiteral("Grüße aus DL0ABC")};
    for (const QString& text : texts) {
        QVERIFY(voice->speak(text));
    }
    QTRY_COMPARE_WITH_TIMEOUT(server_->spoken().size(), texts.size(), kSpeechTimeoutMs);
    QCOMPARE(server_->spoken(), texts);
    QCOMPARE(server_->started(), texts);
    QTRY_COMPARE(voice->pendingCount(), 0);
}

void QtVoiceSpeechdTest::serverKilledMidSentence_laterTextsSpokenOnceItIsBack() {
    VoiceLimits limits;
    limits.stallBaseMs = 2000;
    limits.stallPerCharMs = 0;
    // An engine made while the server starts up again may be left without an answer; the next one is not.
    limits.openTimeoutMs = 2000;
    limits.retryFirstMs = 100;
    limits.retryMaxMs = 400;
    QString error;
    auto voice = QtVoice::create(&error, QStringLiteral("speechd"), limits);
    QVERIFY2(voice, qPrintable(error));

    QVERIFY(voice->speak(QStringLiteral("before")));
    QVERIFY(voice->speak(QStringLiteral("this one goes slowly")));
    QTRY_COMPARE_WITH_TIMEOUT(server_->started().size(), 2, kSpeechTimeoutMs);
    server_->stopSpeechd();

    QVERIFY(voice->speak(QStringLiteral("after the crash")));
    QVERIFY(voice->speak(QStringLiteral("and once more")));
    QTRY_VERIFY_WITH_TIMEOUT(!voice->lastError().isEmpty(), kSpeechTimeoutMs);
    const QString problem = server_->startSpeechd();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    const QStringList expected{QStringLiteral("before"), QStringLiteral("after the crash"),
                               QStringLiteral("and once more")};
    QTRY_COMPARE_WITH_TIMEOUT(server_->spoken(), expected, kSpeechTimeoutMs);
    QTRY_COMPARE(voice->pendingCount(), 0);
}

void QtVoiceSpeechdTest::serverFrozen_windowKeepsRunning_andSpeechGoesOnAfterwards() {
    VoiceLimits limits;
    limits.stallBaseMs = 1500;
    limits.stallPerCharMs = 0;
    limits.openTimeoutMs = 1500;
    limits.retryFirstMs = 100;
    limits.retryMaxMs = 400;
    QString error;
    auto voice = QtVoice::create(&error, QStringLiteral("speechd"), limits);
    QVERIFY2(voice, qPrintable(error));
    QVERIFY(voice->speak(QStringLiteral("before the freeze")));
    QTRY_COMPARE_WITH_TIMEOUT(server_->spoken().size(), 1, kSpeechTimeoutMs);

    // A stopped server answers nothing: every call into it blocks. The event loop of this thread has to go on
    // regardless, or the waits below could not even run.
    server_->signalSpeechd(SIGSTOP);
    QVERIFY(voice->speak(QStringLiteral("while frozen")));
    QTRY_VERIFY_WITH_TIMEOUT(!voice->lastError().isEmpty(), kSpeechTimeoutMs);
    server_->signalSpeechd(SIGCONT);
    QVERIFY(voice->speak(QStringLiteral("after the thaw")));

    QTRY_VERIFY_WITH_TIMEOUT(server_->spoken().contains(QStringLiteral("after the thaw")), kSpeechTimeoutMs);
    const QStringList spoken = server_->spoken();
    QCOMPARE(spoken.first(), QStringLiteral("before the freeze"));
    QCOMPARE(spoken.count(QStringLiteral("after the thaw")), 1);
    // The text handed over during the freeze may be heard late or not at all, but never in pieces.
    for (const QString& line : spoken) {
        QVERIFY2(QStringList({QStringLiteral("before the freeze"), QStringLiteral("while frozen"),
                              QStringLiteral("after the thaw")})
                     .contains(line),
                 qPrintable(line));
    }
}

// As when the program ends while the server is frozen: the threads stuck in it are left behind, and neither
// the destructor nor the event loop afterwards waits for them.
void QtVoiceSpeechdTest::serverFrozen_voiceCanBeDestroyedWithoutWaitingForIt() {
    VoiceLimits limits;
    limits.stallBaseMs = 1000;
    limits.stallPerCharMs = 0;
    limits.openTimeoutMs = 1000;
    limits.retryFirstMs = 100;
    QString error;
    auto voice = QtVoice::create(&error, QStringLiteral("speechd"), limits);
    QVERIFY2(voice, qPrintable(error));
    server_->signalSpeechd(SIGSTOP);
    QVERIFY(voice->speak(QStringLiteral("into the frozen server")));
    QTRY_VERIFY_WITH_TIMEOUT(!voice->lastError().isEmpty(), kSpeechTimeoutMs);
    QTest::qWait(1500); // a fresh engine is stuck opening by now as well
    voice.reset();
    QTest::qWait(100);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The threads left behind come loose now and end by themselves.
    server_->signalSpeechd(SIGCONT);
    QTest::qWait(500);
}

void QtVoiceSpeechdTest::noServer_createFailsWithReason() {
    server_->stopSpeechd();
    QString error;
    QVERIFY(!QtVoice::create(&error, QStringLiteral("speechd")));
    QVERIFY2(error.contains(QStringLiteral("speech-dispatcher")), qPrintable(error));
}

QTEST_GUILESS_MAIN(QtVoiceSpeechdTest)
#include "QtVoiceSpeechdTest.moc"
