// SPDX-License-Identifier: GPL-3.0-or-later
// parlevox-station beside svxlink, in one private network namespace (the benchmark runs itself again through
// tests/station/netns.sh): the fake directory, four elpeer test peers, the svxlink node Q1AAA-L and our station.
//  - Chat: a peer connected to the station sends numbered chat texts; a D-Bus client (this program, with
//    Parlevox listening beside it) counts the ChatTextReceived signals. Paced bursts at rising rates give the
//    highest rate with nothing lost; one burst flat out gives what arrives when the peer sends all at once.
//  - Cost: resident memory (VmRSS) and CPU time (utime + stime over a fixed window) of parlevox-station and of
//    svxlink, logged in with nobody connected, then with the four peers connected to each of them.
//
//   bench_station [--runs N] [--texts N] [--window SECONDS]
#include "BenchSupport.h"
#include "ParlevoxHarness.h"
#include "SpeechHarness.h"
#include "StationHarness.h"
#include "StationRig.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Peers = 4;
constexpr int CallTimeoutMs = 40000; // a callee ignores a caller missing from its stale list once
constexpr int SettleMs = 3000;       // svxlink greets each caller with about a second of sound
constexpr int QuietEndMs = 3000;     // no new text for this long: the rest is lost

// Counts the numbered chat texts "runR #N" of the current run as they arrive on the bus.
class ChatCounter : public QObject {
    Q_OBJECT
public:
    void begin(int run) {
        run_ = run;
        seen_.clear();
        last_ = 0;
        outOfOrder_ = 0;
        clock_.start();
        lastAtMs_ = 0;
    }
    int received() const { return int(seen_.size()); }
    int outOfOrder() const { return outOfOrder_; }
    qint64 lastAtMs() const { return lastAtMs_; }
    qint64 elapsedMs() const { return clock_.elapsed(); }

public Q_SLOTS:
    void onChatTextReceived(const QString& text) {
        static const QRegularExpression mark(QStringLiteral("run(\\d+) #(\\d+)$"));
        const QRegularExpressionMatch m = mark.match(text);
        if (!m.hasMatch() || m.captured(1).toInt() != run_) {
            return;
        }
        const int n = m.captured(2).toInt();
        outOfOrder_ += n <= last_ ? 1 : 0;
        last_ = n;
        seen_.insert(n);
        lastAtMs_ = clock_.elapsed();
    }

private:
    int run_ = 0;
    int last_ = 0;
    int outOfOrder_ = 0;
    QSet<int> seen_;
    QElapsedTimer clock_;
    qint64 lastAtMs_ = 0;
};

struct Usage {
    double rssMb = 0;
    double privateMb = 0;  // without the pages of shared libraries, which other Qt programs share
    double cpuPercent = 0; // of one core
};

// Reads both programs over the same window: CPU time used in it, resident memory at its end.
std::pair<Usage, Usage> measure(pid_t a, pid_t b, int windowMs) {
    const double a0 = bench::cpuSeconds(a).value_or(0);
    const double b0 = bench::cpuSeconds(b).value_or(0);
    const double t0 = bench::monotonicSeconds();
    QTest::qWait(windowMs);
    const double seconds = bench::monotonicSeconds() - t0;
    auto usage = [&](pid_t pid, double before) {
        return Usage{double(bench::rssKb(pid).value_or(0)) / 1024.0, double(bench::privateKb(pid).value_or(0)) / 1024.0,
                     100.0 * (bench::cpuSeconds(pid).value_or(before) - before) / seconds};
    };
    return {usage(a, a0), usage(b, b0)};
}

// Waits until every peer's log holds one more line matching pattern than it did in before.
bool allPeers(stationrig::Rig& rig, const QString& pattern, const std::vector<int>& before, int timeoutMs) {
    const QRegularExpression re(pattern);
    return QTest::qWaitFor(
        [&] {
            for (int i = 0; i < Peers; ++i) {
                if (rig.peers().at(i)->count(re) <= before.at(i)) {
                    return false;
                }
            }
            return true;
        },
        timeoutMs);
}
std::vector<int> peerCounts(stationrig::Rig& rig, const QString& pattern) {
    const QRegularExpression re(pattern);
    std::vector<int> counts;
    for (int i = 0; i < Peers; ++i) {
        counts.push_back(rig.peers().at(i)->count(re));
    }
    return counts;
}

bench::Figure figure(const QString& name, const QString& unit) {
    return bench::Figure{name, unit, {}, {}, std::nullopt};
}

// The station's figure, with svxlink's median as the aim (printed, not enforced by the exit status).
void reportPair(bench::Figure ours, const bench::Figure& theirs) {
    bench::report(theirs);
    ours.target = QStringLiteral("<= %1 (svxlink)").arg(theirs.median(), 0, 'f', 2);
    ours.pass = ours.median() <= theirs.median();
    bench::report(ours);
}

