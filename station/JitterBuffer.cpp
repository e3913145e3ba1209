// SPDX-License-Identifier: GPL-3.0-or-later
#include "JitterBuffer.h"

#include <algorithm>
#include <utility>

JitterBuffer::JitterBuffer(std::function<qint64()> nowMs, Settings settings)
    : nowMs_(std::move(nowMs)), settings_(settings) {
    settings_.targetMs = std::max(0, settings_.targetMs);
    settings_.capMs = std::max(settings_.capMs, std::max(settings_.targetMs, PacketMs));
    settings_.endGapMs = std::max(1, settings_.endGapMs);
}

qint64 JitterBuffer::unwrap(quint16 sequence) const {
    // The nearest number to the newest one that has these low 16 bits.
    return highest_ + static_cast<qint16>(static_cast<quint16>(sequence - highestSequence_));
}

bool JitterBuffer::push(quint16 sequence, std::span<const qint16> samples) {
    if (samples.size() != PacketSamples) {
        ++counters_.invalid;
        return false;
    }
    const qint64 now = nowMs_();
    if (state_ != State::Idle && now - lastArrival_ >= settings_.endGapMs) {
        if (queue_.empty() && currentPos_ >= PacketSamples) {
            endTransmission();
        } else {
            // The last talker is over but still playing out: the new one queues behind it, numbered on from
            // its end whatever sequence number it starts at.
            ++counters_.transmissions;
            highest_ = std::max(highest_, next_ - 1) + 1;
            highestSequence_ = sequence;
            starving_ = false;
            freshStart_ = false;
        }
    }
    if (state_ == State::Idle) {
        state_ = State::Buffering;
        next_ = highest_ + 1;
        highest_ = next_;
        highestSequence_ = sequence;
        playedMask_ = 0;
        freshStart_ = true;
        starving_ = false;
        bufferingSince_ = now;
    }

    const int cap = packetsFor(settings_.capMs);
    const qint64 index = unwrap(sequence);
    if (index < next_) {
        if (freshStart_ && std::max(highest_, index) - index < cap) {
            next_ = index; // an earlier packet of a talker not yet heard leads instead
        } else {
            const qint64 back = next_ - 1 - index;
            if (back < 64 && (playedMask_ >> back) & 1) {
                ++counters_.duplicates;
            } else {
                ++counters_.late;
            }
            return false;
        }
    }
    const auto [slot, inserted] = queue_.try_emplace(index);
    if (!inserted) {
        ++counters_.duplicates;
        return false;
    }
    std::copy(samples.begin(), samples.end(), slot->second.begin());
    lastArrival_ = now;
    if (index > highest_) {
        highest_ = index;
        highestSequence_ = sequence;
    }

    if (highest_ - next_ + 1 > cap) {
        const qint64 keepFrom = highest_ - cap + 1;
        const auto end = queue_.lower_bound(keepFrom);
        counters_.overflows += std::distance(queue_.begin(), end);
        queue_.erase(queue_.begin(), end);
        // Resume at the oldest packet kept: after a jump in numbering the numbers skipped are no loss.
        const qint64 resume = queue_.begin()->first;
        const qint64 skipped = resume - next_;
        playedMask_ = skipped >= 64 ? 0 : playedMask_ << skipped;
        next_ = resume;
    }
    if (starving_) {
        ++counters_.underruns;
        starving_ = false;
        bufferingSince_ = now;
    }
    return true;
}

void JitterBuffer::read(std::span<qint16> out) {
    const qint64 now = nowMs_();
    std::size_t done = 0;
    while (done < out.size()) {
        if (currentPos_ < PacketSamples) {
            const std::size_t n = std::min(out.size() - done, std::size_t(PacketSamples - currentPos_));
            std::copy_n(current_.begin() + currentPos_, n, out.begin() + done);
            currentPos_ += int(n);
            done += n;
        } else if (!startNext(now)) {
            std::fill(out.begin() + done, out.end(), qint16(0));
            break;
        }
    }
}

bool JitterBuffer::startNext(qint64 now) {
    const bool quiet = now - lastArrival_ >= settings_.endGapMs;
    if (state_ == State::Idle) {
        return false;
    }
    if (queue_.empty()) {
        if (quiet) {
            endTransmission();
        } else if (state_ == State::Playing) {
            state_ = State::Buffering;
            starving_ = true;
        }
        return false;
    }
    if (state_ == State::Buffering) {
        const bool deepEnough = highest_ - next_ + 1 >= packetsFor(settings_.targetMs);
        if (!deepEnough && !quiet && now - bufferingSince_ < settings_.targetMs) {
            return false;
        }
        state_ = State::Playing;
        freshStart_ = false;
    }
    const auto first = queue_.begin();
    if (first->first == next_) {
        current_ = first->second;
        queue_.erase(first);
        ++counters_.played;
        remember(true);
    } else {
        current_.fill(0);
        ++counters_.gaps;
        remember(false);
    }
    ++next_;
    currentPos_ = 0;
    return true;
}

void JitterBuffer::endTransmission() {
    ++counters_.transmissions;
    state_ = State::Idle;
    queue_.clear();
    starving_ = false;
    freshStart_ = false;
    currentPos_ = PacketSamples;
}

void JitterBuffer::remember(bool played) {
    playedMask_ = (playedMask_ << 1) | (played ? 1u : 0u);
}

int JitterBuffer::bufferedMs() const {
    qint64 samples = PacketSamples - currentPos_;
    if (state_ != State::Idle) {
        samples += std::max<qint64>(0, highest_ - next_ + 1) * PacketSamples;
    }
    return int(samples * 1000 / 8000);
}
