// SPDX-License-Identifier: GPL-3.0-or-later
#include "Station.h"

#include "platform/EchoLinkBus.h"

#include <QTimer>
#include <algorithm>
#include <utility>

namespace {

QString quoted(const QString& text) {
    return QLatin1Char('"') + escapeText(text) + QLatin1Char('"');
}

} // namespace

Station::Station(QString ownCallsign, LineSink log, QObject* parent)
    : QObject(parent), ownCallsign_(std::move(ownCallsign)), log_(std::move(log)) {
    burstTimeout_.setSingleShot(true);
    burstTimeout_.setInterval(DefaultBurstTimeoutMs);
    connect(&burstTimeout_, &QTimer::timeout, this, &Station::finishBurst);
}

qsizetype Station::indexOf(const QString& callsign) const {
    const QString call = callsign.toUpper();
    for (qsizetype i = 0; i < peers_.size(); ++i) {
        if (peers_.at(i).callsign == call) {
            return i;
        }
    }
    return -1;
}

bool Station::isConnected(const QString& callsign) const {
    return indexOf(callsign) >= 0;
}

void Station::noteRequest() {
    if (++requestCount_ == 1) {
        emit requestNoted();
    }
}

void Station::addKnown(const QList<Peer>& peers) {
    for (const Peer& p : peers) {
        known_.insert(p.callsign, p);
    }
}

Peer Station::peerFor(const QString& callsign, const QString& name) const {
    Peer peer = known_.value(callsign, Peer{callsign, inventName(callsign), inventAddress(callsign)});
    if (!name.isEmpty()) {
        peer.name = name;
    }
    return peer;
}

StationReply Station::connectTo(const QString& callsign, int /*flag*/) {
    const QString call = callsign.trimmed().toUpper();
    if (call.isEmpty() || call.contains(QLatin1Char(' '))) {
        return StationReply::failure(EchoLinkBus::ErrorInvalidArgument,
                                     QStringLiteral("\"%1\" is not a callsign.").arg(escapeText(callsign)));
    }
    if (refused_.contains(call)) {
        return StationReply::failure(EchoLinkBus::ErrorRefused, QStringLiteral("%1 refused the connection.").arg(call));
    }
    if (isConnected(call) || pending_.contains(call)) {
        return StationReply::success();
    }
    // Like a real station: the request is accepted now, the other side answers a moment later.
    const quint64 ticket = nextTicket_++;
    pending_.insert(call, ticket);
    QTimer::singleShot(connectDelayMs_, this, [this, call, ticket] {
        if (pending_.value(call) != ticket) {
            return; // cancelled by a Disconnect in the meantime
        }
        pending_.remove(call);
        if (!isConnected(call)) {
            stationConnects(peerFor(call, {}));
        }
    });
    return StationReply::success();
}

StationReply Station::disconnect(const QString& callsign) {
    const QString call = callsign.trimmed().toUpper();
    if (pending_.remove(call) > 0) {
        return StationReply::success();
    }
    const qsizetype index = indexOf(call);
    if (index < 0) {
        return StationReply::failure(EchoLinkBus::ErrorNotConnected,
                                     QStringLiteral("%1 is not connected.").arg(escapeText(call)));
    }
    stationDrops(index);
    return StationReply::success();
}

StationReply Station::disconnectAll() {
    pending_.clear();
    // Whoever is heard goes with the rest, even a conference member who is not a peer of ours.
    endReceiving();
    while (!peers_.isEmpty()) {
        stationDrops(0);
    }
    return StationReply::success();
}

StationReply Station::setTransmit(bool on) {
    transmitting_ = on;
    return StationReply::success();
}

StationReply Station::sendChatText(const QString& text) {
    // Otherwise the text itself is in the request line; nobody else listens here.
    if (burst_) {
        countReply(text);
    }
    return StationReply::success();
}

void Station::stationConnects(const Peer& peer, bool logIt) {
    peers_.append(peer);
    known_.insert(peer.callsign, peer);
    if (logIt) {
        log(QStringLiteral("< Connected %1 %2 %3").arg(escapeText(peer.callsign), quoted(peer.name), peer.address));
    }
    emit Connected(peer.callsign, peer.name, peer.address);
}

void Station::stationDrops(qsizetype index, bool logIt) {
    // A client hears the transmission end before its station goes, never a talker that is not connected.
    if (peers_.at(index).callsign == talker_) {
        endReceiving();
    }
    const QString call = peers_.takeAt(index).callsign;
    if (logIt) {
        log(QStringLiteral("< Disconnected %1").arg(escapeText(call)));
    }
    emit Disconnected(call);
}

void Station::burst(int count, const QString& text) {
    if (burst_) {
        finishBurst();
    }
    log(QStringLiteral("# burst of %1: %2 #1 ...").arg(count).arg(escapeText(text)));
    burst_ = Burst{};
    burst_->count = count;
    burst_->clock.start();
    const QString prefix = text + QStringLiteral(" #");
    for (int i = 1; i <= count; ++i) {
        emit ChatTextReceived(prefix + QString::number(i));
    }
    burst_->sendMs = double(burst_->clock.nsecsElapsed()) / 1e6;
    burstTimeout_.start();
}

