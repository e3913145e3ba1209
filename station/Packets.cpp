// SPDX-License-Identifier: GPL-3.0-or-later
#include "Packets.h"

#include <QStringList>
#include <utility>

namespace el {
namespace {

quint8 byteAt(QByteArrayView bytes, qsizetype i) {
    return static_cast<quint8>(bytes[i]);
}

std::nullopt_t fail(QString* why, const char* reason) {
    if (why) {
        *why = QString::fromLatin1(reason);
    }
    return std::nullopt;
}

bool isDroppedControl(char32_t c) {
    return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || (c >= 0x7F && c <= 0x9F);
}

void appendCodePoint(QString& out, char32_t c, bool dropControls) {
    if (dropControls && isDroppedControl(c)) {
        return;
    }
    if (c > 0xFFFF) {
        out.append(QChar(QChar::highSurrogate(c)));
        out.append(QChar(QChar::lowSurrogate(c)));
    } else {
        out.append(QChar(static_cast<char16_t>(c)));
    }
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF); false on the first bad sequence.
bool decodeUtf8(QByteArrayView bytes, QString& out, bool dropControls) {
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const quint8 b = byteAt(bytes, i);
        if (b < 0x80) {
            appendCodePoint(out, b, dropControls);
            ++i;
            continue;
        }
        int extra = 0;
        char32_t c = 0;
        char32_t min = 0;
        if ((b & 0xE0) == 0xC0) {
            extra = 1, c = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, c = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, c = b & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (n - i <= extra) {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            const quint8 cont = byteAt(bytes, i + k);
            if ((cont & 0xC0) != 0x80) {
                return false;
            }
            c = (c << 6) | (cont & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
        appendCodePoint(out, c, dropControls);
        i += extra + 1;
    }
    return true;
}

QString decode(QByteArrayView bytes, bool dropControls) {
    QString out;
    out.reserve(bytes.size());
    if (decodeUtf8(bytes, out, dropControls)) {
        return out;
    }
    out.clear();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        appendCodePoint(out, byteAt(bytes, i), dropControls);
    }
    return out;
}

// Cuts to at most max UTF-16 units without leaving half a surrogate pair.
QString cutChars(QString text, qsizetype max) {
    if (text.size() > max) {
        text.truncate(max > 0 && text[max - 1].isHighSurrogate() ? max - 1 : max);
    }
    return text;
}

bool fitsLatin1(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() > 0xFF) {
            return false;
        }
    }
    return true;
}

// Cuts encoded text to at most max bytes; in UTF-8 never inside a character.
QByteArray cutBytes(QByteArray bytes, qsizetype max, bool utf8) {
    if (bytes.size() <= max) {
        return bytes;
    }
    qsizetype cut = max;
    while (utf8 && cut > 0 && (static_cast<quint8>(bytes[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    bytes.truncate(cut);
    return bytes;
}

QByteArray encode(const QString& text, bool utf8) {
    return utf8 ? text.toUtf8() : text.toLatin1();
}

void appendBigEndian(QByteArray& out, quint32 value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
        out.append(static_cast<char>((value >> shift) & 0xFF));
    }
}

quint32 readBigEndian(QByteArrayView bytes, qsizetype at, int count) {
    quint32 value = 0;
    for (int i = 0; i < count; ++i) {
        value = (value << 8) | byteAt(bytes, at + i);
    }
    return value;
}

void appendItem(QByteArray& out, quint8 type, const QByteArray& text) {
    out.append(static_cast<char>(type));
    out.append(static_cast<char>(text.size()));
    out.append(text);
}

constexpr char EmptyReceiverReport[] = {'\xC0', '\xC9', 0, 1, 0, 0, 0, 0};
constexpr qsizetype MaxItemBytes = 255;
constexpr qsizetype CallsignColumns = 15;
constexpr quint8 ItemEnd = 0, ItemName = 2, ItemPriv = 8;
constexpr quint8 TypeSr = 200, TypeRr = 201, TypeSdes = 202, TypeBye = 203;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The NAME item: callsign up to the first blank, then the name.
bool readName(QByteArrayView item, ControlPacket& packet, QString* why) {
    qsizetype split = 0;
    while (split < item.size() && !isBlank(item[split])) {
        ++split;
    }
    packet.callsign = decode(item.first(split), false);
    for (const QChar c : std::as_const(packet.callsign)) {
        if (isDroppedControl(c.unicode())) {
            fail(why, "control character in callsign");
            return false;
        }
    }
    if (packet.callsign.isEmpty()) {
        fail(why, "empty callsign");
        return false;
    }
    if (packet.callsign.size() > MaxCallsignChars) {
        fail(why, "callsign too long");
        return false;
    }
    QString name = decodeReceivedText(item.sliced(split));
    name.replace(u'\t', u' ').replace(u'\r', u' ').replace(u'\n', u' ');
    packet.name = cutChars(name.trimmed(), MaxNameChars);
    return true;
}

// One SDES sub-packet (header, SSRC, items); the walk never leaves it.
std::optional<ControlPacket> readSdes(QByteArrayView part, QString* why) {
    qsizetype end = part.size();
    if (byteAt(part, 0) & 0x20) {
        // The pad count sits in the last byte and covers itself; the pad is not items.
        const quint8 pad = byteAt(part, end - 1);
        if (pad == 0 || pad > end - 4) {
            return fail(why, "bad pad count");
        }
        end -= pad;
    }
    ControlPacket packet;
    packet.kind = ControlPacket::Kind::Sdes;
    bool haveName = false;
    QStringList privs;
    for (qsizetype at = 8; at < end;) {
        const quint8 type = byteAt(part, at);
        if (type == ItemEnd) {
            break;
        }
        if (end - at < 2 || end - at - 2 < byteAt(part, at + 1)) {
            return fail(why, "item runs past the packet");
        }
        const QByteArrayView text = part.sliced(at + 2, byteAt(part, at + 1));
        if (type == ItemName && !haveName) {
            if (!readName(text, packet, why)) {
                return std::nullopt;
            }
            haveName = true;
        } else if (type == ItemPriv) {
            privs.append(decodeReceivedText(text).replace(u'\t', u' ').replace(u'\r', u' ').replace(u'\n', u' '));
        }
        at += 2 + text.size();
    }
    if (!haveName) {
        return fail(why, "no NAME item");
    }
    packet.priv = cutChars(privs.join(u' '), MaxPrivChars);
    return packet;
}

} // namespace

QString decodeReceivedText(QByteArrayView bytes) {
    return decode(bytes, true);
}

// ---- control ----------------------------------------------------------------------------------------------

QByteArray buildSdes(const QString& callsign, const QString& name) {
    const QString call = QString(callsign).remove(QChar(0)).toUpper();
    const QString cleanName = QString(name).remove(QChar(0));
    // A callsign that fills the field would run into the name: keep one blank between them.
    const QString field = call.leftJustified(
        call.size() >= CallsignColumns && !cleanName.isEmpty() ? call.size() + 1 : CallsignColumns, u' ');
    const bool utf8 = !fitsLatin1(field + cleanName);
    // The callsign field first; the name gets what is left of the item's 255 bytes.
    const QByteArray fieldBytes = cutBytes(encode(field, utf8), MaxItemBytes, utf8);
    const QByteArray nameItem = fieldBytes + cutBytes(encode(cleanName, utf8), MaxItemBytes - fieldBytes.size(), utf8);

    QByteArray sdes("\xC1\xCA\0\0\0\0\0\0", 8);
    appendItem(sdes, 1, QByteArrayLiteral("CALLSIGN"));
    appendItem(sdes, ItemName, nameItem);
    appendItem(sdes, 3, QByteArrayLiteral("CALLSIGN"));
    appendItem(sdes, 4, QByteArrayLiteral("08:30"));
    // END and one more zero: some readers look one byte past END.
    sdes.append(2, '\0');
    sdes.append((4 - sdes.size() % 4) % 4, '\0');
    const auto words = static_cast<quint32>(sdes.size() / 4 - 1);
    sdes[2] = static_cast<char>(words >> 8);
    sdes[3] = static_cast<char>(words & 0xFF);
    return QByteArray(EmptyReceiverReport, sizeof EmptyReceiverReport) + sdes;
}

QByteArray buildBye() {
    return QByteArray(EmptyReceiverReport, sizeof EmptyReceiverReport) +
           QByteArray("\xC1\xCB\0\x03\0\0\0\0\x07jan2002", 16);
}

std::optional<ControlPacket> parseControl(QByteArrayView datagram, QString* why) {
    if (datagram.size() > MaxDatagram) {
        return fail(why, "datagram too long");
    }
    if (datagram.size() < 8) {
        return fail(why, "too short");
    }
    const quint8 first = byteAt(datagram, 0);
    if (first >> 6 != 3 && first >> 6 != 1) {
        return fail(why, "not version 3");
    }
    if (first & 0x20) {
        return fail(why, "padding in the first part");
    }
    if (byteAt(datagram, 1) != TypeRr && byteAt(datagram, 1) != TypeSr) {
        return fail(why, "does not start with a report");
    }
    for (qsizetype at = 0;;) {
        const qsizetype length = (static_cast<qsizetype>(readBigEndian(datagram, at + 2, 2)) + 1) * 4;
        if (length > datagram.size() - at) {
            return fail(why, "part runs past the datagram");
        }
        if (at > 0 && byteAt(datagram, at + 1) == TypeBye) {
            ControlPacket bye;
            bye.kind = ControlPacket::Kind::Bye;
            return bye;
        }
        if (at > 0 && byteAt(datagram, at + 1) == TypeSdes) {
            return readSdes(datagram.sliced(at, length), why);
        }
        at += length;
        // Peers stop looking at the first later part that is not version 3.
        if (datagram.size() - at < 4 || byteAt(datagram, at) >> 6 != 3) {
            return fail(why, "no SDES or BYE");
        }
    }
}

// ---- text -------------------------------------------------------------------------------------------------

namespace {
const QByteArray TextHeader = QByteArrayLiteral("oNDATA");
}

QByteArray buildChat(const QString& callsign, const QString& text) {
    const QString call = QString(callsign).remove(QChar(0)).toUpper();
    const QString body = QString(text).remove(QChar(0));
    const bool utf8 = !fitsLatin1(call + body);
    return TextHeader + encode(call, utf8) + '>' + cutBytes(encode(body, utf8), MaxTextBytes, utf8) +
           QByteArray("\r\n\0", 3);
}

QByteArray buildInfo(const QString& text) {
    QString lines = QString(text).remove(QChar(0));
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\r")).replace(u'\n', u'\r');
    const bool utf8 = !fitsLatin1(lines);
    QByteArray content = encode(lines, utf8);
    if (!content.isEmpty() && !content.endsWith('\r')) {
        content.append('\r');
    }
    if (content.size() > MaxTextBytes) {
        content = cutBytes(content, MaxTextBytes - 1, utf8);
        if (!content.endsWith('\r')) {
            content.append('\r');
        }
    }
    return TextHeader + '\r' + content + '\0';
}

std::optional<TextPacket> parseText(QByteArrayView datagram, QString* why) {
    if (datagram.size() > MaxDatagram) {
        return fail(why, "datagram too long");
    }
    if (datagram.size() < 6 || datagram.sliced(1, 5) != QByteArrayView("NDATA")) {
        return fail(why, "no NDATA header");
    }
    if (byteAt(datagram, 0) == VoiceMarker) {
        return fail(why, "voice, not text");
    }
    const qsizetype nul = datagram.indexOf('\0', 6);
    if (nul < 0) {
        return fail(why, "no NUL");
    }
    const QByteArrayView rest = datagram.sliced(6, nul - 6);
    TextPacket packet;
    if (rest.startsWith('\r')) {
        packet.kind = TextPacket::Kind::Info;
        packet.text = decodeReceivedText(rest.sliced(1));
    } else if (rest.startsWith(QByteArrayView("CONF"))) {
        packet.kind = TextPacket::Kind::Info;
        packet.text = decodeReceivedText(rest);
    } else {
        packet.kind = TextPacket::Kind::Chat;
        packet.text = decodeReceivedText(rest);
        return packet;
    }
    packet.text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return packet;
}

// ---- voice ------------------------------------------------------------------------------------------------

QByteArray buildVoice(const VoiceHeader& header, QByteArrayView gsmFrames) {
    if (gsmFrames.size() != GsmFramesPerPacket * GsmFrameBytes) {
        return {};
    }
    QByteArray packet;
    packet.reserve(GsmPacketBytes);
    packet.append(static_cast<char>(VoiceMarker));
    packet.append(static_cast<char>(header.payloadType));
    appendBigEndian(packet, header.sequence, 2);
    appendBigEndian(packet, header.timestamp, 4);
    appendBigEndian(packet, header.ssrc, 4);
    packet.append(gsmFrames);
    return packet;
}

std::optional<VoicePacket> parseVoice(QByteArrayView datagram, QString* why) {
    if (datagram.size() > MaxDatagram) {
        return fail(why, "datagram too long");
    }
    if (!isVoice(datagram)) {
        return fail(why, "not voice");
    }
    if (datagram.size() < 2 || (byteAt(datagram, 1) & 0x7F) != PayloadGsm) {
        return fail(why, "not GSM");
    }
    if (datagram.size() < GsmPacketBytes) {
        return fail(why, "short GSM packet");
    }
    VoicePacket packet;
    packet.header.payloadType = PayloadGsm;
    packet.header.sequence = static_cast<quint16>(readBigEndian(datagram, 2, 2));
    packet.header.timestamp = readBigEndian(datagram, 4, 4);
    packet.header.ssrc = readBigEndian(datagram, 8, 4);
    packet.frames = datagram.sliced(VoiceHeaderBytes, GsmFramesPerPacket * GsmFrameBytes);
    return packet;
}

} // namespace el
