// SPDX-License-Identifier: GPL-3.0-or-later
// A storm: the station reports 2,000 stations connecting and then all of them dropping, at once, with
// announcements on. While it lasts, an X client of our own pings the main window again and again: the time
// to the answer is how long the window could not react. Memory is read before and after each storm.
//
//   bench_storm [--runs N] [--stations N]
#include "BenchSupport.h"
#include "ParlevoxRig.h"
#include "XWatch.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace {

constexpr double SlowPingMs = 50;

struct Storm {
    double longestMs = 0;   // longest ping: the longest time the window could not react
    double medianMs = 0;    // typical ping while the storm was handled
    double recoveredMs = 0; // from the storm's start to the last slow ping
    int pings = 0;
    int unanswered = 0;
};

std::optional<Storm> runStorm(bench::ParlevoxRig& rig, bench::XWatch& watch, std::uint32_t window, int stations) {
    rig.station().send(QStringLiteral("storm %1").arg(stations));
    const double start = bench::monotonicSeconds();
    double lastSlow = start;
    bool done = false;
    QList<double> pings;
    Storm s;
    for (;;) {
        const auto ms = watch.ping(window, 10000);
        const double now = bench::monotonicSeconds();
        if (!ms) {
            ++s.unanswered;
            lastSlow = now;
        } else {
            pings << *ms;
            if (*ms > SlowPingMs) {
                lastSlow = now;
            }
        }
        QCoreApplication::processEvents();
        if (!done) {
            done = rig.station().waitForLineStartingWith(QStringLiteral("# storm done"), 0);
        }
        if ((done && now - lastSlow > 3.0) || now - start > 180 || !rig.parlevoxRunning()) {
            break;
        }
        QThread::msleep(5);
    }
    if (!done || !rig.parlevoxRunning()) {
        return std::nullopt;
    }
    std::sort(pings.begin(), pings.end());
    s.pings = int(pings.size());
    s.longestMs = s.unanswered > 0 ? 10000 : (pings.isEmpty() ? 0 : pings.last());
    s.medianMs = pings.isEmpty() ? 0 : pings.at(pings.size() / 2);
    s.recoveredMs = (lastSlow - start) * 1000;
    return s;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int runs = bench::intOption(args, QStringLiteral("--runs"), 5);
    const int stations = bench::intOption(args, QStringLiteral("--stations"), 2000);

    std::printf("Storm: %d stations connect and then drop at once, announcements on; %d storms in a row\n", stations,
                runs);
    QString error;
    bench::ParlevoxRig rig;
    bench::ParlevoxRig::Options options;
    options.screen = true;
    bench::XWatch watch;
    if (!rig.start(options, &error) || !watch.open(rig.display(), &error) || !rig.startParlevox(&error)) {
        std::fprintf(stderr, "bench_storm: %s\n", qPrintable(error));
        return 1;
    }
    const auto mapped = watch.waitForMapped(QStringLiteral("Parlevox"), 30000);
    if (!mapped) {
        std::fprintf(stderr, "bench_storm: no main window: %s\n",
                     qPrintable(rig.parlevoxErrors().join(QLatin1Char('\n'))));
        return 1;
    }
    const pid_t pid = rig.parlevoxPid();
    bench::waitUntilQuiet(pid, 0.02, 60000);
    const double rssStart = bench::rssKb(pid).value_or(0) / 1024.0;
    bench::note(QStringLiteral("before the first storm: RSS %1 MB, with web engine %2 MB")
                    .arg(rssStart, 0, 'f', 1)
                    .arg(bench::treeRssKb(pid) / 1024.0, 0, 'f', 1));

    bench::Figure longest{QStringLiteral("storm: longest time the window did not react"),
                          QStringLiteral("ms"),
                          {},
                          QStringLiteral("< 100"),
                          std::nullopt};
    bench::Figure typical{
        QStringLiteral("storm: median ping while it lasted"), QStringLiteral("ms"), {}, {}, std::nullopt};
    bench::Figure recovered{
        QStringLiteral("storm: until the window reacts at once again"), QStringLiteral("ms"), {}, {}, std::nullopt};
    bench::Figure growth{
        QStringLiteral("storm: RSS growth of Parlevox per storm"), QStringLiteral("MB"), {}, {}, std::nullopt};
    bench::Figure treeGrowth{
        QStringLiteral("storm: RSS growth with web engine per storm"), QStringLiteral("MB"), {}, {}, std::nullopt};
    double rssBefore = rssStart;
    double treeBefore = bench::treeRssKb(pid) / 1024.0;
    for (int r = 1; r <= runs; ++r) {
        const auto storm = runStorm(rig, watch, mapped->window, stations);
        if (!storm) {
            std::fprintf(stderr, "bench_storm: the storm did not end, or Parlevox ended: %s\n",
                         qPrintable(rig.parlevoxErrors().mid(-5).join(QLatin1Char('\n'))));
            return 1;
        }
        bench::waitUntilQuiet(pid, 0.02, 60000);
        const double rss = bench::rssKb(pid).value_or(0) / 1024.0;
        const double treeRss = bench::treeRssKb(pid) / 1024.0;
        longest.samples << storm->longestMs;
        typical.samples << storm->medianMs;
        recovered.samples << storm->recoveredMs;
        growth.samples << rss - rssBefore;
        treeGrowth.samples << treeRss - treeBefore;
        bench::note(
            QStringLiteral("storm %1: longest ping %2 ms, median %3 ms over %4 pings, reacting at once after %5 "
                           "ms; RSS %6 MB (%7%8), with web engine %9 MB")
                .arg(r)
                .arg(storm->longestMs, 0, 'f', 1)
                .arg(storm->medianMs, 0, 'f', 2)
                .arg(storm->pings)
                .arg(storm->recoveredMs, 0, 'f', 0)
                .arg(rss, 0, 'f', 1)
                .arg(rss >= rssBefore ? QStringLiteral("+") : QString())
                .arg(rss - rssBefore, 0, 'f', 1)
                .arg(treeRss, 0, 'f', 1));
        rssBefore = rss;
        treeBefore = treeRss;
    }
    const QStringList errors = rig.parlevoxErrors();
    rig.stopParlevox();
    longest.pass = longest.median() < 100;
    bench::report(longest);
    bench::report(typical);
    bench::report(recovered);
    bench::report(growth);
    bench::report(treeGrowth);
    bench::note(QStringLiteral("RSS of Parlevox from %1 MB before the first storm to %2 MB after the last")
                    .arg(rssStart, 0, 'f', 1)
                    .arg(rssBefore, 0, 'f', 1));
    bench::note(QStringLiteral("Parlevox wrote %1 lines to stderr").arg(errors.size()));
    for (const QString& line : errors.mid(0, 3)) {
        bench::note(QStringLiteral("  stderr: ") + line);
    }
    return 0;
}
