// SPDX-License-Identifier: GPL-3.0-or-later
#include "Node.h"

#include "Packets.h"
#include "platform/EchoLinkBus.h"

#include <QHostAddress>

using el::DirectoryStatus;

namespace {

// Strangers (callers we do not answer) make us fetch a fresh list, but not more often than this: a
// flood of calls must not turn into a flood of list downloads.
constexpr qint64 StrangerRefreshGapMs = 10000;
// Bookkeeping of ended calls is trimmed when it grows past this.
constexpr qsizetype MaxRemembered = 1024;

QString seconds(qint64 ms) {
    return QString::number((ms + 999) / 1000);
}

bool literalIPv4(const QString& text, QHostAddress* address) {
    QHostAddress parsed;
    if (!parsed.setAddress(text) || parsed.protocol() != QAbstractSocket::IPv4Protocol) {
        return false;
    }
    // "1" or "127.1" parse as addresses too; only the dotted form counts as one here.
    if (text.count(QLatin1Char('.')) != 3) {
        return false;
    }
    *address = parsed;
    return true;
}

template <typename Key> void forgetOld(QHash<Key, QElapsedTimer>& table, qint64 olderThanMs) {
    if (table.size() < MaxRemembered) {
        return;
    }
    for (auto it = table.begin(); it != table.end();) {
        it = it.value().elapsed() > olderThanMs ? table.erase(it) : std::next(it);
    }
}

} // namespace

// One peer: being called by us, or connected. Owns the timers of the protocol; tells the node when it
// comes up or ends.
class PeerLink : public QObject {
public:
    enum class State { Calling, Connected };

    PeerLink(Node& node, const QHostAddress& address, QString callsign, State state)
        : QObject(&node), node_(node), address_(address), callsign_(std::move(callsign)), state_(state) {
        connect(&resend_, &QTimer::timeout, this, [this] { sendSdes(); });
        connect(&deadline_, &QTimer::timeout, this, [this] { expire(); });
        deadline_.setSingleShot(true);
        if (state_ == State::Calling) {
            resend_.start(node_.timing_.retryMs);
            deadline_.start(node_.timing_.giveUpMs);
        } else {
            startConnected();
        }
        sendSdes();
    }

    const QHostAddress& address() const { return address_; }
    const QString& callsign() const { return callsign_; }
    const QString& name() const { return name_; }
    bool isConnected() const { return state_ == State::Connected; }
    QString addressText() const { return address_.toString(); }
    quint16 nextSequence() { return sequence_++; }

    // An SDES from the peer: the answer to our call, or a keep-alive.
    void sdes(const el::ControlPacket& packet) {
        if (!packet.name.isEmpty()) {
            name_ = packet.name;
        }
        if (state_ == State::Calling) {
            // Called by address: the peer tells us who it is.
            if (callsign_.isEmpty() || callsign_ == addressText()) {
                callsign_ = packet.callsign.toUpper();
            }
            state_ = State::Connected;
            startConnected();
            node_.linkUp(this);
        } else {
            deadline_.start(node_.timing_.peerTimeoutMs);
        }
    }
    void setName(const QString& name) { name_ = name; }

    void halt() {
        resend_.stop();
        deadline_.stop();
    }
    void sendSdes() { node_.transport_.sendControl(address_, node_.sdes_); }
    void sendBye() { node_.transport_.sendControl(address_, el::buildBye()); }

private:
    void startConnected() {
        resend_.start(node_.timing_.keepAliveMs);
        deadline_.start(node_.timing_.peerTimeoutMs);
    }
    void expire() {
        const bool wasConnected = state_ == State::Connected;
        emit node_.notice(wasConnected
                              ? QStringLiteral("%1 (%2) has not been heard from for %3 s; dropped")
                                    .arg(callsign_, addressText(), seconds(node_.timing_.peerTimeoutMs))
                              : QStringLiteral("%1 (%2) did not answer; call ended").arg(callsign_, addressText()));
        node_.linkEnded(this, wasConnected, !wasConnected);
    }

    Node& node_;
    QHostAddress address_;
    QString callsign_;
    QString name_;
    State state_;
    QTimer resend_;   // call retries, then keep-alives
    QTimer deadline_; // giving up a call, then the silence time-out
    quint16 sequence_ = 0;
};

