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

#include "ProcessTools.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextToSpeech>
#include <memory>

namespace e2e {

class PrivateSpeechServer {
public:
    // Each text takes secondsPerText to "speak".
    explicit PrivateSpeechServer(double secondsPerText = 0.3) : secondsPerText_(secondsPerText) {}
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
        for (const QString& line : fileLines(path(QStringLiteral("started-times.txt")))) {
            const qsizetype space = line.indexOf(QLatin1Char(' '));
            if (space > 0 && QStringView(line).mid(space + 1) == text) {
                return QStringView(line).left(space).toLongLong() / 1000000; // written in nanoseconds
            }
        }
        return -1;
    }

private:
    QString socketPath() const { return path(QStringLiteral("run/speechd.sock")); }

    bool writeConfig() {
        const QString script =
            QStringLiteral("#!/bin/sh\n"
                           "printf '%s\\n' \"$1\" >> '%1/started.txt'\n"
                           "printf '%s %s\\n' \"$(date +%s%N)\" \"$1\" >> '%1/started-times.txt'\n"
                           "case \"$1\" in *slowly*) echo $$ > '%1/slow.pid'; exec sleep 600;; esac\n"
                           "sleep %2\n"
                           "printf '%s\\n' \"$1\" >> '%1/spoken.txt'\n")
                .arg(dir_.path())
                .arg(secondsPerText_);
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
    QTemporaryDir dir_;
    QProcessEnvironment env_;
    QProcess pulse_;
    std::unique_ptr<QProcess> speechd_;
};

} // namespace e2e
