// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>

// Where the station's own voice comes from while it transmits: 8 kHz 16-bit mono audio, handed over in
// blocks of four GSM frames already encoded (132 bytes, 80 ms). The node sends each block to every
// connected peer. The real microphone source comes with voice support; NullAudioSource keeps the
// transmit state without sending anything, and tests use a fake.
class AudioSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AudioSource() override = default;

    virtual void start() = 0; // begin capturing; framesReady follows every 80 ms
    virtual void stop() = 0;  // stop after the last full block

Q_SIGNALS:
    void framesReady(const QByteArray& gsmFrames);
};

// Where the voice of the peer being heard goes: whole voice packets' frames, in arrival order. The real
// sink (jitter buffer and sound device) comes with voice support.
class AudioSink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AudioSink() override = default;

    virtual void play(const QByteArray& gsmFrames, quint16 sequence) = 0;
};

class NullAudioSource final : public AudioSource {
    Q_OBJECT
public:
    using AudioSource::AudioSource;
    void start() override {}
    void stop() override {}
};

class NullAudioSink final : public AudioSink {
    Q_OBJECT
public:
    using AudioSink::AudioSink;
    void play(const QByteArray&, quint16) override {}
};
