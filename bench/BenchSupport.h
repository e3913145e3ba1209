// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

// What every benchmark shares: figures with their spread, and readings of other processes from /proc.
namespace bench {

// One measured quantity over several runs. A figure with a target passes when its median meets it.
struct Figure {
    QString name;
    QString unit;
    QList<double> samples;
    QString target;           // e.g. "<= 200"; empty when the figure is for information only
    std::optional<bool> pass; // set by the benchmark when there is a target

    double median() const;
    double min() const;
    double max() const;
};

// Prints the figure for people, and as one line "RESULT<TAB>name<TAB>median<TAB>min<TAB>max<TAB>unit<TAB>target
// <TAB>PASS|FAIL|-" that scripts/bench.sh gathers into its summary table.
void report(const Figure& figure);
// Prints a note for people (what was measured, what was noticed).
void note(const QString& text);

// The value of "--name N" among the arguments, or fallback.
int intOption(const QStringList& arguments, const QString& name, int fallback);

// Readings of a running process; nullopt once it has gone.
std::optional<qint64> rssKb(pid_t pid);      // VmRSS
std::optional<qint64> pssKb(pid_t pid);      // Pss of smaps_rollup: shared pages split among users
std::optional<qint64> privateKb(pid_t pid);  // RssAnon of status: the process's own memory, no library pages
std::optional<double> cpuSeconds(pid_t pid); // user + system time so far
QList<pid_t> descendants(pid_t pid);         // children, grandchildren ...

// Sum of a reading over a process and all its descendants.
qint64 treeRssKb(pid_t pid);
qint64 treePssKb(pid_t pid);
double treeCpuSeconds(pid_t pid);

// Waits, running the event loop, until the process tree has used less than maxShare of one core over
// a whole second, or until timeoutMs. Returns whether it became quiet.
bool waitUntilQuiet(pid_t pid, double maxShare, int timeoutMs);

// Seconds since the monotonic clock's epoch, for stamps shared between readings.
double monotonicSeconds();

} // namespace bench
