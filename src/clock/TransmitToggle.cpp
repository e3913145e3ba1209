// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/TransmitToggle.h"

#include "clock/ClockLogging.h"
#include "platform/EchoLinkClient.h"
#include "ui/Controls.h"
#include "ui/TransmitState.h"

#include <QAbstractButton>
#include <QDebug>
#include <QLabel>

TransmitToggle::TransmitToggle(const Widgets& widgets, EchoLinkClient& echoLink, TransmitState& transmit,
                               QObject* parent)
    : QObject(parent), w_(widgets), echoLink_(echoLink), transmit_(transmit) {
    connect(w_.TxRx, &QAbstractButton::clicked, this, &TransmitToggle::TxRx_Click);
    // Screen readers hear the button pressed while transmitting; its look does not change.
    controls::makeToggleButton(w_.TxRx);
    controls::setTogglePressed(w_.TxRx, transmit_.TransmitFlag() != 0);
    connect(&transmit_, &TransmitState::transmittingSet, this,
            [this](bool transmitting) { controls::setTogglePressed(w_.TxRx, transmitting); });
}

// Acts on the count and direction of the last refresh (or of the previous click), without asking
// EchoLink, so that two quick clicks key and then unkey.
void TransmitToggle::TxRx_Click() {
    if (w_.NumStations->text().toInt() <= 0) {
        return;
    }
    const bool key = transmit_.TransmitFlag() == 0;
    const CallStatus status = echoLink_.SetTransmit(key);
    if (!status) {
        // The label follows the request anyway; the next refresh shows what EchoLink really does.
        qCWarning(lcClock).noquote() << (key ? QStringLiteral("Could not key the transmitter: ")
                                             : QStringLiteral("Could not unkey the transmitter: ")) +
                                            status.error;
    }
    transmit_.set(key);
}
