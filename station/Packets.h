// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// EchoLink datagrams: building what we send and reading what peers send. Pure functions, no sockets, so
// that every reader can be fed hostile bytes in tests and fuzzers. Readers never read past the view they
// are given and reject anything they do not understand with a short reason.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace el {

inline constexpr quint16 DataPort = 5198;    // voice and text
inline constexpr quint16 ControlPort = 5199; // SDES and BYE

// Longest datagram we look at; anything longer is dropped unread.
inline constexpr qsizetype MaxDatagram = 4096;

// Text received from a peer or the directory: valid UTF-8 is read as UTF-8, anything else as Latin-1;
// control characters other than CR, LF and tab are dropped (C1 controls too).
QString decodeReceivedText(QByteArrayView bytes);

// Longest callsign and name read from a NAME item: a longer callsign rejects the packet, a longer name is cut.
inline constexpr qsizetype MaxCallsignChars = 32;
inline constexpr qsizetype MaxNameChars = 64;
// The PRIV items joined are cut to this many characters.
inline constexpr qsizetype MaxPrivChars = 256;

// ---- control (port 5199) ----------------------------------------------------------------------------------

// Our SDES in the common layout: empty receiver report, then one SDES chunk with CNAME "CALLSIGN", NAME
// (callsign in a 15-column field, then the operator name; a callsign of 15 or more characters gets one blank
// after it), EMAIL "CALLSIGN", PHONE "08:30", END plus one
// zero, padded with zeros to a multiple of 4. The callsign goes out in capitals. Never advertises Speex.
QByteArray buildSdes(const QString& callsign, const QString& name);
// Our BYE: empty receiver report, then a BYE with the reason "jan2002" (24 bytes).
QByteArray buildBye();

struct ControlPacket {
    enum class Kind { Sdes, Bye };
    Kind kind = Kind::Sdes;
    // From the SDES NAME item: the callsign is the text up to the first blank, the name what follows
    // the blanks after it (trimmed, tabs and line breaks as spaces, at most MaxNameChars). Empty for a BYE.
    QString callsign;
    QString name;
    // The PRIV items, joined with spaces (peers put codec hints there; we only ever log it).
    QString priv;
};

// Reads a control datagram: version 3 (or 1) in the first sub-packet, which must be a receiver or
// sender report without padding; then sub-packets until an SDES (202) or BYE (203) is found. Accepts the
// padded variant (padding bit and a pad count at the end), non-zero SSRCs and extra items. A SDES without
// a NAME item, with an empty callsign, a callsign longer than MaxCallsignChars or holding a control
// character, or with an item running past the packet is rejected; so is a datagram over MaxDatagram.
// On failure returns nullopt and, if why is given, a short reason.
std::optional<ControlPacket> parseControl(QByteArrayView datagram, QString* why = nullptr);

// ---- text (port 5198) -------------------------------------------------------------------------------------

// Longest chat or info text we send (bytes before the terminator); longer texts are cut.
inline constexpr qsizetype MaxTextBytes = 1024;

// "oNDATA" CALL ">" text CR LF NUL. The callsign in capitals; callsign and text in Latin-1 where they fit,
// otherwise UTF-8; NUL characters left out; the text cut to MaxTextBytes on a character boundary.
QByteArray buildChat(const QString& callsign, const QString& text);
// "oNDATA" CR, then the text with every line ending (CR LF, CR, LF) turned into CR and ending in CR, then
// NUL; at most MaxTextBytes between the first CR and the NUL. An empty text gives "oNDATA" CR NUL.
QByteArray buildInfo(const QString& text);

struct TextPacket {
    enum class Kind { Chat, Info };
    Kind kind = Kind::Chat;
    // chat: as the peer wrote it ("CALL>message", line ending kept); info: each CR LF or CR as \n
    QString text;
};

// Reads a text datagram: bytes 1..5 "NDATA" (byte 0 is not checked, as peers do not check it), a NUL
// somewhere after; byte 6 CR or "CONF" at byte 6 means info, anything else chat. Bytes after the NUL are
// ignored. Text that is valid UTF-8 is read as UTF-8, otherwise as Latin-1; control characters other
// than CR, LF and tab are dropped. A first byte of 0xC0 (voice) or a datagram over MaxDatagram is rejected.
std::optional<TextPacket> parseText(QByteArrayView datagram, QString* why = nullptr);

// ---- voice (port 5198) ------------------------------------------------------------------------------------

inline constexpr quint8 VoiceMarker = 0xC0; // byte 0 of every voice packet
inline constexpr quint8 PayloadGsm = 3;
inline constexpr qsizetype GsmFrameBytes = 33;
inline constexpr qsizetype GsmFramesPerPacket = 4;
inline constexpr qsizetype VoiceHeaderBytes = 12;
inline constexpr qsizetype GsmPacketBytes = VoiceHeaderBytes + GsmFramesPerPacket * GsmFrameBytes; // 144

// A datagram on the data port is voice exactly when its first byte is 0xC0; everything else is text.
inline bool isVoice(QByteArrayView datagram) {
    return !datagram.isEmpty() && static_cast<quint8>(datagram.front()) == VoiceMarker;
}

struct VoiceHeader {
    quint8 payloadType = PayloadGsm;
    quint16 sequence = 0;
    quint32 timestamp = 0;
    quint32 ssrc = 0;
};

// Header + four GSM frames (frames must be 132 bytes; with any other size the result is empty).
QByteArray buildVoice(const VoiceHeader& header, QByteArrayView gsmFrames);

struct VoicePacket {
    VoiceHeader header;
    QByteArrayView frames; // the four GSM frames, a view into the datagram
};

// Reads a GSM voice packet: byte 0 0xC0, payload type 3 (the marker bit is ignored), at least 144 bytes
// (extra bytes ignored, up to MaxDatagram).
// Anything else (other payload types, short packets) is rejected; the caller counts and drops it.
std::optional<VoicePacket> parseVoice(QByteArrayView datagram, QString* why = nullptr);

} // namespace el
