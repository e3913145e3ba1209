// SPDX-License-Identifier: GPL-3.0-or-later
#include "Resampler.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace {
constexpr double KaiserBeta = 7.5; // about 75 dB stop band

double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 50 && term > 1e-12 * sum; ++k) {
        const double f = x / (2.0 * k);
        term *= f * f;
        sum += term;
    }
    return sum;
}

qint16 saturate(float v) {
    const long r = std::lround(v);
    return static_cast<qint16>(std::clamp<long>(r, -32768, 32767));
}
} // namespace

Resampler::Resampler(int inRate, int outRate, double gainDb) : inRate_(inRate), outRate_(outRate) {
    setGainDb(gainDb);
    if (inRate < MinRate || inRate > MaxRate || outRate < MinRate || outRate > MaxRate) {
        return;
    }
    if (inRate == outRate) {
        valid_ = passThrough_ = true;
        return;
    }
    const int g = std::gcd(inRate, outRate);
    up_ = outRate / g;
    down_ = inRate / g;
    // Down-sampling filters at the lower output rate, so the window must cover more input samples.
    taps_ = static_cast<int>(std::ceil(double(TapsAtLowRate) * std::max(1.0, double(down_) / up_)));
    const qint64 length = qint64(up_) * taps_;
    if (length > MaxCoefficients) {
        return;
    }

    // Prototype low-pass at the up-sampled rate up_ * inRate.
    const double cutoff = CutoffOfLowNyquist * 0.5 * std::min(inRate, outRate) / (double(up_) * inRate);
    // Centred on a whole sample (an even length gets a zero last tap) so the delay taken out in reset()
    // is exact and a round trip lines up with its input.
    const qint64 middle = (length - 1) / 2; // whole on purpose
    const double centre = double(middle);
    std::vector<double> h(length);
    const double norm = besselI0(KaiserBeta);
    double sum = 0.0;
    for (qint64 j = 0; j < length; ++j) {
        const double t = j - centre;
        const double x = 2.0 * cutoff * t;
        const double sinc = t == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
        const double r = t / (centre + 1.0);
        const double window = besselI0(KaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / norm;
        h[j] = 2.0 * cutoff * sinc * window;
        sum += h[j];
    }
    // Zero-stuffing by up_ divides the level by up_; the filter gives it back (unit gain at DC).
    const double scale = double(up_) / sum;

    // Output from phase p uses h[p + k*up_] on the input k samples back. Stored per phase in window order
    // (oldest input first), so the inner loop walks both arrays forwards.
    coefficients_.resize(length);
    for (int p = 0; p < up_; ++p) {
        for (int m = 0; m < taps_; ++m) {
            coefficients_[qint64(p) * taps_ + m] = float(h[p + qint64(taps_ - 1 - m) * up_] * scale);
        }
    }
    valid_ = true;
    reset();
}

void Resampler::setGainDb(double db) {
    gainDb_ = db;
    gain_ = float(std::pow(10.0, db / 20.0));
}

void Resampler::reset() {
    if (passThrough_ || !valid_) {
        return;
    }
    // Silence before the stream; starting half a filter in removes the filter's delay.
    history_.assign(taps_ - 1, 0.0f);
    position_ = (qint64(up_) * taps_ - 1) / 2;
}

void Resampler::process(std::span<const qint16> in, QList<qint16>& out) {
    if (!valid_) {
        return;
    }
    if (passThrough_) {
        out.reserve(out.size() + qsizetype(in.size()));
        for (const qint16 s : in) {
            out.append(gain_ == 1.0f ? s : saturate(s * gain_));
        }
        return;
    }
    history_.reserve(history_.size() + in.size());
    for (const qint16 s : in) {
        history_.push_back(float(s));
    }
    const qint64 available = qint64(history_.size());
    out.reserve(out.size() + qsizetype(double(in.size()) * up_ / down_) + 1);
    for (;;) {
        const qint64 start = position_ / up_;
        if (start + taps_ > available) {
            break;
        }
        const float* x = history_.data() + start;
        const float* c = coefficients_.data() + (position_ % up_) * taps_;
        float acc = 0.0f;
        for (int m = 0; m < taps_; ++m) {
            acc += x[m] * c[m];
        }
        out.append(saturate(acc * gain_));
        position_ += down_;
    }
    const qint64 used = std::min(position_ / up_, available);
    history_.erase(history_.begin(), history_.begin() + used);
    position_ -= used * up_;
}

QList<qint16> Resampler::process(std::span<const qint16> in) {
    QList<qint16> out;
    process(in, out);
    return out;
}
