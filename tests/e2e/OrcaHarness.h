// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Orca, the screen reader, for end-to-end tests: a window manager (openbox) on the test's screen, the
// accessibility bus (at-spi-bus-launcher) on the test's session bus, and Orca itself with its settings, home and
// folders in a temporary directory, speaking to the test's private speech server. Applications started on the
// same screen and session bus afterwards are seen by Orca as they would be on a desktop (Qt switches its
// accessibility on when Orca says a screen reader runs).
//
//   e2e::PrivateBus bus;  e2e::VirtualScreen screen;  e2e::PrivateSpeechServer speech(0.05);  (started)
//   e2e::OrcaScreenReader orca(speech);
//   const QString problem = orca.start(bus.environment(), screen.display());   // empty when Orca is on
//   orca.mark();  ...press a key...  orca.waitForSaid(QRegularExpression(QStringLiteral("^Send push button")));
//   orca.said()                      // every text begun since the mark
//
// What Orca says is what it began to say (the speech server's started texts): Orca cuts itself off at each
// new focus, so a text it began may never be finished. Texts of other programs on the same speech server are
// among them too.

#include "ProcessTools.h"
#include "SpeechHarness.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>

namespace e2e {

class OrcaScreenReader {
public:
    // With KEEP_ORCA_LOGS set, the temporary directory (Orca's debug log, settings) stays for a look afterwards.
    explicit OrcaScreenReader(const PrivateSpeechServer& speech) : speech_(speech) {
        dir_.setAutoRemove(qEnvironmentVariableIsEmpty("KEEP_ORCA_LOGS"));
    }
    OrcaScreenReader(const OrcaScreenReader&) = delete;
    OrcaScreenReader& operator=(const OrcaScreenReader&) = delete;
    ~OrcaScreenReader() {
        // Orca first: it would complain of the bus going away.
        stopProcess(orca_);
        stopProcess(accessibilityBus_);
        stopProcess(windowManager_);
    }

    // What a machine lacks to run Orca here; empty when nothing.
    static QString missing() {
        QStringList lacking;
        for (const char* program : {"orca", "openbox"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
                lacking << QString::fromLatin1(program);
            }
        }
        if (launcherPath().isEmpty()) {
            lacking << QStringLiteral("at-spi-bus-launcher (at-spi2-core)");
        }
        return lacking.isEmpty() ? QString()
                                 : lacking.join(QStringLiteral(", ")) +
                                       QStringLiteral(" not installed (scripts/install-deps.sh --test)");
    }

