// SPDX-License-Identifier: GPL-3.0-or-later
#include "MicSource.h"

#include "SoundDevices.h"

#include <QAudioSource>
#include <cstring>
#include <span>

MicSource::MicSource(Options options, QObject* parent) : AudioSource(parent), options_(std::move(options)) {
    options_.backlogBlocks = std::max(2, options_.backlogBlocks);
    timer_.setInterval(GsmCodec::BlockSamples / 8); // 80 ms
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &MicSource::tick);
}

MicSource::~MicSource() {
    close();
}

void MicSource::start() {
    if (source_) {
        return;
    }
    const sound::DeviceChoice choice = sound::chooseInput(options_.device);
    if (choice.device.isNull()) {
        fail(choice.problem + QStringLiteral(": transmitting sends no audio"));
        return;
    }
    if (!choice.problem.isEmpty() && choice.problem != lastChoiceNote_) {
        lastChoiceNote_ = choice.problem;
        emit notice(choice.problem);
    }
    format_ = sound::pickFormat(choice.device, {8000, 48000}, true);
    resampler_ = std::make_unique<Resampler>(format_.isValid() ? format_.sampleRate() : 0, 8000, options_.gainDb);
    if (!resampler_->isValid()) {
        fail(QStringLiteral("the sound input %1 takes no mono 16-bit format; transmitting sends no audio")
                 .arg(choice.device.description()));
        return;
    }
    codec_ = GsmCodec();
    carry_.clear();
    pcm_.clear();
    owed_ = 0;
    source_ = new QAudioSource(choice.device, format_, this);
    // Small enough that capture reaches us in pieces well under a block.
    source_->setBufferSize(format_.bytesForDuration(40000));
    const QString name = choice.device.description();
    connect(source_, &QAudioSource::stateChanged, this, [this, name](QAudio::State state) {
        const QAudio::Error error = source_ ? source_->error() : QAudio::NoError;
        if (state == QAudio::StoppedState && error != QAudio::NoError) {
            fail(QStringLiteral("the sound input %1 stopped: %2; transmitting sends no audio")
                     .arg(name, sound::errorText(error)));
        }
    });
    io_ = source_->start();
    if (!source_ || !io_ || source_->error() != QAudio::NoError) {
        if (source_) {
            fail(QStringLiteral("cannot open the sound input %1; transmitting sends no audio").arg(name));
        }
        return;
    }
    connect(io_, &QIODevice::readyRead, this, &MicSource::drain);
    ++counters_.opens;
    lastProblem_.clear();
    timer_.start();
}

void MicSource::stop() {
    if (!source_) {
        return;
    }
    drain();
    // What was said up to now goes out: a block already whole, and the rest filled up with silence.
    for (int sent = 0; sent < 2 && !pcm_.isEmpty(); ++sent) {
        if (pcm_.size() < GsmCodec::BlockSamples) {
            pcm_.resize(GsmCodec::BlockSamples, 0);
        }
        sendBlock();
    }
    pcm_.clear();
    close();
}

void MicSource::drain() {
    if (!io_ || !resampler_) {
        return;
    }
    const QByteArray bytes = carry_ + io_->readAll();
    const qsizetype samples = bytes.size() / qsizetype(sizeof(qint16));
    carry_ = bytes.sliced(samples * qsizetype(sizeof(qint16)));
    if (samples == 0) {
        return;
    }
    QList<qint16> captured(samples);
    std::memcpy(captured.data(), bytes.constData(), size_t(samples) * sizeof(qint16));
    resampler_->process(std::span<const qint16>(captured.constData(), size_t(samples)), pcm_);
    const qsizetype most = qsizetype(options_.backlogBlocks) * GsmCodec::BlockSamples;
    if (pcm_.size() > most) {
        counters_.droppedSamples += pcm_.size() - most;
        pcm_.remove(0, pcm_.size() - most);
    }
}

void MicSource::tick() {
    drain();
    ++counters_.ticks;
    if (pcm_.size() < GsmCodec::BlockSamples) {
        ++counters_.emptyTicks;
        owed_ = 1;
        return;
    }
    sendBlock();
    if (owed_ > 0 && pcm_.size() >= GsmCodec::BlockSamples) {
        ++counters_.catchUps;
        sendBlock();
    }
    owed_ = 0;
}

void MicSource::sendBlock() {
    const QByteArray block = codec_.encodeBlock(pcm_.constData());
    pcm_.remove(0, GsmCodec::BlockSamples);
    ++counters_.blocks;
    emit framesReady(block);
}

void MicSource::close() {
    timer_.stop();
    if (!source_) {
        return;
    }
    QAudioSource* source = std::exchange(source_, nullptr);
    io_ = nullptr;
    source->disconnect(this);
    source->stop();
    source->deleteLater(); // may be inside one of its own signals
}

void MicSource::fail(const QString& problem) {
    ++counters_.failures;
    close();
    if (problem != lastProblem_) {
        lastProblem_ = problem;
        emit notice(problem);
    }
}