Node::Node(NodeConfig config, Transport& transport, Directory& directory, AudioSource& source, AudioSink& sink,
           NodeTiming timing, QObject* parent)
    : QObject(parent), config_(std::move(config)), transport_(transport), directory_(directory), source_(source),
      sink_(sink), timing_(timing) {
    config_.callsign = config_.callsign.trimmed().toUpper();
    sdes_ = el::buildSdes(config_.callsign, config_.name);
    connect(&transport_, &Transport::controlReceived, this, &Node::onControl);
    connect(&transport_, &Transport::dataReceived, this, &Node::onData);
    connect(&directory_, &Directory::listUpdated, this, [this] { resolvePending(true); });
    connect(&directory_, &Directory::listFailed, this, [this] { resolvePending(false); });
    connect(&source_, &AudioSource::framesReady, this, &Node::sendVoice);
    strangerRefresh_.invalidate();
    talkEnd_.setSingleShot(true);
    connect(&talkEnd_, &QTimer::timeout, this, &Node::endTalk);
}

Node::~Node() {
    shutdown();
}

// ---- requests -----------------------------------------------------------------------------------------------

void Node::connectTo(const QString& requested, ReplyFn reply) {
    const QString callsign = requested.trimmed().toUpper();
    if (shuttingDown_) {
        reply(NodeReply::failure(EchoLinkBus::ErrorRefused, QStringLiteral("the station is closing")));
        return;
    }
    if (callsign.isEmpty() || callsign.size() > 64) {
        reply(NodeReply::failure(EchoLinkBus::ErrorInvalidArgument, QStringLiteral("no callsign given")));
        return;
    }
    if (callsign == config_.callsign) {
        reply(NodeReply::failure(EchoLinkBus::ErrorRefused,
                                 QStringLiteral("%1 is this station's own callsign").arg(callsign)));
        return;
    }
    QHostAddress address;
    if (literalIPv4(callsign, &address)) {
        startCall(callsign, address, reply);
        return;
    }
    if (PeerLink* link = linkFor(callsign)) {
        // Already connected, or a call to it is under way: this request joins it.
        Q_UNUSED(link);
        reply(NodeReply::success());
        return;
    }
    if (const NodeReply blocked = recallBlocked(callsign); !blocked.ok) {
        reply(blocked);
        return;
    }
    if (!directory_.hasList()) {
        if (!directory_.refreshing()) {
            directory_.refreshList();
        }
        // The first list is on its way: the call waits for it, and so does the answer, for a moment.
        pending_.append({callsign, std::move(reply), true});
        pendingTimer();
        return;
    }
    if (directory_.find(callsign)) {
        callListed(callsign, reply);
        return;
    }
    // Not listed: perhaps it logged in after our list was fetched. Ask again, answer when we know.
    directory_.refreshList();
    pending_.append({callsign, std::move(reply), false});
    pendingTimer();
}

NodeReply Node::recallBlocked(const QString& callsign) const {
    const auto it = unanswered_.constFind(callsign);
    if (it == unanswered_.cend() || it->elapsed() >= timing_.recallBlockMs) {
        return NodeReply::success();
    }
    return NodeReply::failure(
        EchoLinkBus::ErrorRefused,
        QStringLiteral("%1 did not answer a call %2 s ago; calling again so soon would "
                       "look like hammering the node (try again in %3 s)")
            .arg(callsign, seconds(it->elapsed()), seconds(timing_.recallBlockMs - it->elapsed())));
}

void Node::callListed(const QString& callsign, const ReplyFn& reply) {
    const std::optional<el::StationEntry> entry = directory_.find(callsign);
    if (!entry) {
        reply(NodeReply::failure(EchoLinkBus::ErrorRefused,
                                 QStringLiteral("%1 is not in the EchoLink station list").arg(callsign)));
        return;
    }
    if (entry->status == DirectoryStatus::Busy) {
        reply(NodeReply::failure(EchoLinkBus::ErrorRefused, QStringLiteral("%1 is busy").arg(callsign)));
        return;
    }
    if (entry->status == DirectoryStatus::Off || entry->address.isNull()) {
        reply(NodeReply::failure(EchoLinkBus::ErrorRefused, QStringLiteral("%1 is off line").arg(callsign)));
        return;
    }
    startCall(entry->callsign.toUpper(), entry->address, reply);
}

