// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private session bus, and the real echolink-sim on it driven through its stdin and followed through its stdout.

#include "ProcessTools.h"

#include <QDBusConnection>
#include <QTemporaryDir>

namespace e2e {

class PrivateBus {
public:
    ~PrivateBus() {
        for (const QString& name : std::as_const(connectionNames_)) {
            QDBusConnection::disconnectFromBus(name);
        }
        stopProcess(daemon_);
    }

    // The bus starts programs only from service files in serviceDir, so an installed station is never started by
    // a test. Limits as a desktop's session bus has them.
    bool start(QString* error, const QString& serviceDir = {}) {
        writeFile(dir_.filePath(QStringLiteral("bus.conf")),
                  QStringLiteral("<busconfig><type>session</type><keep_umask/><listen>unix:tmpdir=/tmp</listen><auth>"
                                 "EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop="
                                 "\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy><servicedir>%1"
                                 "</servicedir><limit name=\"service_start_timeout\">120000</limit><limit name=\""
                                 "auth_timeout\">240000</limit><limit name=\"max_replies_per_connection\">50000</limit>"
                                 "<limit name=\"max_match_rules_per_connection\">50000</limit></busconfig>\n")
                      .arg(serviceDir.isEmpty() ? dir_.path() : serviceDir)
                      .toUtf8());
        dieWithParent(daemon_);
        daemon_.startCommand(
            QStringLiteral(DBUS_DAEMON_PATH " --print-address=1 --nofork --config-file=%1/bus.conf").arg(dir_.path()));
        daemon_.waitForReadyRead(10000);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        *error = QStringLiteral("dbus-daemon gave no address: ") + QString::fromUtf8(daemon_.readAllStandardError());
        return !address_.isEmpty();
    }
    QString address() const { return address_; }
    QProcessEnvironment environment() const {
        return withVariables(QProcessEnvironment::systemEnvironment(),
                             QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + address_);
    }
    QDBusConnection connect() {
        connectionNames_ << QStringLiteral("e2e-%1-%2").arg(daemon_.processId()).arg(connectionNames_.size());
        return QDBusConnection::connectToBus(address_, connectionNames_.constLast());
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    QStringList connectionNames_;
};

class StationProcess : public Child {
public:
    explicit StationProcess(const PrivateBus& bus) : environment_(bus.environment()) {}

    void setEnvironment(const QProcessEnvironment& environment) { environment_ = environment; }
    bool start(const QStringList& arguments, QString* error, bool waitReady = true, int timeoutMs = 10000) {
        process_.setProcessEnvironment(environment_);
        process_.start(QStringLiteral(ECHOLINK_SIM_PATH), arguments);
        const bool started = process_.waitForStarted(timeoutMs) &&
                             (!waitReady || waitForLineStartingWith(QStringLiteral("# echolink-sim ready"), timeoutMs));
        *error = QStringLiteral("echolink-sim did not start: ") + errors();
        return started;
    }
    void send(const QString& command) {
        process_.write(command.toUtf8() + '\n');
        process_.waitForBytesWritten(1000);
    }
    void closeInput() { process_.closeWriteChannel(); }

    // The next line after the last one found that equals line (or starts with prefix).
    bool waitForLine(const QString& line, int timeoutMs = 5000) { return waitFor(line, true, timeoutMs); }
    bool waitForLineStartingWith(const QString& prefix, int timeoutMs = 5000, QString* found = nullptr) {
        const bool hit = waitFor(prefix, false, timeoutMs);
        if (hit && found != nullptr) {
            *found = lines_.at(cursor_ - 1);
        }
        return hit;
    }
    const QStringList& lines() {
        while (process_.canReadLine()) {
            lines_ << QString::fromUtf8(process_.readLine()).chopped(1);
        }
        return lines_;
    }

private:
    bool waitFor(const QString& text, bool whole, int timeoutMs) {
        const auto scan = [&] {
            for (qsizetype i = cursor_; i < lines().size(); ++i) {
                if (whole ? lines_.at(i) == text : lines_.at(i).startsWith(text)) {
                    return (cursor_ = i + 1) > 0;
                }
            }
            return false;
        };
        bool hit = false;
        (void)QTest::qWaitFor([&] { return (hit = scan()) || !isRunning(); }, timeoutMs);
        return hit || scan();
    }

    QProcessEnvironment environment_;
    QStringList lines_;
    qsizetype cursor_ = 0;
};

} // namespace e2e
