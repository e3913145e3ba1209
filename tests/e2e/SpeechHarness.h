// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private speech-dispatcher behind a private pulseaudio with a null sink, both in one temporary directory.
// Its output module is the generic module running a small script that writes each text to spoken.txt only
// after a pause: a text that is cut off never reaches the file, so the file proves both order and
// completeness, with no sound card. A text containing "slowly" is started but never finished, so that the
// server can be killed in the middle of it.
//
//   e2e::PrivateSpeechServer speech;   const QString problem = speech.start();   // empty on success
//   client environment: SPEECHD_ADDRESS=speech.address(), and speech.forbidAutoSpawn(its XDG_CONFIG_HOME)
//   speech.spoken()                    // every text spoken to the end, in order
//   speech.startedAtMs(text)           // when the text began to be spoken (ms since the epoch), -1 if never
//
//   e2e::OtherSpeechClient reader;     reader.connectTo(speech);   // another program on the same server, as a
//   reader.say(text); reader.cancelled()                           // screen reader: priority "message"

#include "ProcessTools.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextToSpeech>
#include <cstring>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace e2e {

class PrivateSpeechServer {
public:
    // Each text takes secondsPerText to "speak", plus secondsPerChar for each of its bytes (as real speech does).
    explicit PrivateSpeechServer(double secondsPerText = 0.3, double secondsPerChar = 0)
        : secondsPerText_(secondsPerText), secondsPerChar_(secondsPerChar) {}
    PrivateSpeechServer(const PrivateSpeechServer&) = delete;
    PrivateSpeechServer& operator=(const PrivateSpeechServer&) = delete;
    ~PrivateSpeechServer() {
        stopSpeechd();
        killProcess(pulse_);
        const qint64 pid = fileLines(path(QStringLiteral("slow.pid"))).value(0).toLongLong();
        if (pid > 0) {
            ::kill(pid_t(pid), SIGKILL);
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

        dieWithParent(pulse_);
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
        dieWithParent(*speechd_);
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
            killProcess(*speechd_);
            speechd_.reset();
        }
    }

    void signalSpeechd(int signal) {
        if (speechd_ && speechd_->processId() > 0) {
            ::kill(pid_t(speechd_->processId()), signal);
        }
    }

    // A client whose configuration lives in configHome must not start a server of its own (the system's, with
    // real speech) when it cannot reach this one: it would take over the address.
    bool forbidAutoSpawn(const QString& configHome) const {
        return QDir(configHome).mkpath(QStringLiteral("speech-dispatcher")) &&
               writeFile(QDir(configHome).filePath(QStringLiteral("speech-dispatcher/speechd.conf")),
                         "DisableAutoSpawn\n");
    }

