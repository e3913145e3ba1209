// SPDX-License-Identifier: GPL-3.0-or-later
#include "stations/FavouriteStations.h"

#include "platform/EchoLinkClient.h"
#include "stations/ToggleConnection.h"
#include "ui/Controls.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

QString FavouriteStations::failureText(int slot) {
    // The fourth slot's text has two full stops, as it always has.
    return slot == 3 ? QStringLiteral("Unable to connect to call sign.. ")
                     : QStringLiteral("Unable to connect to call sign. ");
}

FavouriteStations::FavouriteStations(const Widgets& widgets, EchoLinkClient& echoLink, Voice& voice, QObject* parent)
    : QObject(parent), widgets_(widgets), echoLink_(echoLink), voice_(voice) {
    for (int i = 0; i < SlotCount; ++i) {
        const FavouriteSlot& slot = widgets_.rows.at(i);
        controls::makeUpperCaseEntry(slot.callsign);
        connect(slot.toggle, &QPushButton::clicked, this, [this, i] { toggle(i); });
    }
}

void FavouriteStations::toggle(int slot) {
    ToggleConnection(echoLink_, voice_, widgets_.rows.at(slot).callsign, failureText(slot));
}

void FavouriteStations::Timer4_Timer() {
    // Failures are left for the next tick to try again; nothing is reported.
    for (const FavouriteSlot& slot : widgets_.rows) {
        if (slot.callsign->text().isEmpty() || controls::checkValue(slot.stayConnected) != 1) {
            continue;
        }
        const CallResult<bool> isConnected = echoLink_.IsConnected(slot.callsign->text());
        if (!isConnected || isConnected.value) {
            continue;
        }
        echoLink_.Connect(slot.callsign->text(), -1);
    }
}
