// SPDX-License-Identifier: GPL-3.0-or-later
// Idle: the CPU Parlevox uses while stations are connected and nothing happens, on a real (virtual) screen,
// measured over whole windows of time after start-up has settled.
//
//   bench_idle [--runs N] [--seconds S]
#include "BenchSupport.h"
#include "ParlevoxRig.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int runs = bench::intOption(args, QStringLiteral("--runs"), 3);
    const int seconds = bench::intOption(args, QStringLiteral("--seconds"), 60);

    std::printf("Idle: CPU over %d s with five stations connected and nothing happening; %d runs\n", seconds, runs);
    QString error;
    bench::ParlevoxRig rig;
    bench::ParlevoxRig::Options options;
    options.screen = true;
    if (!rig.start(options, &error) || !rig.startParlevox(&error) || !rig.waitForClient(20000)) {
        std::fprintf(stderr, "bench_idle: %s %s\n", qPrintable(error),
                     qPrintable(rig.parlevoxErrors().join(QLatin1Char('\n'))));
        return 1;
    }
    for (const char* call : {"QA2FNV-L", "QC3LNB-R", "QA1BRK", "*QA-NET*", "QB4XYZ"}) {
        rig.station().send(QStringLiteral("connect %1").arg(QLatin1String(call)));
    }
    // Start-up, the announcements and the web engine's first page are done before the clock starts.
    QTest::qWait(5000);
    const pid_t pid = rig.parlevoxPid();
    bench::waitUntilQuiet(pid, 0.02, 60000);
    QTest::qWait(5000);

    bench::Figure own{QStringLiteral("idle: CPU of Parlevox"),
                      QStringLiteral("% of a core"),
                      {},
                      QStringLiteral("< 0.5"),
                      std::nullopt};
    bench::Figure all{QStringLiteral("idle: CPU of Parlevox and web engine processes"),
                      QStringLiteral("% of a core"),
                      {},
                      {},
                      std::nullopt};
    for (int r = 1; r <= runs; ++r) {
        const double t0 = bench::monotonicSeconds();
        const double c0 = bench::cpuSeconds(pid).value_or(0);
        const double a0 = bench::treeCpuSeconds(pid);
        QTest::qWait(seconds * 1000);
        const double span = bench::monotonicSeconds() - t0;
        own.samples << (bench::cpuSeconds(pid).value_or(0) - c0) / span * 100.0;
        all.samples << (bench::treeCpuSeconds(pid) - a0) / span * 100.0;
        bench::note(QStringLiteral("run %1: Parlevox %2 %, with web engine %3 %")
                        .arg(r)
                        .arg(own.samples.last(), 0, 'f', 3)
                        .arg(all.samples.last(), 0, 'f', 3));
    }
    if (!rig.parlevoxRunning()) {
        std::fprintf(stderr, "bench_idle: Parlevox ended during the run\n");
        return 1;
    }
    rig.stopParlevox();
    own.pass = own.median() < 0.5;
    bench::report(own);
    bench::report(all);
    bench::note(QStringLiteral("CPU time is counted in ticks of %1 ms, so a figure near 0 is as precise as that allows")
                    .arg(1000 / ::sysconf(_SC_CLK_TCK)));
    return 0;
}
