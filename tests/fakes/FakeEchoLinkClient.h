// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "EchoLinkClient.h"

#include <QSet>
#include <QStringList>
#include <functional>
#include <optional>

// Records every call, keeps a small connection state, can refuse callsigns or fail any operation, and
// emits events on demand.
class FakeEchoLinkClient : public EchoLinkClient {
    Q_OBJECT
public:
    using EchoLinkClient::EchoLinkClient;

    // Every call as "Name(args)", e.g. "Connect(N0CALL,-1)", "IsConnected(N0CALL)", "SetTransmit(true)".
    QStringList calls;
    QSet<QString> connected; // IsConnected answers from this; Connect/Disconnect change it
    QSet<QString> refused;   // Connect of these fails
    QSet<QString> failing;   // operation names that fail, e.g. "IsConnected", "SendChatText"
    QString ownCallsign = QStringLiteral("N0CALL");
    bool transmitting = false;
    int count = -1; // ConnectedCount answers this when >= 0, else connected.size()
    QStringList sentChat;
    bool available = true;
    int noWaitSends = 0; // texts sent without waiting; recorded as SendChatText calls too
    // Runs inside SendChatText before it answers, e.g. to deliver an event while a call is pending.
    std::function<void(const QString&)> duringSendChatText;
    // IsReceiving answers this; nullopt plays a station that does not report receiving. Tests emit
    // ReceivingChanged themselves.
    std::optional<bool> receiving;

    CallStatus Connect(const QString& callsign, int flag) override {
        const bool ok = record(QStringLiteral("Connect(%1,%2)").arg(callsign).arg(flag)) && !refused.contains(callsign);
        return status(ok, "refused", [&] { connected.insert(callsign); });
    }
    CallStatus Disconnect(const QString& callsign) override {
        return status(record(QStringLiteral("Disconnect(%1)").arg(callsign)), "disconnect failed",
                      [&] { connected.remove(callsign); });
    }
    CallStatus DisconnectAll() override {
        return status(record(QStringLiteral("DisconnectAll()")), "disconnect all failed", [&] { connected.clear(); });
    }
    CallStatus SetTransmit(bool on) override {
        return status(record(QStringLiteral("SetTransmit(%1)").arg(QLatin1String(on ? "true" : "false"))),
                      "transmit failed", [&] { transmitting = on; });
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
        return answer(QStringLiteral("ConnectedCount()"), count >= 0 ? count : static_cast<int>(connected.size()));
    }
    CallResult<bool> IsConnected(const QString& callsign) override {
        return answer(QStringLiteral("IsConnected(%1)").arg(callsign), connected.contains(callsign));
    }
    CallResult<QString> OwnCallsign() override { return answer(QStringLiteral("OwnCallsign()"), ownCallsign); }
    CallResult<bool> IsReceiving() override {
        if (!receiving.has_value()) {
            calls << QStringLiteral("IsReceiving()");
            return EchoLinkClient::IsReceiving();
        }
        return answer(QStringLiteral("IsReceiving()"), *receiving);
    }
    bool supportsReceiving() override { return receiving.has_value(); }
    bool isAvailable() const override { return available; }

    // Calls whose text starts with prefix, e.g. callsTo("Connect(").
    QStringList callsTo(const QString& prefix) const {
        QStringList out;
        for (const QString& c : calls) {
            if (c.startsWith(prefix)) {
                out << c;
            }
        }
        return out;
    }

private:
    // Records the call; false when its operation is set to fail.
    bool record(const QString& call) {
        calls << call;
        return !failing.contains(call.section(QLatin1Char('('), 0, 0));
    }
    template <typename Change> static CallStatus status(bool ok, const char* failure, Change change) {
        if (!ok) {
            return CallStatus::failure(QString::fromLatin1(failure));
        }
        change();
        return CallStatus::success();
    }
    template <typename T> CallResult<T> answer(const QString& call, const T& value) {
        return record(call) ? CallResult<T>::success(value) : CallResult<T>::failure(QStringLiteral("no answer"));
    }
};
