// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private PulseAudio whose null sinks stand in for the station's speaker and microphone, a recorder of a
// sink's monitor, and what a recording holds.

#include "ProcessTools.h"

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <numeric>
#include <span>
#include <utility>

namespace voicerig {

using namespace Qt::StringLiterals;

inline QList<qint16> tone(double hz, double amplitude, int count, int rate = 8000) {
    QList<qint16> out(count);
    for (int i = 0; i < count; ++i) {
        out[i] = qint16(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
    }
    return out;
}

// 8 kHz mono 16-bit WAV.
inline QByteArray wav(const QList<qint16>& pcm) {
    QByteArray out("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data\0\0\0\0", 44);
    qToLittleEndian<quint32>(quint32(36 + pcm.size() * 2), out.data() + 4);
    qToLittleEndian<quint32>(quint32(pcm.size() * 2), out.data() + 40);
    return out + QByteArray(reinterpret_cast<const char*>(pcm.constData()), pcm.size() * 2);
}

// Sound is where 20 ms windows are louder than a tenth of the loudest; a hole is a run of quieter windows
// inside it (a dropout the listener hears).
struct Heard {
    double seconds = 0, hz = 0, level = 0; // hz: the strongest in 300..3000
    int holes = 0;
    double holeMs = 0, longestHoleMs = 0;
    qsizetype onset = -1; // the first sample above a tenth of the loudest one
    QString text() const {
        return QString::asprintf("%.3f s at %g Hz, level %.0f, %d holes of %g ms in all, longest %g ms", seconds, hz,
                                 level, holes, holeMs, longestHoleMs);
    }
};

inline double energy(std::span<const qint16> x) {
    return std::inner_product(x.begin(), x.end(), x.begin(), 0.0);
}

inline Heard hear(std::span<const qint16> x, int rate) {
    const size_t window = size_t(rate / 50), block = size_t(rate / 20);
    QList<double> levels;
    for (size_t i = 0; i + window <= x.size(); i += window) {
        levels << std::sqrt(energy(x.subspan(i, window)) / double(window));
    }
    Heard h;
    const double loud = levels.isEmpty() ? 0 : *std::max_element(levels.cbegin(), levels.cend()) / 10;
    if (loud < 1) {
        return h;
    }
    const auto isLoud = [&](double level) { return level > loud; };
    const qsizetype first = std::find_if(levels.cbegin(), levels.cend(), isLoud) - levels.cbegin();
    const qsizetype last = levels.crend() - std::find_if(levels.crbegin(), levels.crend(), isLoud) - 1;
    h.seconds = double(last - first + 1) * double(window) / rate;
    for (qsizetype w = first, run = 0; w <= last; ++w) {
        run = isLoud(levels[w]) ? 0 : run + 1;
        h.holes += run == 1 ? 1 : 0;
        h.holeMs += run > 0 ? 20 : 0;
        h.longestHoleMs = std::max(h.longestHoleMs, run * 20.0);
    }
    const auto magnitude = [](qint16 s) { return std::abs(int(s)); };
    const int peak = magnitude(std::ranges::max(x, {}, magnitude));
    h.onset = std::ranges::find_if(x, [&](qint16 s) { return magnitude(s) > peak / 10; }) - x.begin();
    // Goertzel over 50 ms blocks, their powers summed: a tone a few hertz off the grid still stands out.
    const auto sound = x.subspan(size_t(first) * window, size_t(last - first + 1) * window);
    double best = 0;
    for (double hz = 300; hz <= 3000; hz += 5) {
        const double c = 2 * std::cos(2 * std::numbers::pi * hz / rate);
        double power = 0;
        for (size_t b = 0; b + block <= sound.size(); b += block) {
            double s1 = 0, s2 = 0;
            for (const qint16 v : sound.subspan(b, block)) {
                s2 = std::exchange(s1, v + c * s1 - s2);
            }
            power += s1 * s1 + s2 * s2 - c * s1 * s2;
        }
        if (power > best) {
            best = power;
            h.hz = hz;
        }
    }
    h.level = std::sqrt(energy(sound) / double(sound.size()));
    return h;
}

// A PulseAudio server of its own in folder, with null sinks; the monitor of a sink named "mic" is the default
// source. A silent low-latency stream keeps each sink running: an idle null sink renders far ahead and a new
// stream on it would wait ~1.7 s, where a sound card's sink plays at once.
class PrivatePulse {
public:
    struct Sink {
        QString name;
        int rate, channels;
    };
    explicit PrivatePulse(QString folder) : folder_(std::move(folder)) {}
    ~PrivatePulse() { stop(); }

    // The first sink is the default one.
    bool start(const QList<Sink>& sinks, QString* error) {
        QStringList args =
            u"--daemonize=no -n --use-pid-file=no --exit-idle-time=-1 --disallow-exit --disable-shm=yes"_s.split(u' ');
        for (const Sink& s : sinks) {
            args << u"--load=module-null-sink sink_name=%1 rate=%2 channels=%3 sink_properties=device.description=%1"_s
                        .arg(s.name, QString::number(s.rate), QString::number(s.channels));
        }
        args << u"--load=module-remap-source master=mic.monitor source_name=micsrc"_s
             << u"--load=module-native-protocol-unix auth-anonymous=1"_s;
        server_.setProcessChannelMode(QProcess::MergedChannels);
        server_.setStandardOutputFile(folder_ + u"/pulse.log"_s);
        run(server_, u"pulseaudio"_s, args);
        if (!server_.waitForStarted() || !e2e::waitForFile(folder_ + u"/pulse/native"_s, 10000) ||
            !pactl({u"set-default-sink"_s, sinks.value(0).name}) || !pactl({u"set-default-source"_s, u"micsrc"_s})) {
            *error = u"PulseAudio did not come up:\n"_s + logTail();
            return false;
        }
        for (const Sink& s : sinks) {
            auto& keeper = *keepers_.emplace_back(std::make_unique<QProcess>());
            keeper.setStandardInputFile(u"/dev/zero"_s);
            run(keeper, u"pacat"_s, {u"-d"_s, s.name, u"--raw"_s, u"--latency-msec=20"_s});
        }
        return true;
    }
    void stop() {
        for (auto& keeper : keepers_) {
            e2e::stopProcess(*keeper);
        }
        keepers_.clear();
        e2e::stopProcess(server_);
    }

    // What a client needs to find this server (and nothing of the user's).
    void addTo(QProcessEnvironment& env) const {
        env.insert(u"HOME"_s, folder_);
        env.insert(u"XDG_RUNTIME_DIR"_s, folder_);
        env.insert(u"PULSE_RUNTIME_PATH"_s, folder_ + u"/pulse"_s);
        env.insert(u"PULSE_SERVER"_s, u"unix:%1/pulse/native"_s.arg(folder_));
    }
    QProcessEnvironment processEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        addTo(env);
        return env;
    }
    QString logTail(int n = 12) const { return e2e::fileLines(folder_ + u"/pulse.log"_s).mid(-n).join(u'\n'); }

private:
    void run(QProcess& p, const QString& program, const QStringList& args) const {
        e2e::dieWithParent(p);
        p.setProcessEnvironment(processEnvironment());
        p.start(program, args);
    }
    bool pactl(const QStringList& args) const {
        QProcess p;
        run(p, u"pactl"_s, args);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QString folder_;
    QProcess server_;
    std::vector<std::unique_ptr<QProcess>> keepers_;
};

// Records a sink's monitor as mono 16-bit.
class Recorder {
public:
    Recorder() {
        QObject::connect(&parec_, &QProcess::readyReadStandardOutput, [this] { collect(); });
    }
    virtual ~Recorder() { stop(); }

    bool start(const PrivatePulse& pulse, const QString& sink, int rate) {
        bytes_.clear();
        e2e::dieWithParent(parec_);
        parec_.setProcessEnvironment(pulse.processEnvironment());
        parec_.start(u"parec"_s, {u"-d"_s, sink + u".monitor"_s, u"--raw"_s, u"--format=s16le"_s,
                                  u"--rate=%1"_s.arg(rate), u"--channels=1"_s, u"--latency-msec=10"_s});
        return parec_.waitForStarted(5000);
    }
    void stop() {
        collect();
        e2e::stopProcess(parec_);
    }
    std::span<const qint16> samples() const {
        return {reinterpret_cast<const qint16*>(bytes_.constData()), size_t(bytes_.size() / 2)};
    }

protected:
    virtual void collect() { bytes_ += parec_.readAllStandardOutput(); }

private:
    QProcess parec_;
    QByteArray bytes_;
};

} // namespace voicerig
