// SPDX-License-Identifier: GPL-3.0-or-later
// Voice through parlevox-station, in a private network namespace of its own (the benchmark runs itself again
// through tests/station/netns.sh) with a private PulseAudio whose null sink "Speaker" (48 kHz stereo) is the
// station's sound output, recorded from its monitor:
//  (a) delay from the first voice packet a peer sends to its sound at the device, beside the jitter buffer's
//      target depth; the peer is this program (127.0.0.30), sending a 1 kHz tone in steady 80 ms packets;
//  (c) dropouts heard while every core is kept busy by loops this program starts;
//  (b) CPU time (utime + stime over a window) of the station and of svxlink, side by side, while an elpeer
//      sends both one long transmission, first with nobody else connected, then with three more elpeers
//      connected to both, to whom each relays it.
//
//   bench_station_voice [--runs N] [--window SECONDS]
#include "BenchSupport.h"
#include "GsmCodec.h"
#include "JitterBuffer.h"
#include "Packets.h"
#include "StationHarness.h"
#include "StationRig.h"
#include "VoiceRig.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Keepers = 2; // PulseAudio streams while the station plays nothing
constexpr int CallTimeoutMs = 40000;
constexpr int SettleMs = 3000; // svxlink greets each caller with about a second of sound
constexpr int LoadToneMs = 5000;