    QString address() const { return QStringLiteral("unix_socket:") + socketPath(); }
    QString configHome() const { return path(QStringLiteral("config")); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QStringList spoken() const { return fileLines(path(QStringLiteral("spoken.txt"))); }
    QStringList started() const { return fileLines(path(QStringLiteral("started.txt"))); }
    // The wall-clock time the text first began to be spoken, to order speech against other programs' events.
    qint64 startedAtMs(const QString& text) const {
        for (const auto& [ms, line] : startedTimes()) {
            if (line == text) {
                return ms;
            }
        }
        return -1;
    }
    // Every start of a text, in order: when (ms since the epoch) and what.
    QList<std::pair<qint64, QString>> startedTimes() const { return timedLines(QStringLiteral("started-times.txt")); }
    // Every text spoken to the end, in order: when it ended (ms since the epoch) and what.
    QList<std::pair<qint64, QString>> spokenTimes() const { return timedLines(QStringLiteral("spoken-times.txt")); }
    QString socketPath() const { return path(QStringLiteral("run/speechd.sock")); }

private:
    QList<std::pair<qint64, QString>> timedLines(const QString& name) const {
        QList<std::pair<qint64, QString>> starts;
        for (const QString& line : fileLines(path(name))) {
            const qsizetype space = line.indexOf(QLatin1Char(' '));
            if (space > 0) {
                starts.append({line.left(space).toLongLong() / 1000000, line.mid(space + 1)}); // in nanoseconds
            }
        }
        return starts;
    }
    bool writeConfig() {
        const QString script =
            QStringLiteral("#!/bin/sh\n"
                           "printf '%s\\n' \"$1\" >> '%1/started.txt'\n"
                           "printf '%s %s\\n' \"$(date +%s%N)\" \"$1\" >> '%1/started-times.txt'\n"
                           "case \"$1\" in *slowly*) echo $$ > '%1/slow.pid'; exec sleep 600;; esac\n"
                           "sleep $(awk -v n=${#1} 'BEGIN { print %2 + %3 * n }')\n"
                           "printf '%s\\n' \"$1\" >> '%1/spoken.txt'\n"
                           "printf '%s %s\\n' \"$(date +%s%N)\" \"$1\" >> '%1/spoken-times.txt'\n")
                .arg(dir_.path())
                .arg(secondsPerText_)
                .arg(secondsPerChar_);
        const QString module = QStringLiteral("GenericExecuteSynth \"sh '%1/synth.sh' \\'$DATA\\'\"\n"
                                              "GenericMaxChunkLength 10000\n"
                                              "GenericDelimiters \"\"\n"
                                              // The client names its language after the locale, "c" here.
                                              "GenericLanguage \"c\" \"en\" \"utf-8\"\n"
                                              "GenericLanguage \"en\" \"en\" \"utf-8\"\n"
                                              "GenericLanguage \"en-us\" \"en\" \"utf-8\"\n"
                                              "AddVoice \"en\" \"MALE1\" \"plain\"\n")
                                   .arg(dir_.path());
        const QByteArray server = "LogLevel 3\n"
                                  "AudioOutputMethod \"pulse\"\n"
                                  "AddModule \"file\" \"sd_generic\" \"file.conf\"\n"
                                  "DefaultModule file\n"
                                  "DisableAutoSpawn\n";
        return writeFile(path(QStringLiteral("synth.sh")), script.toUtf8()) &&
               writeFile(path(QStringLiteral("config/speech-dispatcher/modules/file.conf")), module.toUtf8()) &&
               writeFile(path(QStringLiteral("config/speech-dispatcher/speechd.conf")), server);
    }

    QString logTail(const QString& name) const { return fileLines(path(name)).mid(-5).join(QLatin1Char(' ')); }

    static void killProcess(QProcess& process) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    double secondsPerText_;
    double secondsPerChar_;
    QTemporaryDir dir_;
    QProcessEnvironment env_;
    QProcess pulse_;
    std::unique_ptr<QProcess> speechd_;
};

// Another program on the same speech server with a connection of its own, as a screen reader is: it speaks at
// the priority given (a screen reader uses "message") and counts the server's events about its own texts, so a
// test sees whether anything cancelled them. Plain SSIP over the server's socket, in the test's thread.
class OtherSpeechClient {
public:
    OtherSpeechClient() = default;
    OtherSpeechClient(const OtherSpeechClient&) = delete;
    OtherSpeechClient& operator=(const OtherSpeechClient&) = delete;
    ~OtherSpeechClient() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    // Empty on success, otherwise why not.
    QString connectTo(const PrivateSpeechServer& server, const QByteArray& priority = "message") {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray socketPath = QFile::encodeName(server.socketPath());
        if (fd_ < 0 || size_t(socketPath.size()) >= sizeof(address.sun_path)) {
            return QStringLiteral("no socket");
        }
        std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
            return QStringLiteral("cannot connect to ") + server.socketPath();
        }
        for (const QByteArray& line : {QByteArray("SET SELF CLIENT_NAME test:reader:main"),
                                       QByteArray("SET SELF NOTIFICATION ALL on"), "SET SELF PRIORITY " + priority}) {
            if (!command(line).startsWith('2')) {
                return QStringLiteral("the server refused: ") + QString::fromLatin1(line);
            }
        }
        return QString();
    }

    // True when the server took the text.
    bool say(const QString& text) {
        QByteArray body = text.toUtf8();
        body.replace('\r', ' ').replace('\n', ' ');
        if (body.startsWith('.')) {
            body.prepend('.'); // a line of its own that begins with a dot is sent doubled
        }
        return command("SPEAK").startsWith("230") && command(body + "\r\n.").startsWith("225");
    }
    // CANCEL self: this client's own texts.
    bool cancelOwn() { return command("CANCEL self").startsWith('2'); }

    // Events so far about this client's texts.
    int begun() { return events("701 "); }
    int ended() { return events("702 "); }
    int cancelled() { return events("703 "); }

private:
    int events(const QByteArray& code) {
        while (readLine(0)) {
        }
        return int(lines_.count(code));
    }

    // The final line of the server's reply; events read on the way are kept.
    QByteArray command(const QByteArray& line) {
        const QByteArray data = line + "\r\n";
        if (fd_ < 0 || ::send(fd_, data.constData(), size_t(data.size()), MSG_NOSIGNAL) != data.size()) {
            return {};
        }
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            if (!readLine(int(deadline.remainingTime()))) {
                continue;
            }
            const QByteArray& got = lines_.last();
            if (got.size() >= 4 && !got.startsWith('7') && got.at(3) == ' ') {
                return got;
            }
        }
        return {};
    }

    // Reads one line into lines_, waiting up to timeoutMs; event lines are kept as their code and a space.
    bool readLine(int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (fd_ >= 0) {
            const qsizetype end = buffer_.indexOf("\r\n");
            if (end >= 0) {
                QByteArray line = buffer_.left(end);
                buffer_.remove(0, end + 2);
                lines_.append(line.startsWith('7') && line.size() >= 4 && line.at(3) == ' ' ? line.left(4) : line);
                return true;
            }
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, int(deadline.remainingTime())) <= 0) {
                return false;
            }
            char chunk[4096];
            const ssize_t got = ::read(fd_, chunk, sizeof(chunk));
            if (got <= 0) {
                return false;
            }
            buffer_.append(chunk, got);
        }
        return false;
    }

    int fd_ = -1;
    QByteArray buffer_;
    QByteArrayList lines_;
};

} // namespace e2e
