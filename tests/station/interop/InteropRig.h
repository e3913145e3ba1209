// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QTest>

namespace interop {

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
        qsizetype at = -1;
        (void)QTest::qWaitFor(
            [&] {
                for (at = from; at < events_.size() && !events_.at(at).startsWith(prefix); ++at) {
                }
                return at < events_.size();
            },
            timeoutMs);
        return at < events_.size() ? at : -1;
    }

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
