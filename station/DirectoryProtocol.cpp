// SPDX-License-Identifier: GPL-3.0-or-later
#include "DirectoryProtocol.h"

#include "Packets.h"

namespace el {
namespace {

std::nullopt_t fail(QString* why, const char* reason) {
    if (why) {
        *why = QString::fromLatin1(reason);
    }
    return std::nullopt;
}

// A field must not end early: CR and LF become spaces.
QByteArray loginField(const QString& text) {
    QString clean = text;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    return clean.toLatin1();
}

QByteArray statusText(DirectoryStatus status, const QTime& localTime) {
    const QByteArray hhmm =
        localTime.isValid() ? localTime.toString(QStringLiteral("hh:mm")).toLatin1() : QByteArrayLiteral("00:00");
    switch (status) {
    case DirectoryStatus::Online:
        return "ONLINE3.38(" + hhmm + ')';
    case DirectoryStatus::Busy:
        return "BUSY3.40(" + hhmm + ')';
    case DirectoryStatus::Off:
        break;
    }
    return QByteArrayLiteral("OFF-V3.40");
}

bool allDigits(QByteArrayView text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return !text.isEmpty();
}

// Decimal number of at most maxDigits digits, or -1.
qint64 number(QByteArrayView text, int maxDigits) {
    text = text.trimmed();
    if (!allDigits(text) || text.size() > maxDigits) {
        return -1;
    }
    qint64 value = 0;
    for (const char c : text) {
        value = value * 10 + (c - '0');
    }
    return value;
}

// Only plain dotted decimal IPv4 ("a.b.c.d", no leading zeros); anything else is no address.
QHostAddress dottedIpv4(QByteArrayView text) {
    text = text.trimmed();
    quint32 address = 0;
    int parts = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '.') {
            continue;
        }
        const QByteArrayView part = text.sliced(start, i - start);
        const qint64 value = number(part, 3);
        if (value < 0 || value > 255 || (part.size() > 1 && part[0] == '0') || ++parts > 4) {
            return {};
        }
        address = (address << 8) | static_cast<quint32>(value);
        start = i + 1;
    }
    return parts == 4 ? QHostAddress(address) : QHostAddress();
}

QString withoutTrailingBlanks(QString text) {
    qsizetype end = text.size();
    while (end > 0 && (text[end - 1] == u' ' || text[end - 1] == u'\t')) {
        --end;
    }
    text.truncate(end);
    return text;
}

// "description [ON HH:MM]": everything keys on the last '['.
void readDataLine(QByteArrayView data, StationEntry& entry) {
    const qsizetype open = data.lastIndexOf('[');
    if (open < 0) {
        entry.description = withoutTrailingBlanks(decodeReceivedText(data));
        entry.status = DirectoryStatus::Off;
        return;
    }
    entry.description = withoutTrailingBlanks(decodeReceivedText(data.first(open)));
    const QByteArrayView after = data.sliced(open + 1);
    qsizetype wordEnd = 0;
    while (wordEnd < after.size() && after[wordEnd] != ' ' && after[wordEnd] != ']') {
        ++wordEnd;
    }
    const QByteArrayView word = after.first(wordEnd);
    entry.status = word == QByteArrayView("ON")     ? DirectoryStatus::Online
                   : word == QByteArrayView("BUSY") ? DirectoryStatus::Busy
                                                    : DirectoryStatus::Off;
    const qsizetype space = after.indexOf(' ');
    if (space >= 0) {
        const QByteArrayView time = after.sliced(space + 1);
        entry.time = decodeReceivedText(time.first(qMin<qsizetype>(time.size(), 5)));
    }
}

enum class LineResult { Ok, Missing, TooLong };

// Lines end in LF (a CR before it is dropped); a line is never looked for further than MaxListLine.
struct LineReader {
    QByteArrayView data;
    qsizetype pos = 0;

    LineResult next(QByteArrayView& line) {
        const qsizetype window = qMin(data.size() - pos, MaxListLine + 1);
        const qsizetype newline = data.sliced(pos, window).indexOf('\n');
        if (newline < 0) {
            return window > MaxListLine ? LineResult::TooLong : LineResult::Missing;
        }
        line = data.sliced(pos, newline);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        pos += newline + 1;
        return LineResult::Ok;
    }
    QByteArrayView rest() const { return data.sliced(pos); }
};

