// SPDX-License-Identifier: GPL-3.0-or-later
#include "stations/ToggleConnection.h"

#include "platform/EchoLinkClient.h"
#include "platform/Voice.h"
#include "stations/StationsLogging.h"

#include <QDebug>
#include <QLineEdit>

ToggleOutcome ToggleConnection(EchoLinkClient& echoLink, Voice& voice, const QLineEdit* box,
                               const QString& failureText) {
    if (box->text().isEmpty()) {
        return ToggleOutcome::Nothing;
    }
    const CallResult<bool> isConnected = echoLink.IsConnected(box->text());
    if (!isConnected) {
        qCWarning(lcStations) << "Con/Disc: could not ask whether" << box->text()
                              << "is connected:" << isConnected.error;
        return ToggleOutcome::Failed;
    }
    if (isConnected.value) {
        const CallStatus disconnected = echoLink.Disconnect(box->text());
        if (!disconnected) {
            qCWarning(lcStations) << "Con/Disc: could not disconnect" << box->text() << ':' << disconnected.error;
            return ToggleOutcome::Failed;
        }
        return ToggleOutcome::Disconnected;
    }
    if (echoLink.Connect(box->text(), -1)) {
        return ToggleOutcome::Connecting;
    }
    if (!voice.speak(failureText)) {
        qCWarning(lcStations) << "Con/Disc: could not speak" << failureText;
    }
    return ToggleOutcome::ConnectRefused;
}
