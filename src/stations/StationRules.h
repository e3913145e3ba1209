// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTime>
#include <optional>

// What a callsign reported by the station program stands for, and how its connect or disconnect is
// announced. Every test on the callsign is exact and case-sensitive.
namespace stations {

enum class StationKind {
    Conference,   // last character "*"
    Link,         // ends in "-L"
    Repeater,     // ends in "-R"
    PlainStation, // no "-" at all, the empty callsign included
    NotAnnounced, // a "-" somewhere, but no "-L" or "-R" at the end
};

enum class ConnectionChange { Connected, Disconnected };

// Tests made in this order: conference, link, repeater, plain station; anything else is not announced.
StationKind stationKind(const QString& callsign);

// Each character followed by one space, so that the voice reads the text character by character:
// "N0" -> "N 0 ". A space becomes two spaces; the empty text stays empty.
QString splitCall(const QString& text);

// The unspaced text a station is announced by, and for links, repeaters and plain stations also looked
// up by: a conference with every "*" turned into a space, a link or repeater up to and including its
// first "-" ("N0CALL-L" -> "N0CALL-"), a plain station unchanged. Empty for callsigns not announced.
QString announcedCallsign(const QString& callsign, StationKind kind);

// Whether a connect of this kind opens the station's look-up page.
bool isLookedUp(StationKind kind);

// The complete announcement of the three conferences that have a spoken name of their own
// ("*IRELAND*", "*ENGLAND*", "*ECHOTEST*", exactly so); nothing for any other callsign.
std::optional<QString> fixedConferenceAnnouncement(const QString& callsign, ConnectionChange change);

// The announcement of a station of the given kind, built around its announced callsign after
// splitCall. Empty for NotAnnounced.
QString announcementText(StationKind kind, const QString& spacedCallsign, ConnectionChange change);

// One line of the call connect history, without its line break: "9 05 PM - N0CALL-L".
QString historyLine(const QTime& time, const QString& callsign);

// Text from other stations as it is shown: characters that would break a line, move the caret or
// reorder the text (control characters, line and paragraph separators, bidirectional overrides) are
// shown as U+FFFD; everything else is kept as received.
QString plainDisplayText(const QString& text);

} // namespace stations
