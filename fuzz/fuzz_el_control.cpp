// SPDX-License-Identifier: GPL-3.0-or-later
// Control and voice datagrams from a peer, and our own SDES and voice packets read back.
// Input: the datagram; also, split at its first NUL, a callsign and a name for our SDES.
#include "FuzzCheck.h"
#include "Packets.h"

namespace {

bool isBlankOrControl(QChar c) {
    return c.unicode() <= 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F);
}

// What the reader makes of a name: controls dropped, tab and line breaks as spaces, trimmed, cut.
QString nameAsRead(QString name) {
    QString kept;
    for (const QChar c : name) {
        if (c == u'\t' || c == u'\r' || c == u'\n') {
            kept.append(u' ');
        } else if (!isBlankOrControl(c) || c == u' ') {
            kept.append(c);
        }
    }
    kept = kept.trimmed();
    if (kept.size() > el::MaxNameChars) {
        kept.truncate(kept[el::MaxNameChars - 1].isHighSurrogate() ? el::MaxNameChars - 1 : el::MaxNameChars);
    }
    return kept;
}

void checkPeerDatagram(QByteArrayView input) {
    if (const auto packet = el::parseControl(input)) {
        FUZZ_CHECK(input.size() <= el::MaxDatagram);
        const auto version = static_cast<quint8>(input[0]) >> 6;
        FUZZ_CHECK(version == 3 || version == 1);
        if (packet->kind == el::ControlPacket::Kind::Sdes) {
            FUZZ_CHECK(!packet->callsign.isEmpty() && packet->callsign.size() <= el::MaxCallsignChars);
            for (const QChar c : packet->callsign) {
                FUZZ_CHECK(!isBlankOrControl(c));
            }
            FUZZ_CHECK(packet->name.size() <= el::MaxNameChars && packet->name == packet->name.trimmed());
            FUZZ_CHECK(!packet->name.contains(u'\n') && !packet->name.contains(u'\r') && !packet->name.contains(u'\t'));
            FUZZ_CHECK(packet->priv.size() <= el::MaxPrivChars);
        } else {
            FUZZ_CHECK(packet->callsign.isEmpty() && packet->name.isEmpty());
        }
    }
    if (const auto voice = el::parseVoice(input)) {
        FUZZ_CHECK(input.size() >= el::GsmPacketBytes && input.size() <= el::MaxDatagram);
        FUZZ_CHECK(el::isVoice(input) && (static_cast<quint8>(input[1]) & 0x7F) == el::PayloadGsm);
        FUZZ_CHECK(voice->frames.data() == input.data() + el::VoiceHeaderBytes &&
                   voice->frames.size() == el::GsmFramesPerPacket * el::GsmFrameBytes);
        // Built again from what was read, it is the datagram without the extra bytes (the marker bit aside).
        QByteArray again = el::buildVoice(voice->header, voice->frames);
        again[1] = input[1];
        FUZZ_CHECK(again == input.first(el::GsmPacketBytes));
    } else {
        FUZZ_CHECK(input.size() < el::GsmPacketBytes || input.size() > el::MaxDatagram || !el::isVoice(input) ||
                   (static_cast<quint8>(input[1]) & 0x7F) != el::PayloadGsm);
    }
}

void checkOurSdes(QByteArrayView input) {
    const qsizetype nul = input.indexOf('\0');
    const QString callsign = QString::fromUtf8(nul < 0 ? input : input.first(nul));
    const QString name = nul < 0 ? QString() : QString::fromUtf8(input.sliced(nul + 1));
    const QByteArray sdes = el::buildSdes(callsign, name);
    FUZZ_CHECK(sdes.size() % 4 == 0 && sdes.size() <= 8 + 8 + 10 + 257 + 10 + 7 + 2 + 3);
    // Never advertises Speex unless the callsign or name (NUL left out) spell it themselves.
    const QString sent = QString(callsign.toUpper() + u' ' + name).remove(QChar(0));
    FUZZ_CHECK(!sdes.contains("SPEEX") || sent.contains(u"SPEEX"));
    bool plainCall = !callsign.isEmpty() && callsign.size() <= el::MaxCallsignChars;
    for (const QChar c : callsign) {
        plainCall = plainCall && c.unicode() > 0x20 && c.unicode() < 0x7F;
    }
    const auto packet = el::parseControl(sdes);
    if (!plainCall) {
        return;
    }
    FUZZ_CHECK(packet && packet->kind == el::ControlPacket::Kind::Sdes);
    FUZZ_CHECK(packet->callsign == callsign.toUpper());
    // Latin-1 bytes that happen to form UTF-8 are read as UTF-8, so only ASCII and UTF-8 names come back whole.
    bool ascii = true;
    bool beyondLatin1 = false;
    for (const QChar c : name) {
        ascii = ascii && c.unicode() < 0x80;
        beyondLatin1 = beyondLatin1 || c.unicode() > 0xFF;
    }
    const QString nameSent = QString(name).remove(QChar(0));
    if ((ascii || beyondLatin1) && nameSent.toUtf8().size() <= 255 - qMax<qsizetype>(16, callsign.size() + 1)) {
        FUZZ_CHECK(packet->name == nameAsRead(nameSent));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkPeerDatagram(input);
    checkOurSdes(input);
    return 0;
}
