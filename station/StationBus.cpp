// SPDX-License-Identifier: GPL-3.0-or-later
#include "StationBus.h"

#include <QDBusConnection>
#include <QDBusMessage>

StationBus::StationBus(Node& node, QObject* parent) : QObject(parent), node_(node) {
    connect(&node_, &Node::connected, this, &StationBus::Connected);
    connect(&node_, &Node::disconnected, this, &StationBus::Disconnected);
    connect(&node_, &Node::chatReceived, this, &StationBus::ChatTextReceived);
    connect(&node_, &Node::receivingChanged, this, &StationBus::ReceivingChanged);
}

void StationBus::close() {
    emit Closing();
}

void StationBus::answer(const NodeReply& reply) {
    if (!reply.ok && calledFromDBus()) {
        sendErrorReply(reply.errorName, reply.message);
    }
}

void StationBus::Connect(const QString& callsign, int flag) {
    Q_UNUSED(flag) // part of the interface; this station has no use for it
    const QString call = callsign.trimmed();
    if (!calledFromDBus()) {
        node_.connectTo(call, [](const NodeReply&) {});
        return;
    }
    // The node may wait for a fresh station list before it answers; the bus call waits with it.
    setDelayedReply(true);
    node_.connectTo(call, [request = message(), bus = connection()](const NodeReply& reply) mutable {
        bus.send(reply.ok ? request.createReply() : request.createErrorReply(reply.errorName, reply.message));
    });
}

void StationBus::Disconnect(const QString& callsign) {
    answer(node_.disconnect(callsign.trimmed()));
}

void StationBus::DisconnectAll() {
    answer(node_.disconnectAll());
}

void StationBus::SetTransmit(bool on) {
    answer(node_.setTransmit(on));
}

bool StationBus::IsTransmitting() {
    return node_.isTransmitting();
}

bool StationBus::IsReceiving() {
    return node_.isReceiving();
}

int StationBus::ConnectedCount() {
    return node_.connectedCount();
}

bool StationBus::IsConnected(const QString& callsign) {
    return node_.isConnected(callsign.trimmed());
}

QString StationBus::OwnCallsign() {
    return node_.ownCallsign();
}

void StationBus::SendChatText(const QString& text) {
    answer(node_.sendChat(text));
}
