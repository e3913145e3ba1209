// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small helpers shared by the end-to-end harnesses: children that die with the test, and text files.

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>

namespace e2e {

// The child gets SIGKILL when the test process dies, so a crashed test leaves nothing behind.
inline void dieWithParent(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

inline void stopProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGCONT); // a stopped child cannot take SIGTERM
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

// The lines of a text file, without the empty one after the last line end; none when it cannot be read.
inline QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

inline bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

inline bool waitForFile(const QString& path, int timeoutMs) {
    return QTest::qWaitFor([&] { return QFile::exists(path); }, timeoutMs);
}

} // namespace e2e