void Node::pendingTimer() {
    if (!pendingWait_) {
        pendingWait_ = new QTimer(this);
        pendingWait_->setSingleShot(true);
        connect(pendingWait_, &QTimer::timeout, this, [this] { expirePending(); });
    }
    if (!pendingWait_->isActive()) {
        pendingWait_->start(timing_.listWaitMs);
    }
}

// The list takes longer than a client waits for an answer. A call made before the first list is under
// way as far as the client is concerned and goes on waiting; one waiting for a refresh is answered.
void Node::expirePending() {
    for (Pending& p : pending_) {
        if (!p.reply) {
            continue;
        }
        if (p.waitsForFirstList) {
            p.reply(NodeReply::success());
        } else {
            p.reply(NodeReply::failure(EchoLinkBus::ErrorRefused,
                                       QStringLiteral("%1 is not in the EchoLink station list (a fresh list is "
                                                      "on its way; try again shortly)")
                                           .arg(p.callsign)));
        }
        p.reply = nullptr;
    }
    pending_.removeIf([](const Pending& p) { return !p.waitsForFirstList; });
}

void Node::resolvePending(bool listOk) {
    const QList<Pending> waiting = std::exchange(pending_, {});
    for (const Pending& p : waiting) {
        ReplyFn reply = p.reply;
        if (!reply) {
            // Answered already: what happens now goes to the log only.
            reply = [this, callsign = p.callsign](const NodeReply& r) {
                if (!r.ok) {
                    emit notice(QStringLiteral("call to %1 not made: %2").arg(callsign, r.message));
                }
            };
        }
        if (!directory_.hasList()) {
            reply(NodeReply::failure(EchoLinkBus::ErrorRefused,
                                     QStringLiteral("cannot look up %1: no EchoLink directory server could be "
                                                    "reached")
                                         .arg(p.callsign)));
            continue;
        }
        if (!listOk && !p.waitsForFirstList && !directory_.find(p.callsign)) {
            reply(NodeReply::failure(
                EchoLinkBus::ErrorRefused,
                QStringLiteral("%1 is not in the station list, and no directory server answered to refresh it")
                    .arg(p.callsign)));
            continue;
        }
        callListed(p.callsign, reply);
    }
    if (pendingWait_) {
        pendingWait_->stop();
    }
}

void Node::startCall(const QString& callsign, const QHostAddress& address, const ReplyFn& reply) {
    if (PeerLink* link = links_.value(address)) {
        Q_UNUSED(link);
        reply(NodeReply::success());
        return;
    }
    if (links_.size() >= config_.maxConnections) {
        reply(NodeReply::failure(EchoLinkBus::ErrorRefused,
                                 QStringLiteral("cannot call %1: the limit of %2 connections is reached")
                                     .arg(callsign)
                                     .arg(config_.maxConnections)));
        return;
    }
    auto* link = new PeerLink(*this, address, callsign, PeerLink::State::Calling);
    links_.insert(address, link);
    emit notice(QStringLiteral("calling %1 at %2").arg(callsign, address.toString()));
    reply(NodeReply::success());
}

NodeReply Node::disconnect(const QString& requested) {
    const QString callsign = requested.trimmed().toUpper();
    PeerLink* link = linkFor(callsign);
    if (!link) {
        return NodeReply::failure(EchoLinkBus::ErrorNotConnected, QStringLiteral("%1 is not connected").arg(callsign));
    }
    link->sendBye();
    linkEnded(link, link->isConnected(), false);
    return NodeReply::success();
}

NodeReply Node::disconnectAll() {
    const QList<PeerLink*> all = links_.values();
    for (PeerLink* link : all) {
        link->sendBye();
        linkEnded(link, link->isConnected(), false);
    }
    return NodeReply::success();
}

NodeReply Node::setTransmit(bool on) {
    if (on == transmitting_) {
        return NodeReply::success();
    }
    if (on) {
        transmitting_ = true;
        source_.start();
    } else {
        source_.stop(); // still transmitting: its last block goes out
        transmitting_ = false;
    }
    return NodeReply::success();
}

NodeReply Node::sendChat(const QString& text) {
    if (connectedCount() == 0) {
        return NodeReply::failure(EchoLinkBus::ErrorNotConnected, QStringLiteral("no station is connected"));
    }
    const QByteArray packet = el::buildChat(config_.callsign, text);
    for (PeerLink* link : std::as_const(order_)) {
        transport_.sendData(link->address(), packet);
    }
    return NodeReply::success();
}