void Station::countReply(const QString& text) {
    Burst& b = *burst_;
    ++b.replies;
    b.lastReplyMs = double(b.clock.nsecsElapsed()) / 1e6;
    const qsizetype mark = text.lastIndexOf(QStringLiteral(" #"));
    bool numbered = false;
    const qint64 number = mark < 0 ? 0 : QStringView(text).mid(mark + 2).toLongLong(&numbered);
    if (numbered) {
        ++b.numbered;
        if (number <= b.lastNumber) {
            ++b.outOfOrder;
        } else {
            b.lastNumber = number;
        }
    }
    if (b.replies >= b.count) {
        finishBurst();
    } else {
        burstTimeout_.start();
    }
}

void Station::finishBurst() {
    if (!burst_) {
        return;
    }
    burstTimeout_.stop();
    const Burst b = *burst_;
    burst_.reset();
    const double perSecond = b.lastReplyMs > 0 ? b.replies * 1000.0 / b.lastReplyMs : 0.0;
    log(QStringLiteral("# burst done: sent=%1 send_ms=%2 replies=%3 reply_ms=%4 per_second=%5 lost=%6 numbered=%7 "
                       "out_of_order=%8")
            .arg(b.count)
            .arg(b.sendMs, 0, 'f', 1)
            .arg(b.replies)
            .arg(b.lastReplyMs, 0, 'f', 1)
            .arg(perSecond, 0, 'f', 1)
            .arg(std::max(0, b.count - b.replies))
            .arg(b.numbered)
            .arg(b.outOfOrder));
}

void Station::storm(int count) {
    QElapsedTimer clock;
    clock.start();
    QStringList calls;
    for (int i = 1; i <= count; ++i) {
        const QString call = QStringLiteral("QS%1").arg(i);
        pending_.remove(call);
        if (!isConnected(call)) {
            stationConnects(peerFor(call, {}), false);
            calls << call;
        }
    }
    // Dropped in the order they came, as a crowd leaving; the station's own list is searched from the front.
    for (const QString& call : std::as_const(calls)) {
        const qsizetype index = indexOf(call);
        if (index >= 0) {
            stationDrops(index, false);
        }
    }
    log(QStringLiteral("# storm done: connects=%1 drops=%1 ms=%2")
            .arg(calls.size())
            .arg(double(clock.nsecsElapsed()) / 1e6, 0, 'f', 1));
}

void Station::startReceiving(const QString& callsign) {
    if (talker_ == callsign) {
        log(QStringLiteral("# %1 is being heard already").arg(callsign));
        return;
    }
    endReceiving();
    talker_ = callsign;
    log(QStringLiteral("< ReceivingChanged true %1").arg(escapeText(callsign)));
    emit ReceivingChanged(true, callsign);
}

void Station::endReceiving() {
    if (talker_.isEmpty()) {
        return;
    }
    const QString call = std::exchange(talker_, QString());
    log(QStringLiteral("< ReceivingChanged false %1").arg(escapeText(call)));
    emit ReceivingChanged(false, call);
}

void Station::close() {
    endReceiving();
    log(QStringLiteral("< Closing"));
    emit Closing();
}

bool Station::apply(const SimCommand& command) {
    switch (command.kind) {
    case SimCommand::Kind::Chat:
        log(QStringLiteral("< ChatTextReceived %1").arg(escapeText(command.text)));
        emit ChatTextReceived(command.text);
        return true;
    case SimCommand::Kind::Connect:
        pending_.remove(command.callsign);
        if (isConnected(command.callsign)) {
            log(QStringLiteral("# %1 is connected already").arg(command.callsign));
        } else {
            stationConnects(peerFor(command.callsign, command.text));
        }
        return true;
    case SimCommand::Kind::Drop: {
        pending_.remove(command.callsign);
        const qsizetype index = indexOf(command.callsign);
        if (index < 0) {
            log(QStringLiteral("# %1 is not connected").arg(command.callsign));
        } else {
            stationDrops(index);
        }
        return true;
    }
    case SimCommand::Kind::DropAll:
        disconnectAll();
        return true;
    case SimCommand::Kind::Key:
    case SimCommand::Kind::Unkey:
        transmitting_ = command.kind == SimCommand::Kind::Key;
        log(transmitting_ ? QStringLiteral("# transmitter keyed") : QStringLiteral("# transmitter unkeyed"));
        return true;
    case SimCommand::Kind::Receive:
        startReceiving(command.callsign);
        return true;
    case SimCommand::Kind::Unreceive:
        if (talker_.isEmpty()) {
            log(QStringLiteral("# nothing is being received"));
        }
        endReceiving();
        return true;
    case SimCommand::Kind::Refuse:
        refused_.insert(command.callsign);
        log(QStringLiteral("# refusing %1").arg(command.callsign));
        return true;
    case SimCommand::Kind::Accept:
        refused_.remove(command.callsign);
        log(QStringLiteral("# accepting %1").arg(command.callsign));
        return true;
    case SimCommand::Kind::Burst:
        burst(command.count, command.text);
        return true;
    case SimCommand::Kind::Storm:
        storm(command.count);
        return true;
    case SimCommand::Kind::None:
    case SimCommand::Kind::Pause:
    case SimCommand::Kind::WaitClient:
    case SimCommand::Kind::Echo:
    case SimCommand::Kind::Close:
    case SimCommand::Kind::Quit:
        break;
    }
    return false;
}
