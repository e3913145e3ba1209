// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The EchoLink directory's TCP exchange (port 5200): one command per connection. Building the requests and
// reading the replies are pure functions; the replies come from the internet and are read with bounds.

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QTime>
#include <optional>

namespace el {

inline constexpr quint16 DirectoryPort = 5200;
// Longest description the directory takes; longer ones are cut.
inline constexpr qsizetype MaxDescription = 27;

enum class DirectoryStatus { Online, Busy, Off };

// "l" CALL 0xAC 0xAC PASSWORD CR STATUS CR DESCRIPTION CR, where STATUS is "ONLINE3.38(HH:MM)",
// "BUSY3.40(HH:MM)" or "OFF-V3.40" with the local time. Callsign in capitals, description cut to 27
// characters; CR and LF in any field are replaced by spaces so a field cannot end early.
QByteArray buildLogin(const QString& callsign, const QString& password, DirectoryStatus status, const QTime& localTime,
                      const QString& description);

// The only thing that matters in a login reply: does it start with "OK".
bool loginAccepted(QByteArrayView reply);

// The station-list request: the single byte "s".
QByteArray listRequest();

struct StationEntry {
    QString callsign;                                 // as listed (capitals on the real directory)
    QString description;                              // text before the last '[', trailing spaces removed
    DirectoryStatus status = DirectoryStatus::Online; // ON -> Online, BUSY -> Busy, anything else -> Off
    QString time;                                     // HH:MM as listed, may be empty
    quint32 id = 0;                                   // node number (0 when not a number)
    QHostAddress address; // null when the listed address is not plain dotted IPv4 (the entry is kept)
};

struct StationList {
    QList<StationEntry> stations; // entries whose callsign is "." are skipped
    QString message;              // data lines of entries whose callsign is a single space, joined by \n
};

// Limits on a list reply; a reply past them is rejected rather than read further.
inline constexpr qsizetype MaxListBytes = qsizetype(16) * 1024 * 1024;
inline constexpr int MaxListEntries = 100000;
inline constexpr qsizetype MaxListLine = 512;

// Reads a list reply: "@@@\n", a count line, count entries of four lines (callsign, data, id, IPv4),
// "+++". streamEnded says the server closed the connection: then a reply without "+++" is accepted as
// long as every counted entry is there. The count may take in the "." entries or not: the list ends at
// "+++" (or the end of the stream) once either count is reached. Lines end in LF (CR LF too); a line
// must end before the stream does. A count that is not a number or over MaxListEntries, fewer or more
// entries than counted, anything but "+++" after the last entry (what follows "+++" is ignored), or a line
// over MaxListLine is a reject.
// Returns nullopt with *incomplete = true when more bytes may still complete it; nullopt with a reason
// in *why when it can never be read. One pass over the reply.
std::optional<StationList> parseStationList(QByteArrayView reply, bool streamEnded, bool* incomplete = nullptr,
                                            QString* why = nullptr);

} // namespace el
