// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AudioSource.h"
#include "GsmCodec.h"
#include "JitterBuffer.h"
#include "Resampler.h"

#include <QAudioFormat>
#include <QElapsedTimer>
#include <QTimer>
#include <memory>
#include <optional>

class QAudioSink;

// Plays the voice of the peer being heard: each packet is decoded (a fresh decoder per transmission) into
// the jitter buffer, which the sound device reads at its own pace through a pull-mode QAudioSink, resampled
// from 8 kHz to the device's rate. The device is open only while there is something to play: it opens on
// the first packet of a transmission and closes a little after the transmission has played out, so an idle
// station does no sound work at all. Without a usable device the packets are dropped until the next
// transmission, when it tries again; the station goes on carrying chat and connections.
class SoundOutput final : public AudioSink {
    Q_OBJECT
public:
    struct Options {
        QString device; // description as Qt lists it; empty: the system default
        double gainDb = 0.0;
        JitterSettings jitter;
        int closeAfterMs = 500; // idle time after a transmission before the device closes
        int bufferMs = 100;     // the device's own buffer
    };

    struct Counters {
        qint64 packets = 0;            // handed to play()
        qint64 dropped = 0;            // not played: no device, the device failed, or not 132 bytes of GSM
        qint64 opens = 0;              // times the device was opened
        qint64 failures = 0;           // times it could not be opened or failed while playing
        qint64 samplesOut = 0;         // frames handed to the device
        JitterBuffer::Counters jitter; // summed over every jitter buffer so far (underruns among them)
    };

    explicit SoundOutput(Options options, QObject* parent = nullptr);
    ~SoundOutput() override;

    void play(const QByteArray& gsmFrames, quint16 sequence) override;

    bool isOpen() const { return sink_ != nullptr; }
    QAudioFormat format() const { return format_; }
    Counters counters() const;

Q_SIGNALS:
    // A problem with the sound device, said once until things work again.
    void notice(const QString& line);

private:
    class Feed;
    bool open();
    void close();
    void fail(const QString& problem);
    void idleCheck();
    qint64 pull(char* data, qint64 maxBytes);

    Options options_;
    QElapsedTimer clock_;
    std::optional<JitterBuffer> jitter_;
    JitterBuffer::Counters pastJitter_; // of the jitter buffers already thrown away
    GsmCodec codec_;
    qint64 lastPacketMs_ = -1;
    bool failedThisTransmission_ = false;
    QString lastProblem_;    // said last; not said again until a device works
    QString lastChoiceNote_; // the device asked for is missing, said once

    QAudioFormat format_;
    std::unique_ptr<Resampler> resampler_;
    QAudioSink* sink_ = nullptr;
    QList<qint16> pending_; // resampled mono audio not yet handed to the device
    QTimer idleTimer_;
    qint64 idleSinceMs_ = -1;
    Counters counters_;
};
