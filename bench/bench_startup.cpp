// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: from the moment the process is created to the main window being mapped on the screen (a
// private Xvfb, watched by an X client of our own), and the memory once everything has settled: Parlevox
// alone, and with the web engine's processes, which must not exist before the internet window is first
// shown. Then, when xdotool is there to press "Show Internet Options", the same once that window has shown
// its page. All of it in a private network namespace: the page the window opens first stays on this machine.
//
//   bench_startup [--runs N]
#include "BenchSupport.h"
#include "ParlevoxRig.h"
#include "XWatch.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

int engineProcesses(pid_t pid) {
    int count = 0;
    for (const pid_t child : bench::descendants(pid)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(child));
        count += comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("QtWebEngine") ? 1 : 0;
    }
    return count;
}

// "Show Internet Options" (Command13), in the middle of where the main window's layout puts it.
bool pressShowInternetOptions(const QString& xdotool, const QString& display, std::uint32_t window) {
    QProcess press;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    press.setProcessEnvironment(env);
    press.start(xdotool, {QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(window),
                          QStringLiteral("544"), QStringLiteral("448"), QStringLiteral("click"), QStringLiteral("1")});
    return press.waitForFinished(10000) && press.exitStatus() == QProcess::NormalExit && press.exitCode() == 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qgetenv("PARLEVOX_BENCH_NETNS") != "1") {
        ::setenv("PARLEVOX_BENCH_NETNS", "1", 1);
        char self[4096] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
            std::perror("bench_startup: cannot find its own program file");
            return 1;
        }
        std::vector<char*> args{const_cast<char*>("bash"), const_cast<char*>(NETNS_PATH), self};
        for (int i = 1; i < argc; ++i) {
            args.push_back(argv[i]);
        }
        args.push_back(nullptr);
        ::execv("/bin/bash", args.data());
        std::perror("bench_startup: cannot run " NETNS_PATH);
        return 1;
    }
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
    bench::Figure helpers{QStringLiteral("start-up: web engine processes before the internet window is shown"),
                          QStringLiteral("count"),
                          {},
                          QStringLiteral("0"),
                          std::nullopt};
    bench::Figure shownAlone{
        QStringLiteral("internet window shown: memory of Parlevox (RSS)"), QStringLiteral("MB"), {}, {}, std::nullopt};
    bench::Figure shownTree{QStringLiteral("internet window shown: memory with web engine processes (RSS sum)"),
                            QStringLiteral("MB"),
                            {},
                            {},
                            std::nullopt};
    bench::Figure shownHelpers{
        QStringLiteral("internet window shown: web engine processes"), QStringLiteral("count"), {}, {}, std::nullopt};
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xdotool.isEmpty()) {
        bench::note(QStringLiteral("xdotool not found: the internet window is not shown, its memory not measured"));
    }
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
        const int children = engineProcesses(pid);
        const QString run = r == 0 ? QStringLiteral("warm-up") : QStringLiteral("run %1").arg(r);
        bench::note(QStringLiteral("%1: shown after %2 ms; RSS %3 MB, with %4 web engine processes %5 MB (PSS %6 MB)")
                        .arg(run)
                        .arg(ms, 0, 'f', 1)
                        .arg(rss, 0, 'f', 1)
                        .arg(children)
                        .arg(rssTree, 0, 'f', 1)
                        .arg(pssTree, 0, 'f', 1));
        if (!xdotool.isEmpty()) {
            if (!pressShowInternetOptions(xdotool, rig.display(), mapped->window) ||
                !watch.waitForMapped(QStringLiteral("Parlevox"), 30000) ||
                !QTest::qWaitFor([&] { return engineProcesses(pid) > 0; }, 30000)) {
                std::fprintf(stderr, "bench_startup: the internet window did not show its page\n");
                return 1;
            }
            bench::waitUntilQuiet(pid, 0.02, 30000);
            QTest::qWait(1000);
            const double shownRss = bench::rssKb(pid).value_or(0) / 1024.0;
            const double shownRssTree = bench::treeRssKb(pid) / 1024.0;
            const int shownChildren = engineProcesses(pid);
            bench::note(QStringLiteral("%1: internet window shown: RSS %2 MB, with %3 web engine processes %4 MB")
                            .arg(run)
                            .arg(shownRss, 0, 'f', 1)
                            .arg(shownChildren)
                            .arg(shownRssTree, 0, 'f', 1));
            if (r > 0) {
                shownAlone.samples << shownRss;
                shownTree.samples << shownRssTree;
                shownHelpers.samples << shownChildren;
            }
        }
        rig.stopParlevox();
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
    helpers.pass = helpers.max() == 0;
    bench::report(shown);
    bench::report(alone);
    bench::report(tree);
    bench::report(treePss);
    bench::report(helpers);
    if (!shownAlone.samples.isEmpty()) {
        bench::report(shownAlone);
        bench::report(shownTree);
        bench::report(shownHelpers);
    }
    return 0;
}
