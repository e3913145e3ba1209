// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Children that die with the test, homes of their own, and small text files.

#include "DataRow.h"

#include <QDir>
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

// A child that dies with the test and is stopped with this object; what it wrote to stderr is kept.
class Child {
public:
    Child() { dieWithParent(process_); }
    ~Child() { stop(); }

    bool waitForExit(int timeoutMs = 5000) {
        return QTest::qWaitFor([&] { return !isRunning(); }, timeoutMs);
    }
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    int exitCode() const { return process_.exitCode(); }
    void sendSignal(int signal) { ::kill(pid_t(process_.processId()), signal); }
    QString errors() { return stderr_ += QString::fromUtf8(process_.readAllStandardError()); }
    void stop() { stopProcess(process_); }

protected:
    QProcess process_;

private:
    QString stderr_;
};

inline QProcessEnvironment withVariables(QProcessEnvironment env, const QString& pairs) {
    for (const QString& pair : pairs.split(u' ', Qt::SkipEmptyParts)) {
        env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    }
    return env;
}

// A home of its own in dir for a program started with env: settings, runtime folder (the owner's only), cache and
// data; C.UTF-8 (speech-dispatcher ends on a locale that is not installed), no Wayland; a speech client there starts
// no speech server of its own. Nothing of the user's is read or written.
inline QProcessEnvironment ownHome(QProcessEnvironment env, const QString& dir) {
    QDir(dir).mkdir(QStringLiteral("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir(dir).mkpath(QStringLiteral("config/speech-dispatcher"));
    writeFile(dir + QStringLiteral("/config/speech-dispatcher/speechd.conf"), "DisableAutoSpawn\n");
    env.remove(QStringLiteral("LC_ALL"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return withVariables(env, QStringLiteral("HOME=%1 XDG_CONFIG_HOME=%1/config XDG_RUNTIME_DIR=%1/run "
                                             "XDG_CACHE_HOME=%1 XDG_DATA_HOME=%1 LANG=C.UTF-8")
                                  .arg(dir));
}

inline void startLogged(QProcess& process, const QProcessEnvironment& env, const QString& command, const QString& log) {
    dieWithParent(process);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(log, QIODevice::Append);
    process.startCommand(command);
}

inline QStringList fileLines(const QString& path) {
    QStringList lines = QString::fromUtf8(readFile(path)).split(u'\n');
    lines.removeLast();
    return lines;
}

inline bool waitForFile(const QString& path, int timeoutMs) {
    return QTest::qWaitFor([&] { return QFile::exists(path); }, timeoutMs);
}

} // namespace e2e
