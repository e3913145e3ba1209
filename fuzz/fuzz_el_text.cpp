// SPDX-License-Identifier: GPL-3.0-or-later
// Chat and info datagrams from a peer, and our own chat and info read back.
// Input: the datagram; also, split at its first NUL, a callsign and a text (UTF-8) for our chat and info.
#include "FuzzCheck.h"
#include "Packets.h"

namespace {

bool isDropped(QChar c) {
    const char16_t u = c.unicode();
    return (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || (u >= 0x7F && u <= 0x9F);
}

QString withoutDropped(const QString& text) {
    QString kept;
    for (const QChar c : text) {
        if (!isDropped(c)) {
            kept.append(c);
        }
    }
    return kept;
}

bool beyondLatin1(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() > 0xFF) {
            return true;
        }
    }
    return false;
}

// Latin-1 bytes that happen to form UTF-8 are read as UTF-8: only ASCII and UTF-8 texts come back whole.
bool comesBackWhole(const QString& text) {
    bool ascii = true;
    for (const QChar c : text) {
        ascii = ascii && c.unicode() < 0x80;
    }
    return ascii || beyondLatin1(text);
}

// The longest start of text whose encoding fits in max bytes, never half a character.
QString fitting(const QString& text, bool utf8, qsizetype max) {
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype units = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const qsizetype need = utf8 ? text.mid(i, units).toUtf8().size() : 1;
        if (bytes + need > max) {
            break;
        }
        bytes += need;
        i += units;
    }
    return text.first(i);
}

void checkPeerDatagram(QByteArrayView input) {
    const auto packet = el::parseText(input);
    if (!packet) {
        return;
    }
    FUZZ_CHECK(input.size() <= el::MaxDatagram && !el::isVoice(input));
    FUZZ_CHECK(input.sliced(1, 5) == QByteArrayView("NDATA"));
    const qsizetype nul = input.indexOf('\0', 6);
    FUZZ_CHECK(nul >= 6 && packet->text.size() <= nul - 6);
    for (const QChar c : packet->text) {
        FUZZ_CHECK(!isDropped(c));
    }
    const bool info = input.sliced(6).startsWith('\r') || input.sliced(6).startsWith(QByteArrayView("CONF"));
    FUZZ_CHECK(info == (packet->kind == el::TextPacket::Kind::Info));
    FUZZ_CHECK(!info || !packet->text.contains(u'\r'));
}

void checkOurText(QByteArrayView input) {
    const qsizetype nul = input.indexOf('\0');
    const QString callsign = QString::fromUtf8(nul < 0 ? QByteArrayView() : input.first(nul)).remove(QChar(0));
    const QString text = QString::fromUtf8(nul < 0 ? input : input.sliced(nul + 1)).remove(QChar(0));
    const QByteArray chat = el::buildChat(callsign, text);
    FUZZ_CHECK(chat.startsWith("oNDATA") && chat.endsWith(QByteArrayView("\r\n\0", 3)));
    FUZZ_CHECK(chat.count('\0') == 1);
    const QString call = callsign.toUpper();
    const bool utf8 = beyondLatin1(call + text);
    const QString sentText = fitting(text, utf8, el::MaxTextBytes);
    FUZZ_CHECK(chat.size() - 6 - 1 - 3 - (utf8 ? call.toUtf8().size() : call.size()) ==
               (utf8 ? sentText.toUtf8().size() : sentText.size()));
    const auto readChat = el::parseText(chat);
    FUZZ_CHECK(readChat);
    if (!call.startsWith(u"CONF") && !call.startsWith(u'\r')) {
        FUZZ_CHECK(readChat->kind == el::TextPacket::Kind::Chat);
        if (comesBackWhole(call + text)) {
            FUZZ_CHECK(readChat->text == withoutDropped(call + u'>' + sentText + QStringLiteral("\r\n")));
        }
    }

    const QByteArray info = el::buildInfo(text);
    FUZZ_CHECK(info.startsWith("oNDATA\r") && info.endsWith('\0') && info.count('\0') == 1);
    FUZZ_CHECK(info.size() <= 7 + el::MaxTextBytes + 1 && !info.contains('\n'));
    FUZZ_CHECK(info.size() == 8 || info.endsWith(QByteArrayView("\r\0", 2)));
    const auto readInfo = el::parseText(info);
    FUZZ_CHECK(readInfo && readInfo->kind == el::TextPacket::Kind::Info);
    QString lines = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (!lines.isEmpty() && !lines.endsWith(u'\n')) {
        lines.append(u'\n');
    }
    if (!comesBackWhole(text)) {
        return;
    }
    if ((beyondLatin1(text) ? lines.toUtf8().size() : lines.size()) <= el::MaxTextBytes) {
        FUZZ_CHECK(readInfo->text == withoutDropped(lines));
    } else {
        // Cut: a start of the lines, ended by a line break of its own.
        FUZZ_CHECK(readInfo->text.endsWith(u'\n') && withoutDropped(lines).startsWith(readInfo->text.chopped(1)));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkPeerDatagram(input);
    checkOurText(input);
    return 0;
}
