// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Directory.h"
#include "SimCommand.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>
#include <optional>

// Writes one line of the station's log (stdout in the program).
using LineSink = std::function<void(const QString&)>;

// Answer to a client's request: ok, or a D-Bus error name and a message for the user.
struct StationReply {
    bool ok = true;
    QString errorName;
    QString message;

    static StationReply success() { return {}; }
    static StationReply failure(const char* name, QString text) {
        return {false, QString::fromLatin1(name), std::move(text)};
    }
};

// The stand-in station's state and behaviour: who is connected, whether the transmitter is keyed, whom it
// hears, which callsigns it refuses. Requests come from clients, commands from the other stations' side (the script,
// stdin, the demo); every event goes out as a signal and is logged as "< ...".
class Station : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultConnectDelayMs = 200;

    Station(QString ownCallsign, LineSink log, QObject* parent = nullptr);

    // Client requests.
    StationReply connectTo(const QString& callsign, int flag);
    StationReply disconnect(const QString& callsign);
    StationReply disconnectAll();
    StationReply setTransmit(bool on);
    bool isTransmitting() const { return transmitting_; }
    int connectedCount() const { return static_cast<int>(peers_.size()); }
    bool isConnected(const QString& callsign) const;
    QString ownCallsign() const { return ownCallsign_; }
    StationReply sendChatText(const QString& text);
    bool isReceiving() const { return !talker_.isEmpty(); }
    // The station being heard, empty when none is.
    QString talker() const { return talker_; }

    // Counts client requests; the first one lets "wait-client" go on.
    void noteRequest();
    int requestCount() const { return requestCount_; }

    // Carries out a station command (chat, connect, drop, drop-all, key, unkey, receive, unreceive, refuse,
    // accept).
    // Returns false for commands that are not about the station (pause, echo, close ...).
    bool apply(const SimCommand& command);
    // Sends Closing, after the end of a transmission being heard.
    void close();

    // Load tests. A burst sends count chat texts "text #1" ... "text #count" at once and then counts the
    // SendChatText replies; replies that end in " #N" are checked to come in rising order. When all replies
    // came, or none came for the burst time-out, one line sums it up:
    //   # burst done: sent=N send_ms=.. replies=N reply_ms=.. per_second=.. lost=0 numbered=N out_of_order=0
    // A storm connects count stations QS1 ... and then drops them all, logging one line at the end.
    static constexpr int DefaultBurstTimeoutMs = 10000;
    void burst(int count, const QString& text);
    void storm(int count);
    // While a burst waits for its replies, SendChatText requests are counted rather than logged.
    bool countingReplies() const { return burst_.has_value(); }
    void setBurstTimeoutMs(int ms) { burstTimeout_.setInterval(ms); }

    // Names and addresses reported for these callsigns when they connect without a name given.
    void addKnown(const QList<Peer>& peers);
    const QList<Peer>& peers() const { return peers_; }
    void setConnectDelayMs(int ms) { connectDelayMs_ = ms; }

Q_SIGNALS:
    void Closing();
    void ChatTextReceived(const QString& sText);
    void Connected(const QString& sCallConnected, const QString& sName, const QString& sAddr);
    void Disconnected(const QString& sCall);
    void ReceivingChanged(bool receiving, const QString& callsign);
    void requestNoted();

private:
    qsizetype indexOf(const QString& callsign) const;
    Peer peerFor(const QString& callsign, const QString& name) const;
    void stationConnects(const Peer& peer, bool logIt = true);
    void stationDrops(qsizetype index, bool logIt = true);
    void startReceiving(const QString& callsign);
    void endReceiving();
    void countReply(const QString& text);
    void finishBurst();
    void log(const QString& line) const { log_(line); }

    QString ownCallsign_;
    LineSink log_;
    QList<Peer> peers_; // in the order they connected
    QHash<QString, Peer> known_;
    QSet<QString> refused_;
    QHash<QString, quint64> pending_; // callsign -> ticket of the Connect on its way
    quint64 nextTicket_ = 1;
    bool transmitting_ = false;
    QString talker_;
    int requestCount_ = 0;
    int connectDelayMs_ = DefaultConnectDelayMs;

    struct Burst {
        int count = 0;
        int replies = 0;
        int numbered = 0;
        int outOfOrder = 0;
        qint64 lastNumber = 0;
        double sendMs = 0;
        double lastReplyMs = 0;
        QElapsedTimer clock;
    };
    std::optional<Burst> burst_;
    QTimer burstTimeout_;
};
