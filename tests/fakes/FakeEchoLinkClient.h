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
    // Runs inside SendChatText before it answers, e.g. to deliver an event while a call is pending.
    std::function<void(const QString&)> duringSendChatText;

    CallStatus Connect(const QString& callsign, int flag) override {
        calls << QStringLiteral("Connect(%1,%2)").arg(callsign).arg(flag);
        if (fails(QStringLiteral("Connect")) || refused.contains(callsign)) {
            return CallStatus::failure(QStringLiteral("refused"));
        }
        connected.insert(callsign);
        return CallStatus::success();
    }
    CallStatus Disconnect(const QString& callsign) override {
        calls << QStringLiteral("Disconnect(%1)").arg(callsign);
        if (fails(QStringLiteral("Disconnect"))) {
            return CallStatus::failure(QStringLiteral("disconnect failed"));
        }
        connected.remove(callsign);
        return CallStatus::success();
    }
    CallStatus DisconnectAll() override {
        calls << QStringLiteral("DisconnectAll()");
        if (fails(QStringLiteral("DisconnectAll"))) {
            return CallStatus::failure(QStringLiteral("disconnect all failed"));
        }
        connected.clear();
        return CallStatus::success();
    }
    CallStatus SetTransmit(bool on) override {
        calls << QStringLiteral("SetTransmit(%1)").arg(on ? QStringLiteral("true") : QStringLiteral("false"));
        if (fails(QStringLiteral("SetTransmit"))) {
            return CallStatus::failure(QStringLiteral("transmit failed"));
        }
        transmitting = on;
        return CallStatus::success();
    }
    CallResult<bool> IsTransmitting() override {
        calls << QStringLiteral("IsTransmitting()");
        if (fails(QStringLiteral("IsTransmitting"))) {
            return CallResult<bool>::failure(QStringLiteral("no answer"));
        }
        return CallResult<bool>::success(transmitting);
    }
    CallResult<int> ConnectedCount() override {
        calls << QStringLiteral("ConnectedCount()");
        if (fails(QStringLiteral("ConnectedCount"))) {
            return CallResult<int>::failure(QStringLiteral("no answer"));
        }
        return CallResult<int>::success(count >= 0 ? count : static_cast<int>(connected.size()));
    }
    CallResult<bool> IsConnected(const QString& callsign) override {
        calls << QStringLiteral("IsConnected(%1)").arg(callsign);
        if (fails(QStringLiteral("IsConnected"))) {
            return CallResult<bool>::failure(QStringLiteral("no answer"));
        }
        return CallResult<bool>::success(connected.contains(callsign));
    }
    CallResult<QString> OwnCallsign() override {
        calls << QStringLiteral("OwnCallsign()");
        if (fails(QStringLiteral("OwnCallsign"))) {
            return CallResult<QString>::failure(QStringLiteral("no answer"));
        }
        return CallResult<QString>::success(ownCallsign);
    }
    CallStatus SendChatText(const QString& text) override {
        calls << QStringLiteral("SendChatText(%1)").arg(text);
        if (duringSendChatText) {
            duringSendChatText(text);
        }
        if (fails(QStringLiteral("SendChatText"))) {
            return CallStatus::failure(QStringLiteral("send failed"));
        }
        sentChat << text;
        return CallStatus::success();
    }
    // Texts sent without waiting for the answer; they are recorded as SendChatText calls too.
    int noWaitSends = 0;
    void SendChatTextNoWait(const QString& text) override {
        ++noWaitSends;
        (void)SendChatText(text);
    }
    // IsReceiving answers this; nullopt plays a station that does not report receiving. Tests emit
    // ReceivingChanged themselves.
    std::optional<bool> receiving;
    CallResult<bool> IsReceiving() override {
        calls << QStringLiteral("IsReceiving()");
        if (!receiving.has_value()) {
            return EchoLinkClient::IsReceiving();
        }
        if (fails(QStringLiteral("IsReceiving"))) {
            return CallResult<bool>::failure(QStringLiteral("no answer"));
        }
        return CallResult<bool>::success(*receiving);
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
    bool fails(const QString& op) const { return failing.contains(op); }
};
