// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/EchoLinkClient.h"

#include <QRegularExpression> // some tests use it through this header
#include <QSet>
#include <QStringList>
#include <functional>
#include <optional>

// Records every call, keeps a small connection state, can refuse callsigns or fail any operation; tests emit
// its events themselves.
class FakeEchoLinkClient : public EchoLinkClient {
    Q_OBJECT
public:
    using EchoLinkClient::EchoLinkClient;

    QStringList calls;       // "Name(args)", e.g. "Connect(N0CALL,-1)", "IsConnected(N0CALL)", "SetTransmit(true)"
    QSet<QString> connected; // IsConnected answers from this; Connect/Disconnect change it
    QSet<QString> refused;   // Connect of these fails
    QSet<QString> failing;   // operation names that fail, e.g. "IsConnected", "SendChatText"
    QString ownCallsign = QStringLiteral("N0CALL");
    bool transmitting = false;
    int count = -1; // ConnectedCount answers this when >= 0, else connected.size()
    QStringList sentChat;
    bool available = true;
    int noWaitSends = 0; // texts sent without waiting; recorded as SendChatText calls too
    std::function<void(const QString&)> duringSendChatText; // runs inside SendChatText before it answers
    std::optional<bool> receiving; // IsReceiving answers this; nullopt: a station that does not report receiving

    CallStatus Connect(const QString& call, int flag) override {
        const bool ok = record(QStringLiteral("Connect(%1,%2)").arg(call).arg(flag)) && !refused.contains(call);
        return status(ok, "refused", [&] { connected.insert(call); });
    }
    CallStatus Disconnect(const QString& call) override {
        return status(record(QStringLiteral("Disconnect(%1)").arg(call)), "disconnect failed",
                      [&] { connected.remove(call); });
    }
    CallStatus DisconnectAll() override {
        return status(record(QStringLiteral("DisconnectAll()")), "disconnect all failed", [&] { connected.clear(); });
    }
    CallStatus SetTransmit(bool on) override {
        const bool ok = record(QStringLiteral("SetTransmit(%1)").arg(QLatin1String(on ? "true" : "false")));
        return status(ok, "transmit failed", [&] { transmitting = on; });
    }
    CallStatus SendChatText(const QString& text) override {
        calls << QStringLiteral("SendChatText(%1)").arg(text);
        if (duringSendChatText) {
            duringSendChatText(text);
        }
        return status(!failing.contains(QStringLiteral("SendChatText")), "send failed", [&] { sentChat << text; });
    }
    void SendChatTextNoWait(const QString& text) override {
        ++noWaitSends;
        (void)SendChatText(text);
    }
    CallResult<bool> IsTransmitting() override { return answer(QStringLiteral("IsTransmitting()"), transmitting); }
    CallResult<int> ConnectedCount() override {
        return answer(QStringLiteral("ConnectedCount()"), count >= 0 ? count : int(connected.size()));
    }
    CallResult<bool> IsConnected(const QString& call) override {
        return answer(QStringLiteral("IsConnected(%1)").arg(call), connected.contains(call));
    }
    CallResult<QString> OwnCallsign() override { return answer(QStringLiteral("OwnCallsign()"), ownCallsign); }
    CallResult<bool> IsReceiving() override {
        return receiving ? answer(QStringLiteral("IsReceiving()"), *receiving) : EchoLinkClient::IsReceiving();
    }
    bool supportsReceiving() override { return receiving.has_value(); }
    bool isAvailable() const override { return available; }

private:
    bool record(const QString& call) { // false when its operation is set to fail
        calls << call;
        return !failing.contains(call.section(QLatin1Char('('), 0, 0));
    }
    template <typename Change> static CallStatus status(bool ok, const char* failure, Change change) {
        return ok ? (change(), CallStatus::success()) : CallStatus::failure(QString::fromLatin1(failure));
    }
    template <typename T> CallResult<T> answer(const QString& call, const T& value) {
        return record(call) ? CallResult<T>::success(value) : CallResult<T>::failure(QStringLiteral("no answer"));
    }
};
