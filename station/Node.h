// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AudioSource.h"
#include "Directory.h"
#include "Transport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

// Answer to a request: ok, or a D-Bus error name and a message for the user.
struct NodeReply {
    bool ok = true;
    QString errorName;
    QString message;

    static NodeReply success() { return {}; }
    static NodeReply failure(const char* name, QString text) {
        return {false, QString::fromLatin1(name), std::move(text)};
    }
};

enum class AcceptPolicy { Directory, Any, None };

struct NodeConfig {
    QString callsign; // our own, in capitals
    QString name;     // operator name, sent in every SDES
    QString info;     // station information sent to each peer on connect
    int maxConnections = 4;
    AcceptPolicy accept = AcceptPolicy::Directory;
};

// Timings of the protocol; tests shorten them.
struct NodeTiming {
    int keepAliveMs = 10000;    // our SDES to every connected peer
    int peerTimeoutMs = 60000;  // a peer with no SDES for this long is dropped
    int retryMs = 5000;         // SDES again while calling
    int giveUpMs = 50000;       // an unanswered call ends quietly
    int recallBlockMs = 120000; // after an unanswered call, new calls to that station are refused this long
    int listWaitMs = 2000;      // how long Connect waits for a list refresh before it answers
    int byeGraceMs = 5000;
    int talkEndMs = 300; // a received transmission has ended after this long without voice      // SDES from a peer
                         // that just left is answered with BYE this long
};

class PeerLink;

// The station: every peer connection, the accept policy and limits, chat and the conference relay.
// Peers are keyed by address. Every end of a connection gives exactly one disconnected().
class Node : public QObject {
    Q_OBJECT
public:
    Node(NodeConfig config, Transport& transport, Directory& directory, AudioSource& source, AudioSink& sink,
         NodeTiming timing = {}, QObject* parent = nullptr);
    ~Node() override;

    using ReplyFn = std::function<void(const NodeReply&)>;
    // Calls a station by callsign (looked up in the directory) or by literal IPv4 address. The reply comes
    // when the call is under way or refused; with a list refresh it may come a little later, at most
    // timing.listWaitMs after the request.
    void connectTo(const QString& callsign, ReplyFn reply);
    NodeReply disconnect(const QString& callsign);
    NodeReply disconnectAll();
    NodeReply setTransmit(bool on);
    NodeReply sendChat(const QString& text);

    bool isTransmitting() const { return transmitting_; }
    // Whether a connected peer's transmission is being heard.
    bool isReceiving() const { return !talker_.isNull(); }
    int connectedCount() const;
    bool isConnected(const QString& callsign) const;
    QString ownCallsign() const { return config_.callsign; }

    // BYE to every peer (connected or being called); no disconnected() signals after this.
    void shutdown();

    // Counts of what was dropped, for the log and tests.
    struct Counters {
        quint64 badControl = 0, badText = 0, badVoice = 0, strangers = 0, refusedCallers = 0;
    };
    const Counters& counters() const { return counters_; }

Q_SIGNALS:
    void connected(const QString& callsign, const QString& name, const QString& address);
    void disconnected(const QString& callsign);
    void chatReceived(const QString& text);
    // A peer's transmission started or ended (callsign of that peer).
    void receivingChanged(bool receiving, const QString& callsign);
    // Messages for the station's log (standard error in the program).
    void notice(const QString& line);

private:
    friend class PeerLink;
    void onControl(const QHostAddress& from, const QByteArray& datagram);
    void onData(const QHostAddress& from, const QByteArray& datagram);
    void startCall(const QString& callsign, const QHostAddress& address, const ReplyFn& reply);
    void incoming(const QHostAddress& from, const QString& callsign, const QString& name);
    NodeReply recallBlocked(const QString& callsign) const;
    void callListed(const QString& callsign, const ReplyFn& reply);
    void pendingTimer();
    void expirePending();
    void resolvePending(bool listOk);
    void receiveVoice(PeerLink* link, const QByteArray& datagram);
    void endTalk();
    void linkUp(PeerLink* link);
    void linkEnded(PeerLink* link, bool wasConnected, bool unanswered);
    void sendConferenceInfo();
    void sendVoice(const QByteArray& gsmFrames);
    PeerLink* linkFor(const QString& callsign) const;

    NodeConfig config_;
    Transport& transport_;
    Directory& directory_;
    AudioSource& source_;
    AudioSink& sink_;
    NodeTiming timing_;
    QHash<QHostAddress, PeerLink*> links_;            // by address, connected or calling
    QList<PeerLink*> order_;                          // connected ones, in the order they came up
    QHash<QString, QElapsedTimer> unanswered_;        // callsign -> when its last call gave up
    QHash<QHostAddress, QElapsedTimer> recentlyGone_; // address -> when its connection ended
    bool transmitting_ = false;
    bool shuttingDown_ = false;
    Counters counters_;
    QByteArray sdes_; // ours, the same for every call and keep-alive
    // Calls waiting for the station list: the first one, or a refresh for a callsign not listed.
    struct Pending {
        QString callsign;
        ReplyFn reply; // empty once answered
        bool waitsForFirstList = false;
    };
    QList<Pending> pending_;
    QTimer* pendingWait_ = nullptr;
    QElapsedTimer strangerRefresh_; // when an unknown caller last made us fetch the list
    QHostAddress talker_;           // the peer being heard, null when none
    QString talkerCall_;
    QTimer talkEnd_;
};
