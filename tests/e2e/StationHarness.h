// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private session bus and the real echolink-sim on it; children die with the test.

#include "ProcessTools.h"

#include <QDBusConnection>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#ifndef ECHOLINK_SIM_PATH
#error "ECHOLINK_SIM_PATH must name the echolink-sim binary"
#endif
#ifndef DBUS_DAEMON_PATH
#define DBUS_DAEMON_PATH "dbus-daemon"
#endif

namespace e2e {

inline QString simPath() {
    return QStringLiteral(ECHOLINK_SIM_PATH);
}

// A dbus-daemon of our own, so tests neither need nor disturb the user's session bus.
class PrivateBus {
public:
    PrivateBus() = default;
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    ~PrivateBus() { stop(); }

    // The bus starts programs by itself (D-Bus activation) only from service files in serviceDir, none when it
    // is empty: the machine's and the user's service files are never read, so an installed station is never
    // started by a test. What it starts gets daemonEnvironment, this process's own when that is empty.
    bool start(QString* error, int timeoutMs = 10000, const QString& serviceDir = {},
               const QProcessEnvironment& daemonEnvironment = {}) {
        const QString config = configDir_.filePath(QStringLiteral("bus.conf"));
        if (!configDir_.isValid() || !writeFile(config, busConfig(serviceDir).toUtf8())) {
            *error = QStringLiteral("cannot write the bus configuration %1").arg(config);
            return false;
        }
        dieWithParent(daemon_);
        daemon_.setProgram(QStringLiteral(DBUS_DAEMON_PATH));
        daemon_.setArguments({QStringLiteral("--config-file=") + config, QStringLiteral("--print-address=1"),
                              QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
        daemon_.setProcessChannelMode(QProcess::SeparateChannels);
        if (!daemonEnvironment.isEmpty()) {
            daemon_.setProcessEnvironment(daemonEnvironment);
        }
        daemon_.start();
        if (!daemon_.waitForStarted(timeoutMs)) {
            *error = QStringLiteral("cannot start %1: %2").arg(daemon_.program(), daemon_.errorString());
            return false;
        }
        const QDeadlineTimer deadline(timeoutMs);
        while (!daemon_.canReadLine() && !deadline.hasExpired() && daemon_.state() == QProcess::Running) {
            daemon_.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        if (address_.isEmpty()) {
            *error = QStringLiteral("dbus-daemon gave no address: %1")
                         .arg(QString::fromUtf8(daemon_.readAllStandardError()));
            stop();
            return false;
        }
        return true;
    }

    void stop() {
        for (const QString& name : std::as_const(connectionNames_)) {
            QDBusConnection::disconnectFromBus(name);
        }
        connectionNames_.clear();
        stopProcess(daemon_);
        address_.clear();
    }

    QString address() const { return address_; }

    // The environment for children: this process's, with the private bus as the session bus.
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        return env;
    }

    // A new in-process connection to this bus; closed by stop().
    QDBusConnection connect() {
        const QString name = QStringLiteral("e2e-%1-%2").arg(daemon_.processId()).arg(connectionNames_.size());
        connectionNames_ << name;
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    // A session bus as Debian's session.conf makes it (limits included), with only the given service folder.
    static QString busConfig(const QString& serviceDir) {
        QString config = QStringLiteral(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n<type>session</type>\n<keep_umask/>\n<listen>unix:tmpdir=/tmp</listen>\n"
            "<auth>EXTERNAL</auth>\n<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>\n");
        if (!serviceDir.isEmpty()) {
            config += QStringLiteral("<servicedir>%1</servicedir>\n").arg(serviceDir.toHtmlEscaped());
        }
        return config + QStringLiteral("<limit name=\"max_incoming_bytes\">1000000000</limit>\n"
                                       "<limit name=\"max_outgoing_bytes\">1000000000</limit>\n"
                                       "<limit name=\"max_message_size\">1000000000</limit>\n"
                                       "<limit name=\"service_start_timeout\">120000</limit>\n"
                                       "<limit name=\"auth_timeout\">240000</limit>\n"
                                       "<limit name=\"max_completed_connections\">100000</limit>\n"
                                       "<limit name=\"max_incomplete_connections\">10000</limit>\n"
                                       "<limit name=\"max_connections_per_user\">100000</limit>\n"
                                       "<limit name=\"max_pending_service_starts\">10000</limit>\n"
                                       "<limit name=\"max_names_per_connection\">50000</limit>\n"
                                       "<limit name=\"max_match_rules_per_connection\">50000</limit>\n"
                                       "<limit name=\"max_replies_per_connection\">50000</limit>\n"
                                       "</busconfig>\n");
    }

    QTemporaryDir configDir_;
    QProcess daemon_;
    QString address_;
    QStringList connectionNames_;
};

// The real echolink-sim, driven through its stdin and followed through its stdout.
class StationProcess {
public:
    explicit StationProcess(const PrivateBus& bus) : environment_(bus.environment()) {
        dieWithParent(process_);
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { collect(); });
        QObject::connect(&process_, &QProcess::readyReadStandardError,
                         [this] { stderr_ += QString::fromUtf8(process_.readAllStandardError()); });
    }
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;
    ~StationProcess() { stop(); }

    void setEnvironment(const QProcessEnvironment& environment) { environment_ = environment; }

    // Starts the sim and, with waitReady, waits until it owns the service name.
    bool start(const QStringList& arguments, QString* error, bool waitReady = true, int timeoutMs = 10000) {
        process_.setProcessEnvironment(environment_);
        process_.start(simPath(), arguments);
        if (!process_.waitForStarted(timeoutMs)) {
            *error = QStringLiteral("cannot start %1: %2").arg(simPath(), process_.errorString());
            return false;
        }
        if (waitReady && !waitForLineStartingWith(QStringLiteral("# echolink-sim ready"), timeoutMs)) {
            *error = QStringLiteral("echolink-sim did not become ready. Output: %1 Errors: %2")
                         .arg(lines_.join(QLatin1Char('\n')), stderr_);
            return false;
        }
        return true;
    }

    // Writes one command line to the sim's stdin.
    void send(const QString& command) {
        process_.write(command.toUtf8() + '\n');
        process_.waitForBytesWritten(1000);
    }
    void closeInput() { process_.closeWriteChannel(); }

    // Waits, running the event loop, for the next line after the cursor that equals line; moves the
    // cursor past it.
    bool waitForLine(const QString& line, int timeoutMs = 5000) {
        return waitFor([&](const QString& l) { return l == line; }, timeoutMs) >= 0;
    }
    bool waitForLineStartingWith(const QString& prefix, int timeoutMs = 5000, QString* found = nullptr) {
        const qsizetype index = waitFor([&](const QString& l) { return l.startsWith(prefix); }, timeoutMs);
        if (index >= 0 && found != nullptr) {
            *found = lines_.at(index);
        }
        return index >= 0;
    }
    // Sends "echo MARK" and waits until the sim printed it: every command sent before has been run.
    bool sync(int timeoutMs = 5000) {
        const QString mark = QStringLiteral("sync-%1").arg(++syncCount_);
        send(QStringLiteral("echo ") + mark);
        return waitForLine(QStringLiteral("# ") + mark, timeoutMs);
    }

    bool waitForExit(int timeoutMs = 5000) {
        if (process_.state() == QProcess::NotRunning) {
            return true;
        }
        const bool done = QTest::qWaitFor([&] { return process_.state() == QProcess::NotRunning; }, timeoutMs);
        collect();
        return done;
    }
    int exitCode() const { return process_.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }

    void sendSignal(int signal) { ::kill(static_cast<pid_t>(process_.processId()), signal); }
    void stop() { stopProcess(process_); }

    // Every complete line the sim has printed so far, and what it wrote to stderr.
    const QStringList& lines() const { return lines_; }
    QString errors() const { return stderr_; }

private:
    template <typename Match> qsizetype waitFor(Match match, int timeoutMs) {
        qsizetype found = -1;
        auto scan = [&] {
            for (qsizetype i = cursor_; i < lines_.size(); ++i) {
                if (match(lines_.at(i))) {
                    found = i;
                    return true;
                }
            }
            return false;
        };
        if (!scan()) {
            // Stop early when the sim has ended; its last lines are collected below.
            (void)QTest::qWaitFor([&] { return scan() || process_.state() == QProcess::NotRunning; }, timeoutMs);
            collect();
            scan();
        }
        if (found >= 0) {
            cursor_ = found + 1;
        }
        return found;
    }

    void collect() {
        partial_ += process_.readAllStandardOutput();
        qsizetype newline;
        while ((newline = partial_.indexOf('\n')) >= 0) {
            lines_ << QString::fromUtf8(partial_.left(newline));
            partial_.remove(0, newline + 1);
        }
    }

    QProcess process_;
    QProcessEnvironment environment_;
    QByteArray partial_;
    QStringList lines_;
    qsizetype cursor_ = 0;
    QString stderr_;
    int syncCount_ = 0;
};

} // namespace e2e
