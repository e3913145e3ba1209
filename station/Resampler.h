// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QtGlobal>
#include <span>
#include <vector>

// Converts a mono 16-bit stream from one sample rate to another (8000 Hz <-> the sound device's rate) with
// a polyphase windowed-sinc low-pass. The filter spans TapsAtLowRate samples of the lower rate and cuts a
// little under its Nyquist frequency, so up-sampling leaves no images and down-sampling no aliases.
// State is kept from call to call: a stream fed in chunks of any size gives the same output as fed whole.
// The filter's delay is taken out at the start, so output sample k lines up with input time k/outRate;
// the last few input samples come out only when more input follows.
class Resampler {
public:
    static constexpr int TapsAtLowRate = 48;
    static constexpr double CutoffOfLowNyquist = 0.9;

    // Any rates from MinRate to MaxRate whose ratio reduces to a filter table of at most MaxCoefficients
    // (all the usual rates do: 8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000). Otherwise the
    // resampler is not valid and produces nothing.
    static constexpr int MinRate = 1000;
    static constexpr int MaxRate = 384000;
    static constexpr int MaxCoefficients = 1 << 20;

    Resampler(int inRate, int outRate, double gainDb = 0.0);

    bool isValid() const { return valid_; }
    int inRate() const { return inRate_; }
    int outRate() const { return outRate_; }

    // Gain applied to the output (RXGAIN/TXGAIN); the result saturates at the int16 limits.
    void setGainDb(double db);
    double gainDb() const { return gainDb_; }

    // Appends the output due for these input samples to out.
    void process(std::span<const qint16> in, QList<qint16>& out);
    QList<qint16> process(std::span<const qint16> in);

    // Forgets the stream: the next input starts a new one.
    void reset();

private:
    int inRate_;
    int outRate_;
    bool valid_ = false;
    bool passThrough_ = false;
    int up_ = 1;   // L: the rates' ratio is up_/down_ in lowest terms
    int down_ = 1; // M
    int taps_ = 0; // input samples per output sample
    double gainDb_ = 0.0;
    float gain_ = 1.0f;
    std::vector<float> coefficients_; // up_ phases of taps_ each, in input order
    std::vector<float> history_;      // input not yet fully used, in the filter's window order
    qint64 position_ = 0;             // next output's place in history_, in 1/up_ input samples
};
