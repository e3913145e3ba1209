// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private PulseAudio whose null sinks stand in for the station's speaker and microphone, a recorder of a
// sink's monitor that knows when each sample was played, and what a recording holds.

#include "ProcessTools.h"

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QtEndian>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <span>
#include <utility>

namespace voicerig {

inline double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

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
    double seconds = 0, hz = 0, purity = 0, level = 0; // hz: strongest in 300..3000; purity: its share of energy
    int holes = 0;
    double holeMs = 0, longestHoleMs = 0;
    qsizetype onset = -1; // first sample above a tenth of the loudest one
    QString text() const {
        return QString::asprintf("%.3f s at %g Hz (purity %.2f), %d holes of %g ms in all, longest %g ms", seconds, hz,
                                 purity, holes, holeMs, longestHoleMs);
    }
};

inline double energy(std::span<const qint16> x) {
    double sum = 0;
    for (const qint16 s : x) {
        sum += double(s) * s;
    }
    return sum;
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
    qsizetype first = 0, last = levels.size() - 1;
    while (levels[first] <= loud) {
        ++first;
    }
    while (levels[last] <= loud) {
        --last;
    }
    h.seconds = double(last - first + 1) * double(window) / rate;
    for (qsizetype w = first, run = 0; w <= last; ++w) {
        run = levels[w] <= loud ? run + 1 : 0;
        h.holes += run == 1 ? 1 : 0;
        h.holeMs += run > 0 ? 20 : 0;
        h.longestHoleMs = std::max(h.longestHoleMs, run * 20.0);
    }
    const int peak = std::abs(int(
        *std::max_element(x.begin(), x.end(), [](qint16 a, qint16 b) { return std::abs(int(a)) < std::abs(int(b)); })));
    h.onset = std::find_if(x.begin(), x.end(), [&](qint16 s) { return std::abs(int(s)) > peak / 10; }) - x.begin();
    // Goertzel over 50 ms blocks, their powers summed: a tone a few hertz off the grid still stands out.
    const auto sound = x.subspan(size_t(first) * window, size_t(last - first + 1) * window);
    const double total = energy(sound);
    double best = 0;
    for (double hz = 300; hz <= 3000; hz += 5) {
        const double c = 2 * std::cos(2 * std::numbers::pi * hz / rate);
        double share = 0;
        for (size_t b = 0; b + block <= sound.size(); b += block) {
            double s1 = 0, s2 = 0;
            for (const qint16 v : sound.subspan(b, block)) {
                s2 = std::exchange(s1, v + c * s1 - s2);
            }
            share += 2 * (s1 * s1 + s2 * s2 - c * s1 * s2) / double(block);
        }
        if (share > best) {
            best = share;
            h.hz = hz;
        }
    }
    h.purity = total > 0 ? best / total : 0;
    h.level = std::sqrt(total / double(sound.size()));
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
        QStringList args = QStringLiteral("--daemonize=no -n --use-pid-file=no --exit-idle-time=-1 --disallow-exit "
                                          "--disable-shm=yes")
                               .split(u' ');
        for (const Sink& s : sinks) {
            args << QStringLiteral("--load=module-null-sink sink_name=%1 rate=%2 channels=%3 "
                                   "sink_properties=device.description=%1")
                        .arg(s.name, QString::number(s.rate), QString::number(s.channels));
        }
        args << QStringLiteral("--load=module-remap-source master=mic.monitor source_name=micsrc")
             << QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1");
        server_.setProcessChannelMode(QProcess::MergedChannels);
        server_.setStandardOutputFile(logPath());
        run(server_, QStringLiteral("pulseaudio"), args);
        if (!server_.waitForStarted() || !e2e::waitForFile(folder_ + QStringLiteral("/pulse/native"), 10000) ||
            !pactl({QStringLiteral("set-default-sink"), sinks.value(0).name}) ||
            !pactl({QStringLiteral("set-default-source"), QStringLiteral("micsrc")})) {
            *error = QStringLiteral("PulseAudio did not come up:\n") + logTail();
            return false;
        }
        for (const Sink& s : sinks) {
            auto& keeper = *keepers_.emplace_back(std::make_unique<QProcess>());
            keeper.setStandardInputFile(QStringLiteral("/dev/zero"));
            run(keeper, QStringLiteral("pacat"),
                {QStringLiteral("-d"), s.name, QStringLiteral("--raw"), QStringLiteral("--latency-msec=20")});
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
        env.insert(QStringLiteral("HOME"), folder_);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder_);
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), folder_ + QStringLiteral("/pulse"));
        env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:%1/pulse/native").arg(folder_));
    }
    QProcessEnvironment processEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        addTo(env);
        return env;
    }
    bool pactl(const QStringList& args) const { return pactlOutput(args) >= 0; }
    // Streams playing to the sinks, the keepers among them; -1 when the server cannot be asked.
    int streams() const {
        return pactlOutput({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
    }
    QString logPath() const { return folder_ + QStringLiteral("/pulse.log"); }
    QString logTail(int n = 12) const { return e2e::fileLines(logPath()).mid(-n).join(QLatin1Char('\n')); }

private:
    void run(QProcess& p, const QString& program, const QStringList& args) const {
        e2e::dieWithParent(p);
        p.setProcessEnvironment(processEnvironment());
        p.start(program, args);
    }
    // The lines pactl printed, or -1 when it failed.
    int pactlOutput(const QStringList& args) const {
        QProcess p;
        run(p, QStringLiteral("pactl"), args);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0
                   ? int(p.readAllStandardOutput().count('\n'))
                   : -1;
    }

    QString folder_;
    QProcess server_;
    std::vector<std::unique_ptr<QProcess>> keepers_;
};

// Records a sink's monitor as mono 16-bit. The stream runs at its rate, so the reading that came least late
// after its last sample fixes each sample's playing time (start + n / rate).
class Recorder {
public:
    Recorder() {
        QObject::connect(&parec_, &QProcess::readyReadStandardOutput, [this] { collect(); });
    }
    ~Recorder() { stop(); }

    bool start(const PrivatePulse& pulse, const QString& sink, int rate) {
        rate_ = rate;
        bytes_.clear();
        start_ = 1e300;
        e2e::dieWithParent(parec_);
        parec_.setProcessEnvironment(pulse.processEnvironment());
        parec_.start(QStringLiteral("parec"),
                     {QStringLiteral("-d"), sink + QStringLiteral(".monitor"), QStringLiteral("--raw"),
                      QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(rate),
                      QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=10")});
        return parec_.waitForStarted(5000);
    }
    void stop() {
        collect();
        e2e::stopProcess(parec_);
    }
    std::span<const qint16> samples() const {
        return {reinterpret_cast<const qint16*>(bytes_.constData()), size_t(bytes_.size() / 2)};
    }
    // When sample n was played, on the clock of now().
    double playedAt(qsizetype n) const { return start_ + double(n) / rate_; }

private:
    void collect() {
        bytes_ += parec_.readAllStandardOutput();
        if (!bytes_.isEmpty()) {
            start_ = std::min(start_, now() - double(bytes_.size() / 2) / rate_);
        }
    }

    QProcess parec_;
    QByteArray bytes_;
    int rate_ = 8000;
    double start_ = 1e300;
};

} // namespace voicerig