QHostAddress station() {
    return QHostAddress(stationrig::StationAddress);
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The speaker's recording at 8 kHz, knowing when each sample was played: the stream runs at its rate, so the
// reading that came least late after its last sample fixes each sample's playing time (start + n / rate).
class TimedRecorder : public voicerig::Recorder {
public:
    // When sample n was played, on the clock of now().
    double playedAt(qsizetype n) const { return start_ + double(n) / 8000; }

protected:
    void collect() override {
        Recorder::collect();
        if (!samples().empty()) {
            start_ = std::min(start_, now() - double(samples().size()) / 8000);
        }
    }

private:
    double start_ = 1e300;
};

// Streams playing to the pulse's sinks, the keepers among them; -1 when the server cannot be asked.
int streams(const voicerig::PrivatePulse& pulse) {
    QProcess p;
    p.setProcessEnvironment(pulse.processEnvironment());
    p.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0
               ? int(p.readAllStandardOutput().count('\n'))
               : -1;
}

// An EchoLink peer just good enough to call the station (which takes any caller here) and talk to it: each
// transmission is a tone in one GSM packet every 80 ms from a steady timer, the first one sent at once.
class VoicePeer : public QObject {
public:
    bool bind(const QHostAddress& address, QString* error) {
        if (!data_.bind(address, el::DataPort) || !control_.bind(address, el::ControlPort)) {
            *error = QStringLiteral("cannot bind the benchmark's peer to %1").arg(address.toString());
            return false;
        }
        connect(&data_, &QUdpSocket::readyRead, this, [this] {
            while (data_.hasPendingDatagrams()) {
                data_.receiveDatagram();
            }
        });
        connect(&control_, &QUdpSocket::readyRead, this, [this] {
            while (control_.hasPendingDatagrams()) {
                const QNetworkDatagram d = control_.receiveDatagram();
                const auto packet = el::parseControl(d.data());
                answered_ = answered_ || (packet && packet->kind == el::ControlPacket::Kind::Sdes);
            }
        });
        pace_.setTimerType(Qt::PreciseTimer);
        pace_.setInterval(JitterBuffer::PacketMs);
        connect(&pace_, &QTimer::timeout, this, [this] { sendPacket(); });
        keepAlive_.setInterval(5000);
        connect(&keepAlive_, &QTimer::timeout, this,
                [this] { control_.writeDatagram(sdes_, station(), el::ControlPort); });
        return true;
    }
    bool call() {
        answered_ = false;
        control_.writeDatagram(sdes_, station(), el::ControlPort);
        keepAlive_.start();
        return QTest::qWaitFor([this] { return answered_; }, 5000);
    }
    void bye() {
        keepAlive_.stop();
        control_.writeDatagram(el::buildBye(), station(), el::ControlPort);
    }
    // Returns when the first packet has gone, on the clock of now().
    double talk(double hz, int ms) {
        codec_ = GsmCodec();
        pcm_ = voicerig::tone(hz, 8000, ms * 8);
        offset_ = 0;
        worstGapMs_ = 0;
        sendPacket();
        pace_.start();
        return lastSentAt_;
    }
    bool talking() const { return pace_.isActive(); }
    double worstGapMs() const { return worstGapMs_; }

private:
    void sendPacket() {
        if (offset_ + GsmCodec::BlockSamples > pcm_.size()) {
            pace_.stop();
            return;
        }
        el::VoiceHeader header;
        header.sequence = sequence_++;
        data_.writeDatagram(el::buildVoice(header, codec_.encodeBlock(pcm_.constData() + offset_)), station(),
                            el::DataPort);
        offset_ += GsmCodec::BlockSamples;
        const double now = ::now();
        if (offset_ > GsmCodec::BlockSamples) {
            worstGapMs_ = std::max(worstGapMs_, 1000 * (now - lastSentAt_));
        }
        lastSentAt_ = now;
    }

    QUdpSocket data_, control_;
    QTimer pace_, keepAlive_;
    QByteArray sdes_ = el::buildSdes(QStringLiteral("Q1VOX"), QStringLiteral("Voice bench"));
    bool answered_ = false;
    GsmCodec codec_;
    QList<qint16> pcm_;
    qsizetype offset_ = 0;
    quint16 sequence_ = 0;
    double lastSentAt_ = 0;
    double worstGapMs_ = 0;
};

// Busy loops, one per core, as separate processes that die with this one.
class Load {
public:
    explicit Load(long count) {
        for (long i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                volatile unsigned long spin = 0;
                for (;;) {
                    spin = spin + 1;
                }
            }
            if (pid > 0) {
                pids_.push_back(pid);
            }
        }
    }
    ~Load() {
        for (const pid_t pid : pids_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;
    size_t size() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

bench::Figure figure(const QString& name, const QString& unit) {
    return bench::Figure{name, unit, {}, {}, std::nullopt};
}

void reportPair(bench::Figure ours, const bench::Figure& theirs) {
    bench::report(theirs);
    ours.target = QStringLiteral("<= %1 (svxlink)").arg(theirs.median(), 0, 'f', 2);
    ours.pass = ours.median() <= theirs.median();
    bench::report(ours);
}

int fail(const QString& what, stationrig::Rig& rig, const voicerig::PrivatePulse& pulse) {
    std::fprintf(stderr, "bench_station_voice: %s\n%s---- pulseaudio\n%s\n", qPrintable(what),
                 qPrintable(rig.logTails()), qPrintable(pulse.logTail()));
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    // Everything below talks to 127.0.0.x only, and only inside a namespace of its own.
    if (qgetenv("PARLEVOX_BENCH_NETNS") != "1") {
        ::setenv("PARLEVOX_BENCH_NETNS", "1", 1);
        char self[4096] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
            std::perror("bench_station_voice: cannot find its own program file");
            return 1;
        }
        std::vector<char*> args{const_cast<char*>("bash"), const_cast<char*>(NETNS_PATH), self};
        for (int i = 1; i < argc; ++i) {
            args.push_back(argv[i]);
        }
        args.push_back(nullptr);
        ::execv("/bin/bash", args.data());
        std::perror("bench_station_voice: cannot run " NETNS_PATH);
        return 1;
    }
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int runs = bench::intOption(arguments, QStringLiteral("--runs"), 5);
    const int windowMs = 1000 * bench::intOption(arguments, QStringLiteral("--window"), 10);
    QString error;
    if (!stationrig::onlyLoopback(&error)) {
        std::fprintf(stderr, "bench_station_voice: %s\n", qPrintable(error));
        return 1;
    }
    const int targetMs = JitterSettings{}.targetMs;
    std::printf("Voice through parlevox-station: %d runs, CPU over %d s windows, jitter buffer target %d ms\n", runs,
                windowMs / 1000, targetMs);

    QTemporaryDir work;
    voicerig::PrivatePulse pulse(work.path());
    stationrig::Rig rig(work.path());
    e2e::PrivateBus bus;
    // Started long before it is needed: a new recording holds up the sink's sound for a while.
    TimedRecorder speaker;
    QUdpSocket nodeTx; // svxlink's transmitter audio, counted and dropped
    qint64 nodeTxBytes = 0;
    QObject::connect(&nodeTx, &QUdpSocket::readyRead, [&] {
        while (nodeTx.hasPendingDatagrams()) {
            nodeTxBytes += nodeTx.receiveDatagram().data().size();
        }
    });
    VoicePeer talker;
    if (!pulse.start({{QStringLiteral("Speaker"), 48000, 2}, {QStringLiteral("mic"), 8000, 1}}, &error) ||
        !speaker.start(pulse, QStringLiteral("Speaker"), 8000) ||
        !nodeTx.bind(QHostAddress(QStringLiteral("127.0.0.20")), 5700) ||
        !talker.bind(QHostAddress(QStringLiteral("127.0.0.30")), &error) || !bus.start(&error) ||
        !rig.startDirectory(&error)) {
        return fail(error, rig, pulse);
    }
    for (int i = 0; i < 4; ++i) {
        if (!rig.startPeer(QStringLiteral("Q1P%1X").arg(QChar(u'A' + i)), i, &error)) {
            return fail(error, rig, pulse);
        }
    }
    QProcessEnvironment env = bus.environment();
    pulse.addTo(env);
    if (!rig.startStation(env, &error, QStringLiteral("any")) || !rig.startNode(&error)) {
        return fail(error, rig, pulse);
    }
    if (!talker.call()) {
        return fail(QStringLiteral("the station did not answer the benchmark's call"), rig, pulse);
    }
    auto outputClosed = [&] { return QTest::qWaitFor([&] { return streams(pulse) == Keepers; }, 10000); };

    // ---- (a) delay to the device, each transmission after the output has closed; the first one after the
    // station started apart, as it is heard later than the rest
    bench::Figure firstDelay =
        figure(QStringLiteral("Voice: first transmission after start, to the device"), QStringLiteral("ms"));
    bench::Figure delay = figure(QStringLiteral("Voice: first packet to sound at the device"), QStringLiteral("ms"));
    delay.target = QStringLiteral("<= %1 (jitter target %2 + 100)").arg(targetMs + 100).arg(targetMs);
    int quietHoles = 0;
    for (int r = 0; r <= runs; ++r) {
        if (!outputClosed()) {
            return fail(QStringLiteral("the station's sound output stayed open"), rig, pulse);
        }
        QTest::qWait(300);
        const qsizetype from = speaker.samples().size();
        const double sentAt = talker.talk(1000, 1200);
        (void)QTest::qWaitFor([&] { return !talker.talking(); }, 5000);
        QTest::qWait(1500);
        const auto recorded = speaker.samples().subspan(size_t(from));
        const voicerig::Heard heard = voicerig::hear(recorded, 8000);
        if (heard.onset < 0 || std::abs(heard.hz - 1000) > 20) {
            return fail(QStringLiteral("run %1: the tone was not played (%2)").arg(r).arg(heard.text()), rig, pulse);
        }
        (r == 0 ? firstDelay : delay).samples << 1000 * (speaker.playedAt(from + heard.onset) - sentAt);
        quietHoles += heard.holes;
        bench::note(QStringLiteral("run %1: %2 ms; heard %3, %4 holes")
                        .arg(r == 0 ? QStringLiteral("first") : QString::number(r))
                        .arg(1000 * (speaker.playedAt(from + heard.onset) - sentAt), 0, 'f', 1)
                        .arg(heard.text())
                        .arg(heard.holes));
    }
    bench::report(firstDelay);
    delay.pass = delay.median() <= targetMs + 100;
    bench::report(delay);
    bench::note(QStringLiteral("the sound's time is when parec got it from the sink's monitor, less the samples after "
                               "it: late by that read's own delay (about 10 ms) at most. Dropouts without load: %1")
                    .arg(quietHoles));

    // ---- (c) dropouts with every core busy
    bench::Figure holes = figure(QStringLiteral("Voice under full CPU load: dropouts heard"), QStringLiteral("count"));
    holes.target = QStringLiteral("0");
    bench::Figure missing = figure(QStringLiteral("Voice under full CPU load: sound missing"), QStringLiteral("ms"));
    {
        const Load load(::sysconf(_SC_NPROCESSORS_ONLN));
        bench::note(QStringLiteral("%1 busy loops running; tones of %2 ms").arg(load.size()).arg(LoadToneMs));
        for (int r = 1; r <= runs; ++r) {
            outputClosed();
            const qsizetype from = speaker.samples().size();
            talker.talk(1000, LoadToneMs);
            (void)QTest::qWaitFor([&] { return !talker.talking(); }, LoadToneMs + 5000);
            QTest::qWait(1000);
            const auto recorded = speaker.samples().subspan(size_t(from));
            const voicerig::Heard heard = voicerig::hear(recorded, 8000);
            holes.samples << heard.holes;
            missing.samples << std::max(0.0, LoadToneMs - (1000 * heard.seconds - heard.holeMs));
            bench::note(QStringLiteral("run %1: heard %2, %3 holes of %4 ms in all; the sender's longest gap between "
                                       "packets %5 ms")
                            .arg(r)
                            .arg(heard.text())
                            .arg(heard.holes)
                            .arg(heard.holeMs)
                            .arg(talker.worstGapMs(), 0, 'f', 0));
        }
    }
    holes.pass = holes.median() == 0;
    bench::report(holes);
    bench::report(missing);
    talker.bye();

    // ---- (b) CPU beside svxlink: receiving, then relaying to three others
    auto& peers = rig.peers();
    const QString connected = QStringLiteral("STATE CONNECTED peer=%1 ");
    auto connectPeers = [&](int first, int last) {
        for (int i = first; i <= last; ++i) {
            peers[size_t(i)]->send(QStringLiteral("connect ") + stationrig::StationAddress);
            peers[size_t(i)]->send(QStringLiteral("connect ") + stationrig::NodeAddress);
        }
        for (int i = first; i <= last; ++i) {
            for (const QString& address : {stationrig::StationAddress, stationrig::NodeAddress}) {
                if (!peers[size_t(i)]->waitFor(connected.arg(address), CallTimeoutMs)) {
                    return false;
                }
            }
        }
        QTest::qWait(SettleMs);
        return true;
    };
    const pid_t ours = rig.station().pid();
    const pid_t theirs = rig.node().pid();
    bench::Figure cpu[2][2] = {
        {figure(QStringLiteral("Voice receiving CPU: parlevox-station"), QStringLiteral("% core")),
         figure(QStringLiteral("Voice receiving CPU: svxlink"), QStringLiteral("% core"))},
        {figure(QStringLiteral("Voice relayed to 3 CPU: parlevox-station"), QStringLiteral("% core")),
         figure(QStringLiteral("Voice relayed to 3 CPU: svxlink"), QStringLiteral("% core"))}};
    for (int phase = 0; phase < 2; ++phase) {
        if (!(phase == 0 ? connectPeers(0, 0) : connectPeers(1, 3))) {
            return fail(QStringLiteral("the elpeers did not all connect to both stations"), rig, pulse);
        }
        for (int r = 1; r <= runs; ++r) {
            const QString heard = QStringLiteral("RXAUDIO stop from=%1 .*peak_hz=1000 ");
            const QRegularExpression fromUs(heard.arg(QStringLiteral("127\\.0\\.0\\.8")));
            const QRegularExpression fromNode(heard.arg(QStringLiteral("127\\.0\\.0\\.2")));
            const int relayedBefore[2] = {peers[1]->count(fromUs), peers[1]->count(fromNode)};
            const int seconds = windowMs / 1000 + 3;
            peers[0]->send(QStringLiteral("tone 1000 %1").arg(seconds));
            QTest::qWait(1500); // both are under way: the station's output open, svxlink's transmitter on
            const qint64 txBefore = nodeTxBytes;
            const double a0 = bench::cpuSeconds(ours).value_or(0);
            const double b0 = bench::cpuSeconds(theirs).value_or(0);
            const double t0 = bench::monotonicSeconds();
            QTest::qWait(windowMs);
            const double elapsed = bench::monotonicSeconds() - t0;
            cpu[phase][0].samples << 100 * (bench::cpuSeconds(ours).value_or(a0) - a0) / elapsed;
            cpu[phase][1].samples << 100 * (bench::cpuSeconds(theirs).value_or(b0) - b0) / elapsed;
            const double txSeconds = double(nodeTxBytes - txBefore) / 2 / 16000;
            QTest::qWait(seconds * 1000 - windowMs - 1500 + 2000); // the tone ends, the talker lets go
            if (!rig.station().isRunning() || !rig.node().isRunning()) {
                return fail(QStringLiteral("a station ended during the measurement"), rig, pulse);
            }
            const bool relayed = phase == 0 || (peers[1]->waitFor(fromUs.pattern(), 3000, relayedBefore[0] + 1) &&
                                                peers[1]->waitFor(fromNode.pattern(), 3000, relayedBefore[1] + 1));
            bench::note(QStringLiteral("%1 run %2: parlevox-station %3 %, svxlink %4 % (its transmitter sent %5 s of "
                                       "audio in the window)%6")
                            .arg(phase == 0 ? QStringLiteral("receiving") : QStringLiteral("relaying"))
                            .arg(r)
                            .arg(cpu[phase][0].samples.last(), 0, 'f', 2)
                            .arg(cpu[phase][1].samples.last(), 0, 'f', 2)
                            .arg(txSeconds, 0, 'f', 1)
                            .arg(relayed ? QString() : QStringLiteral("; Q1PBX did NOT hear both relays")));
        }
    }
    reportPair(cpu[0][0], cpu[0][1]);
    reportPair(cpu[1][0], cpu[1][1]);
    bench::note(QStringLiteral("CPU is counted in clock ticks: one tick over a window is %1 % of a core. The station "
                               "plays to PulseAudio (whose own work is not counted), svxlink to a UDP socket")
                    .arg(100.0 / double(::sysconf(_SC_CLK_TCK)) / (windowMs / 1000.0), 0, 'f', 2));
    speaker.stop();
    return 0;
}
