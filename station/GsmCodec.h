// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

struct gsm_state;

// GSM 06.10 full rate through libgsm with its default options (the 33-byte packing EchoLink uses, not
// WAV49). The encoder and the decoder keep state from frame to frame, so each voice stream (each peer,
// each direction) needs its own codec; never share one between peers.
class GsmCodec {
public:
    static constexpr int FrameSamples = 160; // 20 ms at 8 kHz
    static constexpr int FrameBytes = 33;
    static constexpr int BlockFrames = 4;                           // one voice packet
    static constexpr int BlockSamples = BlockFrames * FrameSamples; // 640, 80 ms
    static constexpr int BlockBytes = BlockFrames * FrameBytes;     // 132

    GsmCodec();
    ~GsmCodec();
    GsmCodec(const GsmCodec&) = delete;
    GsmCodec& operator=(const GsmCodec&) = delete;
    // A moved-from codec may only be assigned to or destroyed.
    GsmCodec(GsmCodec&& other) noexcept;
    GsmCodec& operator=(GsmCodec&& other) noexcept;

    // 160 samples in, one 33-byte frame out.
    QByteArray encode(const qint16* samples);
    // One 33-byte frame to 160 samples. False (and silence in out) for another size or a frame libgsm
    // refuses (the top nibble of its first byte is not 0xD).
    bool decode(QByteArrayView frame, qint16* out);

    // Four frames at once: 640 samples <-> 132 bytes.
    QByteArray encodeBlock(const qint16* samples);
    // False for a block that is not 132 bytes (out all silence) or has a refused frame (that frame silent,
    // the others decoded).
    bool decodeBlock(QByteArrayView block, qint16* out);

    // True when every frame of the data has the GSM signature; a cheap check before queueing a packet.
    static bool looksLikeFrames(QByteArrayView frames);

private:
    gsm_state* encoder_ = nullptr;
    gsm_state* decoder_ = nullptr;
};
