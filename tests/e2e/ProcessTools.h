// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Children that die with the test, and small text files.

#include <QFile>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>

namespace e2e {

inline void dieWithParent(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

inline void stopProcess(QProcess& process) {
    if (process.state() != QProcess::NotRunning) {
        ::kill(pid_t(process.processId()), SIGCONT); // a stopped child cannot take SIGTERM
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
}

inline QProcessEnvironment withVariables(QProcessEnvironment env, const QString& pairs) {
    for (const QString& pair : pairs.split(u' ', Qt::SkipEmptyParts)) {
        env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    }
    return env;
}

inline void startLogged(QProcess& process, const QProcessEnvironment& env, const QString& command, const QString& log) {
    dieWithParent(process);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(log, QIODevice::Append);
    process.startCommand(command);
}

inline QStringList fileLines(const QString& path) {
    QFile file(path);
    QStringList lines = QString::fromUtf8(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).split(u'\n');
    lines.removeLast();
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