int Node::connectedCount() const {
    return static_cast<int>(order_.size());
}

bool Node::isConnected(const QString& callsign) const {
    const PeerLink* link = linkFor(callsign.trimmed().toUpper());
    return link && link->isConnected();
}

void Node::shutdown() {
    if (shuttingDown_) {
        return;
    }
    shuttingDown_ = true;
    if (transmitting_) {
        source_.stop();
    }
    talkEnd_.stop();
    talker_.clear();
    const QList<PeerLink*> all = links_.values();
    for (PeerLink* link : all) {
        link->sendBye();
        delete link;
    }
    links_.clear();
    order_.clear();
    for (Pending& p : pending_) {
        if (p.reply) {
            p.reply(NodeReply::failure(EchoLinkBus::ErrorRefused, QStringLiteral("the station is closing")));
        }
    }
    pending_.clear();
}

PeerLink* Node::linkFor(const QString& callsign) const {
    for (PeerLink* link : links_) {
        if (link->callsign().compare(callsign, Qt::CaseInsensitive) == 0 || link->addressText() == callsign) {
            return link;
        }
    }
    return nullptr;
}

// ---- the life of a link -------------------------------------------------------------------------------------

void Node::linkUp(PeerLink* link) {
    order_.append(link);
    if (!config_.info.isEmpty()) {
        transport_.sendData(link->address(), el::buildInfo(config_.info));
    }
    emit notice(QStringLiteral("%1 (%2) connected").arg(link->callsign(), link->addressText()));
    emit connected(link->callsign(), link->name(), link->addressText());
    sendConferenceInfo();
}

void Node::linkEnded(PeerLink* link, bool wasConnected, bool unanswered) {
    links_.remove(link->address());
    order_.removeOne(link);
    if (talker_ == link->address()) {
        endTalk();
    }
    forgetOld(recentlyGone_, timing_.byeGraceMs);
    recentlyGone_[link->address()].start();
    if (unanswered && !link->callsign().isEmpty()) {
        forgetOld(unanswered_, timing_.recallBlockMs);
        unanswered_[link->callsign()].start();
    }
    const QString callsign = link->callsign();
    link->halt();
    link->deleteLater();
    if (wasConnected) {
        emit notice(QStringLiteral("%1 disconnected").arg(callsign));
        emit disconnected(callsign);
        sendConferenceInfo();
    }
}

// ---- what arrives -------------------------------------------------------------------------------------------

void Node::onControl(const QHostAddress& from, const QByteArray& datagram) {
    if (shuttingDown_) {
        return;
    }
    QString why;
    const std::optional<el::ControlPacket> packet = el::parseControl(datagram, &why);
    if (!packet) {
        ++counters_.badControl;
        return;
    }
    PeerLink* link = links_.value(from);
    if (packet->kind == el::ControlPacket::Kind::Bye) {
        if (link) {
            linkEnded(link, link->isConnected(), false);
        }
        return;
    }
    if (link) {
        link->sdes(*packet);
        return;
    }
    incoming(from, packet->callsign.toUpper(), packet->name);
}

void Node::incoming(const QHostAddress& from, const QString& callsign, const QString& name) {
    const auto gone = recentlyGone_.constFind(from);
    if (gone != recentlyGone_.cend() && gone->elapsed() < timing_.byeGraceMs) {
        // It still thinks it is connected to us; tell it it is not, as other stations do.
        transport_.sendControl(from, el::buildBye());
        return;
    }
    const auto refuse = [&](const QString& why) {
        ++counters_.refusedCallers;
        emit notice(QStringLiteral("call from %1 at %2 not answered: %3").arg(callsign, from.toString(), why));
    };
    if (callsign.isEmpty() || callsign == config_.callsign) {
        refuse(QStringLiteral("no usable callsign"));
        return;
    }
    if (config_.accept == AcceptPolicy::None) {
        refuse(QStringLiteral("this station takes no calls"));
        return;
    }
    if (links_.size() >= config_.maxConnections) {
        refuse(QStringLiteral("all %1 connections are in use").arg(config_.maxConnections));
        return;
    }
    if (config_.accept == AcceptPolicy::Directory) {
        const std::optional<el::StationEntry> entry = directory_.find(callsign);
        if (!entry || entry->address != from) {
            refuse(entry ? QStringLiteral("listed at %1").arg(entry->address.toString())
                         : QStringLiteral("not in the station list"));
            // It may have logged in after our list was fetched: its retry gets in with a fresh list.
            if (!strangerRefresh_.isValid() || strangerRefresh_.elapsed() >= StrangerRefreshGapMs) {
                strangerRefresh_.start();
                directory_.refreshList();
            }
            return;
        }
    }
    auto* link = new PeerLink(*this, from, callsign, PeerLink::State::Connected);
    link->setName(name);
    links_.insert(from, link);
    linkUp(link);
}

