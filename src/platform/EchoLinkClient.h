// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

// Outcome of one call to the station program. A refusal or a transport failure is !ok with a message.
template <typename T> struct CallResult {
    bool ok = false;
    T value{};
    QString error;

    static CallResult success(T v) { return {true, std::move(v), {}}; }
    static CallResult failure(QString message) { return {false, T{}, std::move(message)}; }
    explicit operator bool() const { return ok; }
};

struct CallStatus {
    bool ok = false;
    QString error;

    static CallStatus success() { return {true, {}}; }
    static CallStatus failure(QString message) { return {false, std::move(message)}; }
    explicit operator bool() const { return ok; }
};

// The station program's automation interface as the rest of Parlevox sees it: nine operations and
// four events, and whether a transmission is being heard where the station reports it. Every call is synchronous and
// returns within a few seconds, failed or not. Events are delivered through the event loop, one at a time.
class EchoLinkClient : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~EchoLinkClient() override = default;

    // flag is always -1 from this program; its meaning is the station's business.
    virtual CallStatus Connect(const QString& callsign, int flag) = 0;
    virtual CallStatus Disconnect(const QString& callsign) = 0;
    virtual CallStatus DisconnectAll() = 0;
    virtual CallStatus SetTransmit(bool on) = 0;
    virtual CallResult<bool> IsTransmitting() = 0;
    virtual CallResult<int> ConnectedCount() = 0;
    virtual CallResult<bool> IsConnected(const QString& callsign) = 0;
    // The local station's own callsign (LocalStation.OwnCallsign on the original automation object).
    virtual CallResult<QString> OwnCallsign() = 0;
    virtual CallStatus SendChatText(const QString& text) = 0;
    // The same text sent without waiting for the station's answer, for texts whose failure nobody needs to
    // hear of (the answer to a version query). It still reaches the station after every call made before
    // it and before every call made after it.
    virtual void SendChatTextNoWait(const QString& text) { (void)SendChatText(text); }

    // Whether a transmission from another station is being heard. Older stations do not say: they, and
    // clients that cannot ask, answer with a failure.
    virtual CallResult<bool> IsReceiving() { return CallResult<bool>::failure(receivingNotReportedMessage()); }
    // Whether IsReceiving and ReceivingChanged can be relied on with the present station; may ask it.
    virtual bool supportsReceiving() { return false; }
    static QString receivingNotReportedMessage() {
        return QStringLiteral("The EchoLink station program does not report receiving.");
    }

    // Whether a station program is reachable right now.
    virtual bool isAvailable() const = 0;

Q_SIGNALS:
    void Closing();
    void ChatTextReceived(const QString& sText);
    void Connected(const QString& sCallConnected, const QString& sName, const QString& sAddr);
    void Disconnected(const QString& sCall);
    // A transmission began to be heard (callsign: its station) or ended (callsign: the one that ended).
    void ReceivingChanged(bool receiving, const QString& callsign);
    // The station program went away (crashed or ended without Closing) or came back.
    void availabilityChanged(bool available);
};
