// SPDX-License-Identifier: GPL-3.0-or-later
#include "StationBusObject.h"

#include <QDBusMessage>

StationBusObject::StationBusObject(Station& station, LineSink log, bool printQueries, QObject* parent)
    : QObject(parent), station_(station), log_(std::move(log)), printQueries_(printQueries) {
    connect(&station_, &Station::Closing, this, &StationBusObject::Closing);
    connect(&station_, &Station::ChatTextReceived, this, &StationBusObject::ChatTextReceived);
    connect(&station_, &Station::Connected, this, &StationBusObject::Connected);
    connect(&station_, &Station::Disconnected, this, &StationBusObject::Disconnected);
    connect(&station_, &Station::ReceivingChanged, this, &StationBusObject::ReceivingChanged);
}

void StationBusObject::request(const QString& line, bool query) {
    if (!query || printQueries_) {
        log_(QStringLiteral("> ") + line);
    }
    station_.noteRequest();
}

void StationBusObject::answer(const StationReply& reply) {
    if (reply.ok) {
        return;
    }
    log_(QStringLiteral("! ") + reply.message);
    if (calledFromDBus()) {
        sendErrorReply(reply.errorName, reply.message);
    }
}

void StationBusObject::Connect(const QString& callsign, int flag) {
    request(QStringLiteral("Connect %1 %2").arg(escapeText(callsign)).arg(flag), false);
    answer(station_.connectTo(callsign, flag));
}

void StationBusObject::Disconnect(const QString& callsign) {
    request(QStringLiteral("Disconnect %1").arg(escapeText(callsign)), false);
    answer(station_.disconnect(callsign));
}

void StationBusObject::DisconnectAll() {
    request(QStringLiteral("DisconnectAll"), false);
    answer(station_.disconnectAll());
}

void StationBusObject::SetTransmit(bool on) {
    request(QStringLiteral("SetTransmit %1").arg(on ? QStringLiteral("true") : QStringLiteral("false")), false);
    answer(station_.setTransmit(on));
}

bool StationBusObject::IsTransmitting() {
    request(QStringLiteral("IsTransmitting"), true);
    return station_.isTransmitting();
}

int StationBusObject::ConnectedCount() {
    request(QStringLiteral("ConnectedCount"), true);
    return station_.connectedCount();
}

bool StationBusObject::IsConnected(const QString& callsign) {
    request(QStringLiteral("IsConnected %1").arg(escapeText(callsign)), true);
    return station_.isConnected(callsign);
}

QString StationBusObject::OwnCallsign() {
    request(QStringLiteral("OwnCallsign"), true);
    return station_.ownCallsign();
}

void StationBusObject::SendChatText(const QString& text) {
    if (station_.countingReplies()) {
        // A burst's replies are counted, and summed up in one line at the end.
        station_.noteRequest();
    } else {
        request(QStringLiteral("SendChatText %1").arg(escapeText(text)), false);
    }
    answer(station_.sendChatText(text));
}

bool StationBusObject::IsReceiving() {
    request(QStringLiteral("IsReceiving"), true);
    return station_.isReceiving();
}
