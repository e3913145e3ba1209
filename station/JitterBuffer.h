// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>
#include <array>
#include <functional>
#include <map>
#include <span>

struct JitterSettings {
    int targetMs = 240; // held before playing starts
    int capMs = 2000;   // most held ahead
    int endGapMs = 300; // no packet for this long ends a transmission
};

// Smooths the voice of the peer being heard. Packets come in bursts (six at once, then 60/100 ms gaps)
// and are read by the sound device at its own steady pace.
//
// It holds decoded audio: each packet is its sequence number and 640 samples at 8 kHz, decoded by the
// caller's per-peer GsmCodec in arrival order. That keeps this buffer free of the codec; the rare packet
// that arrives out of order costs the GSM decoder a moment of mismatched state, which is inaudible.
//
// A transmission starts with the first packet after silence. Playing begins once targetMs of audio is
// held (or targetMs after that first packet, so a very short one is heard too), in sequence order; a packet
// that comes before its turn is slotted in, one whose turn has passed is dropped (late, or a duplicate when
// that packet was played), and a missing packet is played as silence (a gap). The buffer holds at most
// capMs ahead: beyond that the oldest packets are dropped (overflow). When it runs dry and the talker's
// packets come back, that is an underrun: it fills to targetMs again before going on. With no packet for
// endGapMs the transmission is over once the buffer has played out; the next packet starts a new one at
// whatever sequence number it carries (sequence numbers continue across transmissions and wrap at 65535).
class JitterBuffer {
public:
    static constexpr int PacketSamples = 640;
    static constexpr int PacketMs = 80;

    using Settings = JitterSettings;

    struct Counters {
        qint64 played = 0;        // packets played
        qint64 late = 0;          // arrived after their turn had passed
        qint64 duplicates = 0;    // already queued or already played
        qint64 gaps = 0;          // packets never received, played as silence
        qint64 overflows = 0;     // queued packets dropped to stay within capMs
        qint64 underruns = 0;     // ran dry in the middle of a transmission
        qint64 invalid = 0;       // not PacketSamples long
        qint64 transmissions = 0; // transmissions that have ended
    };

    enum class State { Idle, Buffering, Playing };

    // nowMs: a monotonic clock in milliseconds (tests pass their own).
    explicit JitterBuffer(std::function<qint64()> nowMs, Settings settings = {});

    // A received packet. False when it is not kept (wrong size, late, duplicate).
    bool push(quint16 sequence, std::span<const qint16> samples);

    // Fills out with the next samples at 8 kHz: the talker's audio, or silence while there is none. Also
    // notices the end of a transmission, so the device calling this steadily is all the clock it needs.
    void read(std::span<qint16> out);

    State state() const { return state_; }
    const Counters& counters() const { return counters_; }
    const Settings& settings() const { return settings_; }
    // Audio held, in milliseconds, counting missing packets inside the window and the unplayed part of
    // the packet being played.
    int bufferedMs() const;

private:
    using Packet = std::array<qint16, PacketSamples>;

    int packetsFor(int ms) const { return (ms + PacketMs - 1) / PacketMs; }
    qint64 unwrap(quint16 sequence) const;
    bool startNext(qint64 now);
    void endTransmission();
    void remember(bool played);

    std::function<qint64()> nowMs_;
    Settings settings_;
    Counters counters_;
    State state_ = State::Idle;

    std::map<qint64, Packet> queue_; // by unwrapped sequence number
    qint64 next_ = 0;                // unwrapped number of the next packet to play
    qint64 highest_ = -1;            // highest unwrapped number received in this transmission
    quint16 highestSequence_ = 0;
    quint64 playedMask_ = 0;  // bit i: packet next_-1-i was played (for telling duplicates from late)
    bool freshStart_ = false; // nothing played yet in this transmission: an earlier packet may lead
    bool starving_ = false;   // ran dry; the next packet in this transmission makes it an underrun
    qint64 lastArrival_ = 0;
    qint64 bufferingSince_ = 0;

    Packet current_{};
    int currentPos_ = PacketSamples; // samples of current_ already read
};