    // Starts all three on the session bus of `session` and the X display, and waits until Orca says it is on.
    // Empty on success, otherwise why not.
    QString start(const QProcessEnvironment& session, const QString& display, int timeoutMs = 30000) {
        if (const QString lacking = missing(); !lacking.isEmpty()) {
            return lacking;
        }
        if (!dir_.isValid()) {
            return QStringLiteral("no temporary directory");
        }
        for (const char* folder : {"home", "config", "data", "cache", "run", "orca"}) {
            QDir(dir_.path()).mkpath(QString::fromLatin1(folder));
        }
        QFile::setPermissions(path(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = session;
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
        // No dconf: settings stay in memory, the user's are neither read nor written.
        env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        env.insert(QStringLiteral("SPEECHD_ADDRESS"), speech_.address());
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.remove(QStringLiteral("LC_ALL"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("SESSION_MANAGER"));
        env.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
        if (!speech_.forbidAutoSpawn(path(QStringLiteral("config")))) {
            return QStringLiteral("cannot write the speech client's configuration");
        }

        startLogged(windowManager_, env, QStringLiteral("openbox"), {QStringLiteral("--sm-disable")},
                    QStringLiteral("openbox.log"));
        startLogged(accessibilityBus_, env, launcherPath(), {QStringLiteral("--launch-immediately")},
                    QStringLiteral("at-spi.log"));
        if (!windowManager_.waitForStarted() || !accessibilityBus_.waitForStarted()) {
            return QStringLiteral("openbox or at-spi-bus-launcher did not start");
        }
        // Orca runs once per user on the whole machine: it looks for others with pgrep and ends when it finds
        // one (another test's, a developer's). Here it finds none, and runs under the interpreter's name, so
        // that others do not find it either.
        QDir(dir_.path()).mkpath(QStringLiteral("bin"));
        if (!writeFile(path(QStringLiteral("bin/pgrep")), "#!/bin/sh\nexit 1\n") ||
            !QFile::setPermissions(path(QStringLiteral("bin/pgrep")), QFileDevice::ReadOwner | QFileDevice::ExeOwner)) {
            return QStringLiteral("cannot write %1").arg(path(QStringLiteral("bin/pgrep")));
        }
        env.insert(QStringLiteral("PATH"),
                   path(QStringLiteral("bin")) + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        // Orca makes its default settings (speech on) in an empty folder and asks nothing on its first start.
        mark();
        const QString orca = QStandardPaths::findExecutable(QStringLiteral("orca"));
        startLogged(orca_, env, interpreterOf(orca),
                    {orca, QStringLiteral("--user-prefs"), path(QStringLiteral("orca")), QStringLiteral("--debug-file"),
                     path(QStringLiteral("orca-debug.out"))},
                    QStringLiteral("orca.log"));
        if (waitForSaid(QRegularExpression(QStringLiteral("^Screen reader on")), timeoutMs).isEmpty()) {
            return QStringLiteral("Orca did not say it is on: ") + logTail(QStringLiteral("orca.log")) +
                   QStringLiteral(" | ") + logTail(QStringLiteral("at-spi.log"));
        }
        return QString();
    }

    bool isRunning() const { return orca_.state() == QProcess::Running; }

    // From now on: said() and waitForSaid() look only at texts begun after this.
    void mark() { seen_ = speech_.started().size(); }
    QStringList said() const { return speech_.started().mid(seen_); }

    // The first text begun since mark() that matches, waiting up to timeoutMs; empty when none came.
    QString waitForSaid(const QRegularExpression& pattern, int timeoutMs = 10000) const {
        QString found;
        (void)QTest::qWaitFor(
            [&] {
                const QStringList texts = said();
                const auto match = std::find_if(texts.cbegin(), texts.cend(),
                                                [&](const QString& text) { return pattern.match(text).hasMatch(); });
                if (match != texts.cend()) {
                    found = *match;
                }
                return match != texts.cend();
            },
            timeoutMs);
        return found;
    }

    // Orca's own account of events and speech, for a failure's message.
    QString debugLog() const { return path(QStringLiteral("orca-debug.out")); }
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    static QString launcherPath() {
        for (const char* candidate : {"/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher",
                                      "/usr/lib/at-spi2/at-spi-bus-launcher"}) {
            if (QFileInfo(QString::fromLatin1(candidate)).isExecutable()) {
                return QString::fromLatin1(candidate);
            }
        }
        return QStandardPaths::findExecutable(QStringLiteral("at-spi-bus-launcher"));
    }

    // The program named in the script's first line (Debian's own Python, where pyatspi is).
    static QString interpreterOf(const QString& script) {
        QFile file(script);
        const QByteArray line = file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray();
        return line.startsWith("#!") ? QString::fromLocal8Bit(line.mid(2).trimmed().split(' ').value(0))
                                     : QStringLiteral("/usr/bin/python3");
    }

    void startLogged(QProcess& process, const QProcessEnvironment& env, const QString& program,
                     const QStringList& arguments, const QString& log) {
        dieWithParent(process);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(path(log));
        process.start(program, arguments);
    }

    QString logTail(const QString& name) const { return fileLines(path(name)).mid(-5).join(QLatin1Char(' ')); }

    const PrivateSpeechServer& speech_;
    QTemporaryDir dir_;
    QProcess windowManager_;
    QProcess accessibilityBus_;
    QProcess orca_;
    qsizetype seen_ = 0;
};

} // namespace e2e
