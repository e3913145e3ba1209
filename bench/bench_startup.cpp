// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: from the moment the process is created to the main window being mapped on the screen (a
// private Xvfb, watched by an X client of our own), and the memory once everything has settled: Parlevox
// alone, and with the web engine's processes of the internet window.
//
//   bench_startup [--runs N]
#include "BenchSupport.h"
#include "ParlevoxRig.h"
#include "XWatch.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = bench::intOption(QCoreApplication::arguments(), QStringLiteral("--runs"), 7);

    std::printf("Start-up: process start to main window mapped, and memory once settled; %d runs after one "
                "warm-up\n",
                runs);
    QString error;
    bench::ParlevoxRig rig;
    bench::ParlevoxRig::Options options;
    options.screen = true;
    if (!rig.start(options, &error)) {
        std::fprintf(stderr, "bench_startup: %s\n", qPrintable(error));
        return 1;
    }
    bench::XWatch watch;
    if (!watch.open(rig.display(), &error)) {
        std::fprintf(stderr, "bench_startup: %s\n", qPrintable(error));
        return 1;
    }

    bench::Figure shown{QStringLiteral("start-up: process start to main window mapped"),
                        QStringLiteral("ms"),
                        {},
                        QStringLiteral("< 400"),
                        std::nullopt};
    bench::Figure alone{
        QStringLiteral("start-up: memory of Parlevox (RSS)"), QStringLiteral("MB"), {}, {}, std::nullopt};
    bench::Figure tree{QStringLiteral("start-up: memory with web engine processes (RSS sum)"),
                       QStringLiteral("MB"),
                       {},
                       {},
                       std::nullopt};
    bench::Figure treePss{QStringLiteral("start-up: memory with web engine processes (PSS sum)"),
                          QStringLiteral("MB"),
                          {},
                          {},
                          std::nullopt};
    bench::Figure helpers{
        QStringLiteral("start-up: web engine processes"), QStringLiteral("count"), {}, {}, std::nullopt};
    for (int r = 0; r <= runs; ++r) {
        if (!rig.startParlevox(&error)) {
            std::fprintf(stderr, "bench_startup: %s\n", qPrintable(error));
            return 1;
        }
        const auto mapped = watch.waitForMapped(QStringLiteral("Parlevox"), 30000);
        if (!mapped) {
            std::fprintf(stderr, "bench_startup: the main window was not shown within 30 s: %s\n",
                         qPrintable(rig.parlevoxErrors().join(QLatin1Char('\n'))));
            return 1;
        }
        const double ms = (mapped->at - rig.parlevoxStartedAt()) * 1000.0;
        const pid_t pid = rig.parlevoxPid();
        bench::waitUntilQuiet(pid, 0.02, 30000);
        QTest::qWait(1000);
        const double rss = bench::rssKb(pid).value_or(0) / 1024.0;
        const double rssTree = bench::treeRssKb(pid) / 1024.0;
        const double pssTree = bench::treePssKb(pid) / 1024.0;
        const int children = int(bench::descendants(pid).size());
        rig.stopParlevox();
        bench::note(QStringLiteral("%1: shown after %2 ms; RSS %3 MB, with %4 web engine processes %5 MB (PSS %6 MB)")
                        .arg(r == 0 ? QStringLiteral("warm-up") : QStringLiteral("run %1").arg(r))
                        .arg(ms, 0, 'f', 1)
                        .arg(rss, 0, 'f', 1)
                        .arg(children)
                        .arg(rssTree, 0, 'f', 1)
                        .arg(pssTree, 0, 'f', 1));
        if (r == 0) {
            continue;
        }
        shown.samples << ms;
        alone.samples << rss;
        tree.samples << rssTree;
        treePss.samples << pssTree;
        helpers.samples << children;
    }
    shown.pass = shown.median() < 400;
    bench::report(shown);
    bench::report(alone);
    bench::report(tree);
    bench::report(treePss);
    bench::report(helpers);
    return 0;
}
