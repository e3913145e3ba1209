// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

// A station as the stand-in station reports it in Connected.
struct Peer {
    QString callsign;
    QString name;
    QString address;
};

// A name for a callsign nobody named: by kind (conference, link, repeater, single station) and a place
// picked from the callsign, so the same callsign always gets the same name.
QString inventName(const QString& callsign);
// An address from the documentation ranges (192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/24), picked from
// the callsign: plausible, never a real host.
QString inventAddress(const QString& callsign);

// The fictional stations of the demo: single stations, links (-L), repeaters (-R) and conferences
// (*NAME*, among them *ECHOTEST*). The Q prefixes belong to no country, so no callsign is anyone's.
QList<Peer> demoDirectory();
