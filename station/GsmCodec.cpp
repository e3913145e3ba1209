// SPDX-License-Identifier: GPL-3.0-or-later
#include "GsmCodec.h"

#include <algorithm>
#include <array>
#include <gsm.h>
#include <new>
#include <utility>

namespace {
gsm_state* createState() {
    gsm_state* state = gsm_create();
    if (!state) {
        throw std::bad_alloc();
    }
    return state;
}

void destroyState(gsm_state*& state) {
    if (state) {
        gsm_destroy(state);
        state = nullptr;
    }
}
} // namespace

GsmCodec::GsmCodec() : encoder_(createState()) {
    try {
        decoder_ = createState();
    } catch (...) {
        destroyState(encoder_);
        throw;
    }
}

GsmCodec::~GsmCodec() {
    destroyState(encoder_);
    destroyState(decoder_);
}

GsmCodec::GsmCodec(GsmCodec&& other) noexcept
    : encoder_(std::exchange(other.encoder_, nullptr)), decoder_(std::exchange(other.decoder_, nullptr)) {}

GsmCodec& GsmCodec::operator=(GsmCodec&& other) noexcept {
    if (this != &other) {
        destroyState(encoder_);
        destroyState(decoder_);
        encoder_ = std::exchange(other.encoder_, nullptr);
        decoder_ = std::exchange(other.decoder_, nullptr);
    }
    return *this;
}

QByteArray GsmCodec::encode(const qint16* samples) {
    // libgsm takes non-const pointers; a copy keeps the caller's buffer untouched whatever it does.
    std::array<gsm_signal, FrameSamples> in{};
    std::copy_n(samples, FrameSamples, in.begin());
    QByteArray frame(FrameBytes, Qt::Uninitialized);
    gsm_encode(encoder_, in.data(), reinterpret_cast<gsm_byte*>(frame.data()));
    return frame;
}

bool GsmCodec::decode(QByteArrayView frame, qint16* out) {
    std::array<gsm_byte, FrameBytes> in{};
    if (frame.size() != FrameBytes || !looksLikeFrames(frame)) {
        std::fill_n(out, FrameSamples, qint16(0));
        return false;
    }
    std::copy_n(reinterpret_cast<const gsm_byte*>(frame.data()), FrameBytes, in.begin());
    if (gsm_decode(decoder_, in.data(), out) != 0) {
        std::fill_n(out, FrameSamples, qint16(0));
        return false;
    }
    return true;
}

QByteArray GsmCodec::encodeBlock(const qint16* samples) {
    QByteArray block;
    block.reserve(BlockBytes);
    for (qsizetype i = 0; i < BlockFrames; ++i) {
        block += encode(samples + i * FrameSamples);
    }
    return block;
}

bool GsmCodec::decodeBlock(QByteArrayView block, qint16* out) {
    if (block.size() != BlockBytes) {
        std::fill_n(out, BlockSamples, qint16(0));
        return false;
    }
    bool ok = true;
    for (qsizetype i = 0; i < BlockFrames; ++i) {
        ok = decode(block.sliced(i * FrameBytes, FrameBytes), out + i * FrameSamples) && ok;
    }
    return ok;
}

bool GsmCodec::looksLikeFrames(QByteArrayView frames) {
    if (frames.isEmpty() || frames.size() % FrameBytes != 0) {
        return false;
    }
    for (qsizetype i = 0; i < frames.size(); i += FrameBytes) {
        if ((static_cast<quint8>(frames[i]) >> 4) != GSM_MAGIC) {
            return false;
        }
    }
    return true;
}
