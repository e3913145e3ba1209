// SPDX-License-Identifier: GPL-3.0-or-later
#include "BenchSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace bench {

namespace {

QList<double> sorted(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values;
}

QString number(double value) {
    if (value != 0 && std::abs(value) < 10) {
        return QString::number(value, 'f', 2);
    }
    return QString::number(value, 'f', 1);
}

QByteArray readProcFile(pid_t pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

std::optional<qint64> fieldKb(const QByteArray& text, const QByteArray& key) {
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith(key)) {
            const QList<QByteArray> parts = line.mid(key.size()).simplified().split(' ');
            bool ok = false;
            const qint64 value = parts.value(0).toLongLong(&ok);
            if (ok) {
                return value;
            }
        }
    }
    return std::nullopt;
}

// The fields of /proc/PID/stat after the command name (which may hold spaces): state is [0], ppid [1].
QList<QByteArray> statFields(pid_t pid) {
    const QByteArray stat = readProcFile(pid, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0) {
        return {};
    }
    return stat.mid(close + 2).split(' ');
}

} // namespace

double Figure::median() const {
    if (samples.isEmpty()) {
        return 0;
    }
    const QList<double> s = sorted(samples);
    const qsizetype n = s.size();
    return n % 2 == 1 ? s.at(n / 2) : (s.at(n / 2 - 1) + s.at(n / 2)) / 2;
}

double Figure::min() const {
    return samples.isEmpty() ? 0 : *std::min_element(samples.begin(), samples.end());
}

double Figure::max() const {
    return samples.isEmpty() ? 0 : *std::max_element(samples.begin(), samples.end());
}

void report(const Figure& f) {
    const QString verdict = !f.pass ? QStringLiteral("-") : (*f.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    std::printf("%-52s median %10s  min %10s  max %10s  %-10s (%d runs)%s%s\n", qPrintable(f.name),
                qPrintable(number(f.median())), qPrintable(number(f.min())), qPrintable(number(f.max())),
                qPrintable(f.unit), int(f.samples.size()),
                f.target.isEmpty() ? "" : qPrintable(QStringLiteral("  target %1: %2").arg(f.target, verdict)), "");
    std::printf("RESULT\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", qPrintable(f.name), qPrintable(number(f.median())),
                qPrintable(number(f.min())), qPrintable(number(f.max())), qPrintable(f.unit),
                qPrintable(f.target.isEmpty() ? QStringLiteral("-") : f.target), qPrintable(verdict));
    std::fflush(stdout);
}

void note(const QString& text) {
    std::printf("  %s\n", qPrintable(text));
    std::fflush(stdout);
}

int intOption(const QStringList& arguments, const QString& name, int fallback) {
    const qsizetype at = arguments.indexOf(name);
    if (at < 0 || at + 1 >= arguments.size()) {
        return fallback;
    }
    bool ok = false;
    const int value = arguments.at(at + 1).toInt(&ok);
    return ok ? value : fallback;
}

std::optional<qint64> rssKb(pid_t pid) {
    return fieldKb(readProcFile(pid, "status"), "VmRSS:");
}

std::optional<qint64> pssKb(pid_t pid) {
    return fieldKb(readProcFile(pid, "smaps_rollup"), "Pss:");
}

std::optional<qint64> privateKb(pid_t pid) {
    return fieldKb(readProcFile(pid, "status"), "RssAnon:");
}

std::optional<double> cpuSeconds(pid_t pid) {
    const QList<QByteArray> f = statFields(pid);
    // utime and stime are fields 14 and 15 of the whole line, i.e. [11] and [12] after the name.
    if (f.size() < 13) {
        return std::nullopt;
    }
    const double ticks = double(f.at(11).toLongLong() + f.at(12).toLongLong());
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

QList<pid_t> descendants(pid_t pid) {
    if (pid <= 0) {
        return {}; // no process (never started): 0 would be the parent of everything
    }
    QHash<pid_t, QList<pid_t>> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool ok = false;
        const pid_t p = pid_t(entry.toInt(&ok));
        if (!ok) {
            continue;
        }
        const QList<QByteArray> f = statFields(p);
        if (f.size() > 1) {
            children[pid_t(f.at(1).toInt())] << p;
        }
    }
    QList<pid_t> out;
    QList<pid_t> todo{pid};
    while (!todo.isEmpty()) {
        const pid_t p = todo.takeFirst();
        for (pid_t c : children.value(p)) {
            out << c;
            todo << c;
        }
    }
    return out;
}

qint64 treeRssKb(pid_t pid) {
    qint64 sum = rssKb(pid).value_or(0);
    for (pid_t p : descendants(pid)) {
        sum += rssKb(p).value_or(0);
    }
    return sum;
}

qint64 treePssKb(pid_t pid) {
    qint64 sum = pssKb(pid).value_or(0);
    for (pid_t p : descendants(pid)) {
        sum += pssKb(p).value_or(0);
    }
    return sum;
}

double treeCpuSeconds(pid_t pid) {
    double sum = cpuSeconds(pid).value_or(0);
    for (pid_t p : descendants(pid)) {
        sum += cpuSeconds(p).value_or(0);
    }
    return sum;
}

bool waitUntilQuiet(pid_t pid, double maxShare, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const double before = treeCpuSeconds(pid);
        const double t0 = monotonicSeconds();
        QTest::qWait(1000);
        const double used = treeCpuSeconds(pid) - before;
        if (used / (monotonicSeconds() - t0) < maxShare) {
            return true;
        }
    }
    return false;
}

double monotonicSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace bench
