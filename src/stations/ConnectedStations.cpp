// SPDX-License-Identifier: GPL-3.0-or-later
#include "stations/ConnectedStations.h"

#include "platform/EchoLinkClient.h"

#include <QAbstractButton>
#include <QLineEdit>

ConnectedStations::ConnectedStations(EchoLinkClient& echoLink, QObject* parent) : QObject(parent) {
    connect(&echoLink, &EchoLinkClient::Connected, this, [this](const QString& call) { connected(call); });
    connect(&echoLink, &EchoLinkClient::Disconnected, this, &ConnectedStations::disconnected);
    connect(&echoLink, &EchoLinkClient::availabilityChanged, this, &ConnectedStations::availabilityChanged);
}

void ConnectedStations::describe(const QList<Toggle>& toggles) {
    for (const Toggle& toggle : toggles) {
        toggles_.append(toggle);
        connect(toggle.callsign, &QLineEdit::textChanged, this, [this, toggle] { refresh(toggle); });
        refresh(toggle);
    }
}

bool ConnectedStations::isConnected(const QString& callsign) const {
    const QString call = callsign.trimmed();
    return !call.isEmpty() && connected_.contains(call, Qt::CaseInsensitive);
}

void ConnectedStations::learn(const QString& callsign, bool isNow) {
    if (isNow) {
        connected(callsign);
    } else {
        disconnected(callsign);
    }
}

void ConnectedStations::connected(const QString& callsign) {
    const QString call = callsign.trimmed();
    if (call.isEmpty() || isConnected(call)) {
        return;
    }
    connected_.append(call);
    refresh();
}

void ConnectedStations::disconnected(const QString& callsign) {
    const QString call = callsign.trimmed();
    if (connected_.removeIf([&](const QString& c) { return c.compare(call, Qt::CaseInsensitive) == 0; }) > 0) {
        refresh();
    }
}

void ConnectedStations::availabilityChanged(bool available) {
    // A station program that went away took its connections with it; one that comes back reports its own.
    if (!available && !connected_.isEmpty()) {
        connected_.clear();
        refresh();
    }
}

void ConnectedStations::refresh() {
    for (const Toggle& toggle : std::as_const(toggles_)) {
        refresh(toggle);
    }
    Q_EMIT changed();
}

void ConnectedStations::refresh(const Toggle& toggle) {
    // Qt tells screen readers of the new description; an unchanged one sends nothing.
    toggle.button->setAccessibleDescription(isConnected(toggle.callsign->text()) ? connectedText()
                                                                                 : notConnectedText());
}
