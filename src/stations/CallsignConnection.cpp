// SPDX-License-Identifier: GPL-3.0-or-later
#include "stations/CallsignConnection.h"

#include "platform/EchoLinkClient.h"
#include "stations/StationsLogging.h"
#include "stations/ToggleConnection.h"
#include "ui/Controls.h"

#include <QDebug>
#include <QLineEdit>
#include <QPushButton>

CallsignConnection::CallsignConnection(const Widgets& widgets, EchoLinkClient& echoLink, Voice& voice, QObject* parent)
    : QObject(parent), widgets_(widgets), echoLink_(echoLink), voice_(voice) {
    controls::makeUpperCaseEntry(widgets_.callsign);
    connect(widgets_.getCall, &QPushButton::clicked, this, &CallsignConnection::GetCall_Click);
    connect(widgets_.disconnectAll, &QPushButton::clicked, this, &CallsignConnection::DisconnectAll_Click);
}

void CallsignConnection::GetCall_Click() {
    ToggleConnection(echoLink_, voice_, widgets_.callsign, QStringLiteral("Unable to connect to call sign. "));
}

void CallsignConnection::DisconnectAll_Click() {
    const CallStatus status = echoLink_.DisconnectAll();
    if (!status) {
        qCWarning(lcStations) << "Disconnect All failed:" << status.error;
    }
}