// Datagrams the kernel dropped because a socket's queue was full, summed over the UDP sockets bound to address
// (dotted IPv4) in this network namespace; they never reached the program.
qint64 udpDrops(const QString& address) {
    const QStringList parts = address.split(QLatin1Char('.'));
    QString hex; // /proc/net/udp writes the address as one host-order word, so 127.0.0.8 is 0800007F
    for (qsizetype i = parts.size() - 1; i >= 0; --i) {
        hex += QStringLiteral("%1").arg(parts.at(i).toUInt(), 2, 16, QLatin1Char('0')).toUpper();
    }
    QFile file(QStringLiteral("/proc/self/net/udp"));
    qint64 drops = 0;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 12 && fields.at(1).startsWith(hex.toLatin1() + ':')) {
                drops += fields.last().toLongLong();
            }
        }
    }
    return drops;
}

// A child of this process by its command name, or 0.
pid_t childNamed(const QByteArray& name) {
    for (const pid_t pid : bench::descendants(::getpid())) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name) {
            return pid;
        }
    }
    return 0;
}

// Offered rates of the paced bursts, texts per second.
constexpr int Ladder[] = {250, 500, 1000, 2000, 4000, 8000, 16000, 32000, 64000};

struct Burst {
    int received = 0;
    qint64 lastMs = 0; // when the last text arrived, from the first one sent
    int outOfOrder = 0;
};

// The peer sends texts numbered chat texts at offered texts per second (0: as fast as it can); waits until all
// arrived or none came for a while.
Burst sendBurst(stationrig::LoggedProcess& sender, ChatCounter& counter, int tag, int texts, int offered) {
    auto line = [&](int n) { return QStringLiteral("chat run%1 #%2\n").arg(tag).arg(n).toUtf8(); };
    counter.begin(tag);
    if (offered == 0) {
        QByteArray all;
        for (int n = 1; n <= texts; ++n) {
            all += line(n);
        }
        sender.sendRaw(all);
    } else {
        for (int sent = 0; sent < texts;) {
            const int due = std::min<qint64>(texts, counter.elapsedMs() * offered / 1000 + 1);
            QByteArray some;
            for (; sent < due; ++sent) {
                some += line(sent + 1);
            }
            sender.sendRaw(some);
            QTest::qWait(2);
        }
    }
    (void)QTest::qWaitFor(
        [&] { return counter.received() >= texts || counter.elapsedMs() - counter.lastAtMs() > QuietEndMs; }, 120000);
    QTest::qWait(200); // the event loop is free again before the next burst
    return Burst{counter.received(), counter.lastAtMs(), counter.outOfOrder()};
}