const QByteArrayView EndMarker("+++");

} // namespace

QByteArray buildLogin(const QString& callsign, const QString& password, DirectoryStatus status, const QTime& localTime,
                      const QString& description) {
    QString desc = description;
    desc.replace(u'\r', u' ').replace(u'\n', u' ');
    desc.truncate(MaxDescription);
    return 'l' + loginField(callsign.toUpper()) + "\xAC\xAC" + loginField(password) + '\r' +
           statusText(status, localTime) + '\r' + loginField(desc) + '\r';
}

bool loginAccepted(QByteArrayView reply) {
    return reply.startsWith(QByteArrayView("OK"));
}

QByteArray listRequest() {
    return QByteArrayLiteral("s");
}

std::optional<StationList> parseStationList(QByteArrayView reply, bool streamEnded, bool* incomplete, QString* why) {
    if (incomplete) {
        *incomplete = false;
    }
    // More bytes may still come, unless the server has closed the connection.
    const auto cutShort = [&](const char* reason) -> std::nullopt_t {
        if (!streamEnded && incomplete) {
            *incomplete = true;
        }
        return fail(why, streamEnded ? reason : "incomplete");
    };
    if (reply.size() > MaxListBytes) {
        return fail(why, "list too long");
    }
    const qsizetype head = qMin<qsizetype>(reply.size(), 3);
    if (reply.first(head) != QByteArrayView("@@@").first(head)) {
        return fail(why, "not a station list");
    }
    LineReader reader{reply};
    QByteArrayView line;
    switch (reader.next(line)) {
    case LineResult::Missing:
        return cutShort("no list header");
    case LineResult::TooLong:
        return fail(why, "not a station list");
    case LineResult::Ok:
        if (line != QByteArrayView("@@@")) {
            return fail(why, "not a station list");
        }
    }
    switch (reader.next(line)) {
    case LineResult::Missing:
        return cutShort("no count");
    case LineResult::TooLong:
        return fail(why, "bad count");
    case LineResult::Ok:
        break;
    }
    const qint64 count = number(line, 9);
    if (count < 0 || count > MaxListEntries) {
        return fail(why, "bad count");
    }

    StationList list;
    // Every entry takes at least four line ends, so a count that lies cannot make us reserve much.
    list.stations.reserve(qMin(count, reply.size() / 4));
    QStringList messages;
    qint64 entries = 0; // every entry read, "." ones too
    qint64 counted = 0; // entries other than "."
    for (;;) {
        const QByteArrayView rest = reader.rest();
        // Whether the count takes in the "." entries is not settled; the list may end once either says so.
        const bool allThere = counted >= count || entries >= count;
        if (rest.startsWith(EndMarker)) {
            if (allThere) {
                break;
            }
            return fail(why, "fewer entries than counted");
        }
        if (rest.isEmpty() && allThere && streamEnded) {
            break;
        }
        if (counted >= count && !rest.startsWith('.')) {
            return EndMarker.startsWith(rest) ? cutShort("no end marker") : fail(why, "no end marker");
        }
        if (entries >= MaxListEntries) {
            return fail(why, "too many entries");
        }
        QByteArrayView fields[4];
        for (QByteArrayView& field : fields) {
            switch (reader.next(field)) {
            case LineResult::Missing:
                return cutShort("list cut short");
            case LineResult::TooLong:
                return fail(why, "line too long");
            case LineResult::Ok:
                break;
            }
        }
        ++entries;
        if (fields[0] == QByteArrayView(".")) {
            continue;
        }
        if (++counted > count) {
            return fail(why, "more entries than counted");
        }
        if (fields[0] == QByteArrayView(" ")) {
            messages.append(withoutTrailingBlanks(decodeReceivedText(fields[1])));
            continue;
        }
        StationEntry entry;
        entry.callsign = decodeReceivedText(fields[0]);
        readDataLine(fields[1], entry);
        const qint64 id = number(fields[2], 10);
        entry.id = id >= 0 && id <= 0xFFFFFFFFLL ? static_cast<quint32>(id) : 0;
        entry.address = dottedIpv4(fields[3]);
        list.stations.append(std::move(entry));
    }
    list.message = messages.join(u'\n');
    return list;
}

} // namespace el