void Node::onData(const QHostAddress& from, const QByteArray& datagram) {
    PeerLink* link = links_.value(from);
    if (!link || !link->isConnected() || shuttingDown_) {
        ++counters_.strangers;
        return;
    }
    if (el::isVoice(datagram)) {
        receiveVoice(link, datagram);
        return;
    }
    const std::optional<el::TextPacket> text = el::parseText(datagram);
    if (!text) {
        ++counters_.badText;
        return;
    }
    if (text->kind == el::TextPacket::Kind::Info) {
        return;
    }
    // The line ending goes; a node relaying chat turns CR LF into LF LF and adds its own, so all of it.
    QString message = text->text;
    while (message.endsWith(QLatin1Char('\n')) || message.endsWith(QLatin1Char('\r'))) {
        message.chop(1);
    }
    emit chatReceived(message);
    // A conference: everyone else hears it, with our callsign in front as other nodes do.
    if (order_.size() > 1) {
        const QByteArray relay = el::buildChat(config_.callsign, message);
        for (PeerLink* other : std::as_const(order_)) {
            if (other != link) {
                transport_.sendData(other->address(), relay);
            }
        }
    }
}

void Node::receiveVoice(PeerLink* link, const QByteArray& datagram) {
    const std::optional<el::VoicePacket> voice = el::parseVoice(datagram);
    if (!voice) {
        ++counters_.badVoice;
        return;
    }
    // One talker at a time: the first one heard keeps the floor until its transmission ends.
    if (!talker_.isNull() && talker_ != link->address()) {
        return;
    }
    talkEnd_.start(timing_.talkEndMs);
    if (talker_.isNull()) {
        talker_ = link->address();
        talkerCall_ = link->callsign();
        emit receivingChanged(true, talkerCall_);
    }
    const QByteArray frames = voice->frames.first(el::GsmFramesPerPacket * el::GsmFrameBytes).toByteArray();
    sink_.play(frames, voice->header.sequence);
    if (transmitting_) {
        return; // our own voice has the conference
    }
    for (PeerLink* other : std::as_const(order_)) {
        if (other != link) {
            el::VoiceHeader header;
            header.sequence = other->nextSequence();
            transport_.sendData(other->address(), el::buildVoice(header, frames));
        }
    }
}

void Node::endTalk() {
    talkEnd_.stop();
    if (talker_.isNull()) {
        return;
    }
    talker_.clear();
    emit receivingChanged(false, std::exchange(talkerCall_, QString()));
}

void Node::sendVoice(const QByteArray& gsmFrames) {
    if (!transmitting_ || gsmFrames.size() != el::GsmFramesPerPacket * el::GsmFrameBytes) {
        return;
    }
    for (PeerLink* link : std::as_const(order_)) {
        el::VoiceHeader header;
        header.sequence = link->nextSequence();
        transport_.sendData(link->address(), el::buildVoice(header, gsmFrames));
    }
}

// Who is here, sent to every member when that changes: the node first, then each station.
void Node::sendConferenceInfo() {
    if (config_.maxConnections < 2 || order_.isEmpty()) {
        return;
    }
    QString text = QStringLiteral("Parlevox station - %1 (%2)\n\n").arg(config_.callsign).arg(order_.size() + 1);
    text += QStringLiteral("%1 %2\n").arg(config_.callsign.leftJustified(15), config_.name);
    for (const PeerLink* link : std::as_const(order_)) {
        text += QStringLiteral("%1 %2\n").arg(link->callsign().leftJustified(15), link->name());
    }
    const QByteArray packet = el::buildInfo(text);
    for (PeerLink* link : std::as_const(order_)) {
        transport_.sendData(link->address(), packet);
    }
}