int fail(const QString& what, stationrig::Rig& rig) {
    std::fprintf(stderr, "bench_station: %s\n%s\n", qPrintable(what), qPrintable(rig.logTails()));
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    // Everything below talks to 127.0.0.x only, and only inside a namespace of its own.
    if (qgetenv("PARLEVOX_BENCH_NETNS") != "1") {
        ::setenv("PARLEVOX_BENCH_NETNS", "1", 1);
        char self[4096] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
            std::perror("bench_station: cannot find its own program file");
            return 1;
        }
        std::vector<char*> args{const_cast<char*>("bash"), const_cast<char*>(NETNS_PATH), self};
        for (int i = 1; i < argc; ++i) {
            args.push_back(argv[i]);
        }
        args.push_back(nullptr);
        ::execv("/bin/bash", args.data());
        std::perror("bench_station: cannot run " NETNS_PATH);
        return 1;
    }
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int runs = bench::intOption(arguments, QStringLiteral("--runs"), 5);
    const int texts = bench::intOption(arguments, QStringLiteral("--texts"), 1000);
    const int windowMs = 1000 * bench::intOption(arguments, QStringLiteral("--window"), 20);
    QString error;
    if (!stationrig::onlyLoopback(&error)) {
        std::fprintf(stderr, "bench_station: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("parlevox-station beside svxlink: %d runs, chat bursts of %d texts, usage over %d s windows\n", runs,
                texts, windowMs / 1000);

    QTemporaryDir work;
    QTemporaryDir home;
    e2e::PrivateBus bus;
    e2e::PrivateSpeechServer speech;
    stationrig::Rig rig(work.path());
    if (!bus.start(&error) || !rig.startDirectory(&error)) {
        return fail(error, rig);
    }
    for (int i = 0; i < Peers; ++i) {
        if (!rig.startPeer(QStringLiteral("Q1P%1X").arg(QChar(u'A' + i)), i, &error)) {
            return fail(error, rig);
        }
    }

    // ---- cost, side by side
    bench::Figure idleRss[2] = {figure(QStringLiteral("Idle RSS: parlevox-station"), QStringLiteral("MB")),
                                figure(QStringLiteral("Idle RSS: svxlink"), QStringLiteral("MB"))};
    bench::Figure idlePrivate[2] = {
        figure(QStringLiteral("Idle private memory: parlevox-station"), QStringLiteral("MB")),
        figure(QStringLiteral("Idle private memory: svxlink"), QStringLiteral("MB"))};
    bench::Figure busyPrivate[2] = {
        figure(QStringLiteral("4 peers private memory: parlevox-station"), QStringLiteral("MB")),
        figure(QStringLiteral("4 peers private memory: svxlink"), QStringLiteral("MB"))};
    bench::Figure idleCpu[2] = {figure(QStringLiteral("Idle CPU: parlevox-station"), QStringLiteral("% core")),
                                figure(QStringLiteral("Idle CPU: svxlink"), QStringLiteral("% core"))};
    bench::Figure busyRss[2] = {figure(QStringLiteral("4 peers RSS: parlevox-station"), QStringLiteral("MB")),
                                figure(QStringLiteral("4 peers RSS: svxlink"), QStringLiteral("MB"))};
    bench::Figure busyCpu[2] = {figure(QStringLiteral("4 peers CPU: parlevox-station"), QStringLiteral("% core")),
                                figure(QStringLiteral("4 peers CPU: svxlink"), QStringLiteral("% core"))};
    const QString connected = QStringLiteral("STATE CONNECTED peer=%1 ");
    const QString disconnected = QStringLiteral("STATE DISCONNECTED peer=%1 ");
    for (int r = 1; r <= runs; ++r) {
        if (!rig.startNode(&error) || !rig.startStation(bus.environment(), &error)) {
            return fail(error, rig);
        }
        QTest::qWait(SettleMs);
        const pid_t ours = rig.station().pid();
        const pid_t theirs = rig.node().pid();
        const auto [idleOurs, idleTheirs] = measure(ours, theirs, windowMs);

        const auto toUs = peerCounts(rig, connected.arg(stationrig::StationAddress));
        const auto toNode = peerCounts(rig, connected.arg(stationrig::NodeAddress));
        for (auto& peer : rig.peers()) {
            peer->send(QStringLiteral("connect ") + stationrig::StationAddress);
            peer->send(QStringLiteral("connect ") + stationrig::NodeAddress);
        }
        if (!allPeers(rig, connected.arg(stationrig::StationAddress), toUs, CallTimeoutMs) ||
            !allPeers(rig, connected.arg(stationrig::NodeAddress), toNode, CallTimeoutMs)) {
            return fail(QStringLiteral("run %1: the peers did not all connect to both").arg(r), rig);
        }
        QTest::qWait(SettleMs);
        const auto [busyOurs, busyTheirs] = measure(ours, theirs, windowMs);
        if (!rig.station().isRunning() || !rig.node().isRunning()) {
            return fail(QStringLiteral("run %1: a station ended during the measurement").arg(r), rig);
        }

        const auto left = peerCounts(rig, disconnected.arg(stationrig::StationAddress));
        for (auto& peer : rig.peers()) {
            peer->send(QStringLiteral("disc"));
        }
        allPeers(rig, disconnected.arg(stationrig::StationAddress), left, 5000);
        rig.stopStation();
        rig.stopNode();

        const Usage idle[2] = {idleOurs, idleTheirs};
        const Usage busy[2] = {busyOurs, busyTheirs};
        for (int side = 0; side < 2; ++side) {
            idleRss[side].samples << idle[side].rssMb;
            idlePrivate[side].samples << idle[side].privateMb;
            busyPrivate[side].samples << busy[side].privateMb;
            idleCpu[side].samples << idle[side].cpuPercent;
            busyRss[side].samples << busy[side].rssMb;
            busyCpu[side].samples << busy[side].cpuPercent;
        }
        bench::note(QStringLiteral("run %1: idle %2 MB %3 % / svxlink %4 MB %5 %; 4 peers %6 MB %7 % / svxlink %8 MB "
                                   "%9 %")
                        .arg(r)
                        .arg(idleOurs.rssMb, 0, 'f', 1)
                        .arg(idleOurs.cpuPercent, 0, 'f', 2)
                        .arg(idleTheirs.rssMb, 0, 'f', 1)
                        .arg(idleTheirs.cpuPercent, 0, 'f', 2)
                        .arg(busyOurs.rssMb, 0, 'f', 1)
                        .arg(busyOurs.cpuPercent, 0, 'f', 2)
                        .arg(busyTheirs.rssMb, 0, 'f', 1)
                        .arg(busyTheirs.cpuPercent, 0, 'f', 2));
    }

    // ---- chat through the station to the bus, Parlevox listening
    if (!rig.startStation(bus.environment(), &error)) {
        return fail(error, rig);
    }
    const QString problem = speech.start();
    if (!problem.isEmpty()) {
        return fail(QStringLiteral("no speech server: ") + problem, rig);
    }
    QProcessEnvironment env =
        e2e::ParlevoxProcess::environment(bus.environment(), QString(), speech.address(), home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    e2e::ParlevoxProcess parlevox(env);
    if (!parlevox.start(&error)) {
        return fail(error, rig);
    }
    ChatCounter counter;
    QDBusConnection client = bus.connect();
    client.connect(QStringLiteral("org.parlevox.EchoLink"), QStringLiteral("/org/parlevox/EchoLink"),
                   QStringLiteral("org.parlevox.EchoLink"), QStringLiteral("ChatTextReceived"), &counter,
                   SLOT(onChatTextReceived(QString)));
    stationrig::LoggedProcess& sender = *rig.peers().front();
    const int before = sender.count(QRegularExpression(connected.arg(stationrig::StationAddress)));
    sender.send(QStringLiteral("connect ") + stationrig::StationAddress);
    if (!sender.waitFor(connected.arg(stationrig::StationAddress), CallTimeoutMs, before + 1)) {
        return fail(QStringLiteral("the sender did not connect to the station"), rig);
    }
    // The web engine starts beside Parlevox; let it settle so it does not take part in the race.
    QTest::qWait(SettleMs);
    if (const pid_t pid = childNamed(QByteArrayLiteral("parlevox")); pid > 0) {
        bench::waitUntilQuiet(pid, 0.05, 30000);
    }

    // Each run climbs a ladder of paced rates until texts go missing, then sends one burst flat out.
    bench::Figure lossless =
        figure(QStringLiteral("Station chat: highest rate with nothing lost"), QStringLiteral("texts/s"));
    bench::Figure flatRate =
        figure(QStringLiteral("Station chat: flat-out burst, received"), QStringLiteral("texts/s"));
    bench::Figure flatLost = figure(QStringLiteral("Station chat: flat-out burst, lost"), QStringLiteral("texts"));
    int tag = 0;
    int disorder = 0;
    const qint64 dropsBefore = udpDrops(stationrig::StationAddress);
    int lostInAll = 0;
    for (int r = 1; r <= runs; ++r) {
        int best = 0;
        QStringList steps;
        for (const int offered : Ladder) {
            const Burst b = sendBurst(sender, counter, ++tag, texts, offered);
            disorder += b.outOfOrder;
            steps << QStringLiteral("%1/s: %2 lost").arg(offered).arg(texts - b.received);
            lostInAll += texts - b.received;
            if (b.received < texts) {
                break;
            }
            best = offered;
        }
        lossless.samples << best;
        const Burst flat = sendBurst(sender, counter, ++tag, texts, 0);
        disorder += flat.outOfOrder;
        flatRate.samples << flat.received / (std::max<qint64>(1, flat.lastMs) / 1000.0);
        flatLost.samples << texts - flat.received;
        lostInAll += texts - flat.received;
        bench::note(QStringLiteral("chat run %1: paced %2; flat out %3 of %4 in %5 ms")
                        .arg(r)
                        .arg(steps.join(QStringLiteral(", ")))
                        .arg(flat.received)
                        .arg(texts)
                        .arg(flat.lastMs));
    }
    const bool stillThere = rig.station().isRunning() && parlevox.isRunning();
    parlevox.stop();

    bench::report(lossless);
    bench::report(flatRate);
    bench::report(flatLost);
    reportPair(idleRss[0], idleRss[1]);
    reportPair(idlePrivate[0], idlePrivate[1]);
    reportPair(busyPrivate[0], busyPrivate[1]);
    reportPair(idleCpu[0], idleCpu[1]);
    reportPair(busyRss[0], busyRss[1]);
    reportPair(busyCpu[0], busyCpu[1]);
    bench::note(QStringLiteral("texts lost in all chat bursts: %1; of them dropped by the kernel at the station's full "
                               "UDP receive queue: %2")
                    .arg(lostInAll)
                    .arg(udpDrops(stationrig::StationAddress) - dropsBefore));
    bench::note(QStringLiteral("CPU is counted in clock ticks: one tick over a window is %1 % of a core; the paced "
                               "ladder stops at %2 texts/s")
                    .arg(100.0 / double(::sysconf(_SC_CLK_TCK)) / (windowMs / 1000.0), 0, 'f', 2)
                    .arg(std::end(Ladder)[-1]));
    bench::note(QStringLiteral("texts out of order: %1; station and Parlevox still running: %2")
                    .arg(disorder)
                    .arg(stillThere ? QStringLiteral("yes") : QStringLiteral("no")));
    return stillThere ? 0 : 1;
}

#include "bench_station.moc"
