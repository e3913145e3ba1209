// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The interop rig's programs, their output kept line by line (and in a log file), and the station's bus signals.

#include "ProcessTools.h"

#include <QDBusConnection>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

// QtTest cuts failure messages at 1 KiB: the log tails go to the output in full, the message names the check.
#define EXPECT(condition, details)                                                                                     \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            qInfo().noquote() << (details);                                                                            \
            QFAIL("expected: " #condition);                                                                            \
        }                                                                                                              \
    } while (false)

namespace interop {

// Runs the event loop until found() gives an index (returned) or the time is up (-1).
template <typename Find> qsizetype waitIndex(Find found, int timeoutMs) {
    qsizetype at = -1;
    (void)QTest::qWaitFor([&] { return (at = found()) >= 0; }, timeoutMs);
    return at;
}

class Child {
public:
    Child(QString name, QString logPath) : name_(std::move(name)), log_(std::move(logPath)) {
        e2e::dieWithParent(process_);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { collect(); });
    }
    ~Child() { e2e::stopProcess(process_); }

    bool start(const QString& program, const QStringList& arguments, QString* error) {
        if (!log_.open(QIODevice::WriteOnly | QIODevice::Append)) {
            *error = QStringLiteral("cannot write %1").arg(log_.fileName());
            return false;
        }
        process_.start(program, arguments);
        if (!process_.waitForStarted(5000)) {
            *error = QStringLiteral("cannot start %1 (%2): %3").arg(name_, program, process_.errorString());
            return false;
        }
        return true;
    }
    QProcess& process() { return process_; }
    void send(const QString& line) {
        process_.write(line.toUtf8() + '\n');
        process_.waitForBytesWritten(1000);
    }
    void signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }

    qsizetype size() const { return lines_.size(); }
    // The first line at or after `from` matching the pattern, or -1.
    qsizetype find(const QString& pattern, qsizetype from = 0) const {
        const QRegularExpression re(pattern);
        for (qsizetype i = from; i < lines_.size(); ++i) {
            if (re.match(lines_.at(i)).hasMatch()) {
                return i;
            }
        }
        return -1;
    }
    qsizetype waitFor(const QString& pattern, int timeoutMs, qsizetype from = 0) {
        return waitIndex([&] { return find(pattern, from); }, timeoutMs);
    }
    QString line(qsizetype index) const { return lines_.value(index); }
    QString tail(int n = 12) const {
        return QStringLiteral("--- %1 (last %2 of %3 lines):\n%4\n")
            .arg(name_)
            .arg(qMin<qsizetype>(n, lines_.size()))
            .arg(lines_.size())
            .arg(lines_.mid(qMax<qsizetype>(0, lines_.size() - n)).join(QLatin1Char('\n')));
    }

private:
    void collect() {
        const QByteArray data = process_.readAllStandardOutput();
        log_.write(data);
        log_.flush();
        partial_ += data;
        for (qsizetype newline; (newline = partial_.indexOf('\n')) >= 0; partial_.remove(0, newline + 1)) {
            lines_ << QString::fromUtf8(partial_.left(newline)).remove(QLatin1Char('\r'));
        }
    }

    QString name_;
    QFile log_;
    QProcess process_;
    QByteArray partial_;
    QStringList lines_;
};

// What the station said on the bus, in order: "Connected Q1BBB|Bob|127.0.0.3", "ReceivingChanged true Q1BBB", ...
class BusRecorder : public QObject {
    Q_OBJECT
public:
    bool listen(QDBusConnection& bus, const QString& path, const QString& interface) {
        const QString any; // the station's unique name is not known in advance
        return bus.connect(any, path, interface, QStringLiteral("Closing"), this, SLOT(onClosing())) &&
               bus.connect(any, path, interface, QStringLiteral("ChatTextReceived"), this, SLOT(onChat(QString))) &&
               bus.connect(any, path, interface, QStringLiteral("Connected"), this,
                           SLOT(onConnected(QString, QString, QString))) &&
               bus.connect(any, path, interface, QStringLiteral("Disconnected"), this, SLOT(onDisconnected(QString))) &&
               bus.connect(any, path, interface, QStringLiteral("ReceivingChanged"), this,
                           SLOT(onReceiving(bool, QString)));
    }
    const QStringList& events() const { return events_; }
    // Index of the first event at or after `from` starting with prefix, waiting up to timeoutMs; -1 if none.
    qsizetype waitFor(const QString& prefix, int timeoutMs, qsizetype from = 0) {
        return waitIndex(
            [&] {
                for (qsizetype i = from; i < events_.size(); ++i) {
                    if (events_.at(i).startsWith(prefix)) {
                        return i;
                    }
                }
                return qsizetype(-1);
            },
            timeoutMs);
    }
    QString dump() const { return QStringLiteral("--- bus signals:\n%1\n").arg(events_.join(QLatin1Char('\n'))); }

private Q_SLOTS:
    void onClosing() { events_ << QStringLiteral("Closing"); }
    void onChat(const QString& text) { events_ << QStringLiteral("ChatTextReceived ") + text; }
    void onConnected(const QString& call, const QString& name, const QString& address) {
        events_ << QStringLiteral("Connected %1|%2|%3").arg(call, name, address);
    }
    void onDisconnected(const QString& call) { events_ << QStringLiteral("Disconnected ") + call; }
    void onReceiving(bool receiving, const QString& call) {
        events_ << QStringLiteral("ReceivingChanged %1 %2").arg(QLatin1String(receiving ? "true" : "false"), call);
    }

private:
    QStringList events_;
};

} // namespace interop
