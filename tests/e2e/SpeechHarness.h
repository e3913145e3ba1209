// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private speech-dispatcher behind a private pulseaudio with a null sink. Its voice is a script (synth.sh, run for
// each text) that notes each text begun, then after a pause each text spoken to the end; one containing "slowly"
// never ends.

#include "ProcessTools.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTextToSpeech>
#include <algorithm>
#include <memory>

namespace e2e {

class PrivateSpeechServer {
public:
    // Each text takes secondsPerText to "speak".
    explicit PrivateSpeechServer(double secondsPerText = 0.3) : secondsPerText_(secondsPerText) {}
    ~PrivateSpeechServer() {
        stopSpeechd();
        stopProcess(pulse_);
        if (const qint64 pid = fileLines(path(QStringLiteral("slow.pid"))).value(0).toLongLong(); pid > 0) {
            ::kill(pid_t(pid), SIGKILL);
        }
    }

    QString start() {
        if (!QTextToSpeech::availableEngines().contains(QStringLiteral("speechd"))) {
            return QStringLiteral("the Qt speechd plug-in is not installed");
        }
        env_ = withVariables(
            ownHome(QProcessEnvironment::systemEnvironment(), dir_.path()),
            QStringLiteral("PULSE_RUNTIME_PATH=%1/run/pulse PULSE_SERVER=unix:%1/run/pulse/native").arg(dir_.path()));
        env_.remove(QStringLiteral("SPEECHD_ADDRESS"));
        QDir(dir_.path()).mkpath(QStringLiteral("run/pulse"));
        QDir(dir_.path()).mkpath(QStringLiteral("config/speech-dispatcher/modules"));
        const QString script = QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> started.txt\n"
                                              "case \"$1\" in *slowly*) echo $$ > slow.pid; exec sleep 600;; esac\n"
                                              "sleep %1\nprintf '%s\\n' \"$1\" >> spoken.txt\n")
                                   .arg(secondsPerText_);
        // Clients name their language after the locale: "c" here.
        const QString module =
            QStringLiteral("GenericExecuteSynth \"cd '%1' && sh synth.sh \\'$DATA\\'\"\n"
                           "GenericMaxChunkLength 10000\nGenericDelimiters \"\"\nAddVoice \"en\" "
                           "\"MALE1\" \"plain\"\nGenericLanguage \"c\" \"en\" \"utf-8\"\n"
                           "GenericLanguage \"en\" \"en\" \"utf-8\"\nGenericLanguage \"en-us\" \"en\" "
                           "\"utf-8\"\n")
                .arg(dir_.path());
        writeFile(path(QStringLiteral("synth.sh")), script.toUtf8());
        writeFile(path(QStringLiteral("config/speech-dispatcher/modules/file.conf")), module.toUtf8());
        writeFile(path(QStringLiteral("config/speech-dispatcher/speechd.conf")),
                  "AudioOutputMethod \"pulse\"\nAddModule \"file\" \"sd_generic\" \"file.conf\"\nDefaultModule file\n"
                  "DisableAutoSpawn\n");
        startLogged(pulse_, env_,
                    QStringLiteral("pulseaudio --daemonize=no -n --use-pid-file=no --exit-idle-time=-1 --disallow-exit "
                                   "--disable-shm=yes --load=module-null-sink --load=module-native-protocol-unix"),
                    path(QStringLiteral("pulse.log")));
        const bool up = waitForFile(path(QStringLiteral("run/pulse/native")), 10000);
        return up ? startSpeechd() : QStringLiteral("pulseaudio did not start: ") + pulse_.errorString();
    }

    QString startSpeechd() {
        QFile::remove(socketPath());
        const QString command = QStringLiteral("speech-dispatcher -s -t 0 -c unix_socket -S %1/run/speechd.sock -C "
                                               "%1/config/speech-dispatcher -L %1");
        startLogged(speechd_, env_, command.arg(dir_.path()), path(QStringLiteral("speechd.log")));
        const bool up = waitForFile(socketPath(), 10000);
        return up ? QString() : QStringLiteral("speech-dispatcher did not start: ") + speechd_.errorString();
    }
    void stopSpeechd() {
        speechd_.kill();
        speechd_.waitForFinished(5000);
    }
    void signalSpeechd(int signal) { ::kill(pid_t(speechd_.processId()), signal); }

    QString address() const { return QStringLiteral("unix_socket:") + socketPath(); }
    QString socketPath() const { return path(QStringLiteral("run/speechd.sock")); }
    QString configHome() const { return path(QStringLiteral("config")); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    // Every text begun, and every text spoken to the end, in order.
    QStringList started() const { return fileLines(path(QStringLiteral("started.txt"))); }
    QStringList spoken() const { return fileLines(path(QStringLiteral("spoken.txt"))); }

private:
    double secondsPerText_;
    QTemporaryDir dir_;
    QProcessEnvironment env_;
    QProcess pulse_;
    QProcess speechd_;
};

// Another program with a connection of its own to the same server, as a screen reader is (priority "message"): it
// counts the server's events about its own texts, so a test sees whether anything cancelled them.
class OtherSpeechClient {
public:
    // Empty on success, otherwise why not.
    QString connectTo(const PrivateSpeechServer& server) {
        socket_.connectToServer(server.socketPath());
        return socket_.waitForConnected(10000) && command("SET SELF CLIENT_NAME test:reader:main") &&
                       command("SET SELF NOTIFICATION ALL on") && command("SET SELF PRIORITY message")
                   ? QString()
                   : QStringLiteral("the speech server refused the reader: ") + socket_.errorString() +
                         QString::fromUtf8(lines_.join('|'));
    }
    // Whether the server took the text, one line not beginning with a dot.
    bool say(const QString& text) { return command("SPEAK") && command(text.toUtf8() + "\r\n."); }
    int ended() { return events("702 "); }
    int cancelled() { return events("703 "); }

private:
    int events(const QByteArray& code) {
        while (readLine(0)) {
        }
        return int(
            std::count_if(lines_.cbegin(), lines_.cend(), [&](const QByteArray& l) { return l.startsWith(code); }));
    }
    // Whether the server's reply (not an event: 7xx) says yes.
    bool command(const QByteArray& line) {
        socket_.write(line + "\r\n");
        for (QDeadlineTimer deadline(10000); readLine(int(deadline.remainingTime()));) {
            if (lines_.constLast().at(3) == ' ' && !lines_.constLast().startsWith('7')) {
                return lines_.constLast().startsWith('2');
            }
        }
        return false;
    }
    bool readLine(int timeoutMs) {
        while (!socket_.canReadLine()) {
            if (!socket_.waitForReadyRead(timeoutMs)) {
                return false;
            }
        }
        lines_.append(socket_.readLine().leftJustified(4));
        return true;
    }

    QLocalSocket socket_;
    QByteArrayList lines_;
};

} // namespace e2e
