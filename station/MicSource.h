// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AudioSource.h"
#include "GsmCodec.h"
#include "Resampler.h"

#include <QAudioFormat>
#include <QByteArray>
#include <QList>
#include <QTimer>
#include <memory>

class QAudioSource;
class QIODevice;

// The station's own voice from the microphone: while transmitting it captures mono 16-bit audio (8000 Hz
// when the device takes it, else 48000 or its own rate), resamples to 8 kHz, applies the gain and sends four
// GSM frames every 80 ms from a steady timer. Capture comes in bursts of its own; the timer sends one block a
// tick, and one more only to catch up after a tick that had none, so the network sees an even pace. Without
// an input device, transmitting just sends nothing.
class MicSource final : public AudioSource {
    Q_OBJECT
public:
    struct Options {
        QString device; // description as Qt lists it; empty: the system default
        double gainDb = 0.0;
        int backlogBlocks = 4; // most audio held waiting to be sent; older audio goes first
    };

    struct Counters {
        qint64 blocks = 0;         // emitted by framesReady
        qint64 ticks = 0;          // of the 80 ms timer
        qint64 emptyTicks = 0;     // ticks with less than a block captured
        qint64 catchUps = 0;       // second blocks sent in one tick
        qint64 droppedSamples = 0; // at 8 kHz, beyond the backlog
        qint64 opens = 0;
        qint64 failures = 0;
    };

    explicit MicSource(Options options, QObject* parent = nullptr);
    ~MicSource() override;

    void start() override;
    void stop() override;

    bool isCapturing() const { return source_ != nullptr; }
    QAudioFormat format() const { return format_; }
    const Counters& counters() const { return counters_; }

Q_SIGNALS:
    // A problem with the sound device, said once until capture works again.
    void notice(const QString& line);

private:
    void drain();
    void tick();
    void sendBlock();
    void close();
    void fail(const QString& problem);

    Options options_;
    QAudioFormat format_;
    QAudioSource* source_ = nullptr;
    QIODevice* io_ = nullptr;
    std::unique_ptr<Resampler> resampler_;
    GsmCodec codec_;
    QByteArray carry_;  // an odd byte left from the last read
    QList<qint16> pcm_; // 8 kHz audio not yet sent
    QTimer timer_;
    int owed_ = 0; // blocks a tick could not send, at most one
    QString lastProblem_;
    QString lastChoiceNote_;
    Counters counters_;
};
