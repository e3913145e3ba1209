// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: from the moment the process is created to the main window being mapped on the screen (a
// private Xvfb, watched by an X client of our own), and the memory once everything has settled: Parlevox
// alone, and with the web engine's processes, which must not exist before the internet window is first
// shown. Then, when xdotool is there to press "Show Internet Options", the same once that window has shown
// its page. Beside it, in the same runs and on the same screen, Qtel (another EchoLink program, when
// /usr/bin/qtel is there): its memory once its main window has settled is the mark Parlevox's is held to. All
// of it in a private network namespace: the page the window opens first and Qtel's directory (127.0.0.1) stay
// on this machine.
//
//   bench_startup [--runs N]
#include "BenchSupport.h"
#include "ParlevoxRig.h"
#include "XWatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

// Where a process's resident memory is, by mapped file (anonymous memory as one entry): the largest first.
QString residentByFile(pid_t pid, int largest) {
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!smaps.open(QIODevice::ReadOnly)) {
        return QStringLiteral("(no smaps)");
    }
    QHash<QString, qint64> kb;
    QString file;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields[0].contains('-')) {
            file = fields.size() >= 6 ? QString::fromUtf8(fields[5]) : QStringLiteral("[anonymous]");
            file = file.startsWith(QLatin1Char('/')) ? file.section(QLatin1Char('/'), -1) : file;
        } else if (fields.size() >= 2 && fields[0] == "Rss:") {
            kb[file] += fields[1].toLongLong();
        }
    }
    QList<std::pair<qint64, QString>> sorted;
    for (auto it = kb.cbegin(); it != kb.cend(); ++it) {
        sorted.append({it.value(), it.key()});
    }
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    QStringList parts;
    for (const auto& [size, name] : sorted.mid(0, largest)) {
        parts << QStringLiteral("%1 %2 MB").arg(name).arg(double(size) / 1024.0, 0, 'f', 1);
    }
    return parts.join(QStringLiteral(", "));
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

const QString QtelPath = QStringLiteral("/usr/bin/qtel");

// Qtel with a home of its own, configured so that it opens its main window rather than its settings, with its
// directory on 127.0.0.1.
class Qtel {
public:
    bool start(const bench::ParlevoxRig& rig, QString* error) {
        const QString config = home_.filePath(QStringLiteral(".config/SvxLink"));
        QFile file(config + QStringLiteral("/Qtel.conf"));
        if (!QDir().mkpath(config) || !file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("cannot write Qtel's settings in %1").arg(config);
            return false;
        }
        file.write("[General]\nCallsign=QX1QTL\nPassword=BENCH\nVPassword=BENCH\nName=Bench\nLocation=Bench\n"
                   "DirectoryServers=127.0.0.1\nBindAddress=127.0.0.1\n");
        file.close();
        QProcessEnvironment env = rig.environment();
        env.insert(QStringLiteral("HOME"), home_.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.filePath(QStringLiteral(".config")));
        process_.setProcessEnvironment(env);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(home_.filePath(QStringLiteral("stderr")));
        process_.start(QtelPath, {});
        if (!process_.waitForStarted(10000)) {
            *error = QStringLiteral("Qtel did not start: %1").arg(process_.errorString());
            return false;
        }
        return true;
    }
    pid_t pid() const { return static_cast<pid_t>(process_.processId()); }
    void stop() {
        process_.terminate();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

private:
    QTemporaryDir home_;
    QProcess process_;
};

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
    bench::Figure qtel{
        QStringLiteral("start-up: memory of Qtel beside it (RSS)"), QStringLiteral("MB"), {}, {}, std::nullopt};
    const bool withQtel = QFile::exists(QtelPath);
    if (!withQtel) {
        bench::note(QStringLiteral("%1 not found: Parlevox's memory is not compared with Qtel's").arg(QtelPath));
    }
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
        if (r == 1) {
            bench::note(QStringLiteral("%1: where Parlevox's memory is: %2").arg(run, residentByFile(pid, 12)));
        }
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
        if (withQtel) {
            // One at a time, so neither shares pages with or waits for the other.
            Qtel other;
            if (!other.start(rig, &error) || !watch.waitForMapped(QStringLiteral("Qtel"), 30000)) {
                std::fprintf(stderr, "bench_startup: Qtel's main window was not shown within 30 s: %s\n",
                             qPrintable(error));
                return 1;
            }
            bench::waitUntilQuiet(other.pid(), 0.02, 30000);
            QTest::qWait(1000);
            const double qtelRss = bench::rssKb(other.pid()).value_or(0) / 1024.0;
            bench::note(QStringLiteral("%1: Qtel: RSS %2 MB").arg(run).arg(qtelRss, 0, 'f', 1));
            if (r == 1) {
                bench::note(QStringLiteral("%1: where Qtel's memory is: %2").arg(run, residentByFile(other.pid(), 12)));
            }
            other.stop();
            if (r > 0) {
                qtel.samples << qtelRss;
            }
        }
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
    if (!qtel.samples.isEmpty()) {
        alone.target = QStringLiteral("<= Qtel's %1").arg(qtel.median(), 0, 'f', 1);
        alone.pass = alone.median() <= qtel.median();
    }
    bench::report(shown);
    bench::report(alone);
    if (!qtel.samples.isEmpty()) {
        bench::report(qtel);
    }
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
