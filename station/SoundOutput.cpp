// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundOutput.h"

#include "SoundDevices.h"

#include <QAudioSink>
#include <array>
#include <cstring>

// What the device pulls from: never runs dry (silence while the jitter buffer has nothing), so the device
// plays on steadily until we close it.
class SoundOutput::Feed final : public QIODevice {
public:
    Feed(SoundOutput& owner, QObject* parent) : QIODevice(parent), owner_(owner) {}
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxBytes) override { return owner_.pull(data, maxBytes); }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    SoundOutput& owner_;
};

SoundOutput::SoundOutput(Options options, QObject* parent) : AudioSink(parent), options_(std::move(options)) {
    clock_.start();
    idleTimer_.setInterval(100);
    connect(&idleTimer_, &QTimer::timeout, this, &SoundOutput::idleCheck);
}

SoundOutput::~SoundOutput() {
    close();
}

SoundOutput::Counters SoundOutput::counters() const {
    Counters c = counters_;
    c.jitter = pastJitter_;
    if (jitter_) {
        const JitterBuffer::Counters& j = jitter_->counters();
        c.jitter.played += j.played;
        c.jitter.late += j.late;
        c.jitter.duplicates += j.duplicates;
        c.jitter.gaps += j.gaps;
        c.jitter.overflows += j.overflows;
        c.jitter.underruns += j.underruns;
        c.jitter.invalid += j.invalid;
        c.jitter.transmissions += j.transmissions;
    }
    return c;
}

void SoundOutput::play(const QByteArray& gsmFrames, quint16 sequence) {
    ++counters_.packets;
    const qint64 now = clock_.elapsed();
    if (lastPacketMs_ < 0 || now - lastPacketMs_ >= options_.jitter.endGapMs) {
        // A new transmission: the decoder starts clean and a device that failed gets another chance.
        codec_ = GsmCodec();
        failedThisTransmission_ = false;
    }
    lastPacketMs_ = now;
    if (gsmFrames.size() != GsmCodec::BlockBytes || failedThisTransmission_ || (!sink_ && !open())) {
        ++counters_.dropped;
        return;
    }
    std::array<qint16, GsmCodec::BlockSamples> pcm{};
    codec_.decodeBlock(gsmFrames, pcm.data()); // a refused frame plays as silence
    jitter_->push(sequence, pcm);
}

bool SoundOutput::open() {
    const sound::DeviceChoice choice = sound::chooseOutput(options_.device);
    if (choice.device.isNull()) {
        fail(choice.problem + QStringLiteral(": the stations heard are not played (chat and connections go on)"));
        return false;
    }
    if (!choice.problem.isEmpty() && choice.problem != lastChoiceNote_) {
        lastChoiceNote_ = choice.problem;
        emit notice(choice.problem);
    }
    const int preferredRate = choice.device.preferredFormat().sampleRate();
    format_ = sound::pickFormat(choice.device, {preferredRate, 48000}, false);
    resampler_ = std::make_unique<Resampler>(8000, format_.isValid() ? format_.sampleRate() : 0, options_.gainDb);
    if (!resampler_->isValid()) {
        fail(QStringLiteral("the sound output %1 takes no 16-bit format we can play; the stations heard are not "
                            "played")
                 .arg(choice.device.description()));
        return false;
    }
    if (!jitter_) {
        jitter_.emplace([this] { return clock_.elapsed(); }, options_.jitter);
    }
    pending_.clear();
    sink_ = new QAudioSink(choice.device, format_, this);
    sink_->setBufferSize(format_.bytesForDuration(qint64(options_.bufferMs) * 1000));
    auto* feed = new Feed(*this, sink_);
    feed->open(QIODevice::ReadOnly | QIODevice::Unbuffered); // reads as small as the device asks
    const QString name = choice.device.description();
    connect(sink_, &QAudioSink::stateChanged, this, [this, name](QAudio::State state) {
        const QAudio::Error error = sink_ ? sink_->error() : QAudio::NoError;
        if (state == QAudio::StoppedState && error != QAudio::NoError && error != QAudio::UnderrunError) {
            fail(QStringLiteral("the sound output %1 stopped: %2; the stations heard are not played")
                     .arg(name, sound::errorText(error)));
        }
    });
    sink_->start(feed);
    if (!sink_ || sink_->error() != QAudio::NoError || sink_->state() == QAudio::StoppedState) {
        if (sink_) {
            fail(QStringLiteral("cannot open the sound output %1; the stations heard are not played").arg(name));
        }
        return false;
    }
    ++counters_.opens;
    lastProblem_.clear();
    idleSinceMs_ = -1;
    idleTimer_.start();
    return true;
}

void SoundOutput::close() {
    idleTimer_.stop();
    if (!sink_) {
        return;
    }
    QAudioSink* sink = std::exchange(sink_, nullptr);
    sink->disconnect(this);
    sink->stop();
    sink->deleteLater(); // may be inside one of its own signals
}

void SoundOutput::fail(const QString& problem) {
    ++counters_.failures;
    failedThisTransmission_ = true;
    close();
    // What was queued is not coming out of this device; the next transmission starts afresh.
    if (jitter_) {
        const JitterBuffer::Counters& j = jitter_->counters();
        pastJitter_.played += j.played;
        pastJitter_.late += j.late;
        pastJitter_.duplicates += j.duplicates;
        pastJitter_.gaps += j.gaps;
        pastJitter_.overflows += j.overflows;
        pastJitter_.underruns += j.underruns;
        pastJitter_.invalid += j.invalid;
        pastJitter_.transmissions += j.transmissions;
        jitter_.reset();
    }
    if (problem != lastProblem_) {
        lastProblem_ = problem;
        emit notice(problem);
    }
}

void SoundOutput::idleCheck() {
    if (!jitter_ || jitter_->state() != JitterBuffer::State::Idle) {
        idleSinceMs_ = -1;
        return;
    }
    const qint64 now = clock_.elapsed();
    if (idleSinceMs_ < 0) {
        idleSinceMs_ = now;
    } else if (now - idleSinceMs_ >= options_.closeAfterMs) {
        close();
    }
}

qint64 SoundOutput::pull(char* data, qint64 maxBytes) {
    if (!jitter_ || !resampler_) {
        return 0;
    }
    const int channels = format_.channelCount();
    const qsizetype frames = qsizetype(maxBytes / (qint64(sizeof(qint16)) * channels));
    std::array<qint16, GsmCodec::FrameSamples> chunk{};
    while (pending_.size() < frames) {
        jitter_->read(chunk);
        resampler_->process(chunk, pending_);
    }
    // Byte copies: the device's buffer need not be aligned for qint16.
    if (channels == 1) {
        std::memcpy(data, pending_.constData(), size_t(frames) * sizeof(qint16));
    } else {
        for (qsizetype i = 0; i < frames; ++i) {
            for (int c = 0; c < channels; ++c) {
                std::memcpy(data + (i * channels + c) * qsizetype(sizeof(qint16)), pending_.constData() + i,
                            sizeof(qint16));
            }
        }
    }
    pending_.remove(0, frames);
    counters_.samplesOut += frames;
    return qint64(frames) * channels * qint64(sizeof(qint16));
}
