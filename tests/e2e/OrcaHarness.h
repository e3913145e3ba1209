// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Orca in a window manager on the test's screen, with the accessibility bus on the test's session bus, speaking to
// the private speech server; its settings and folders in a temporary directory. What it says is what it began to
// say: it cuts itself off at each new focus. Programs started afterwards on the same screen and bus are read by it.

#include "SpeechHarness.h"

#include <QRegularExpression>

namespace e2e {

class OrcaScreenReader {
public:
    explicit OrcaScreenReader(const PrivateSpeechServer& speech) : speech_(speech) {}
    ~OrcaScreenReader() {
        for (QProcess* process : {&orca_, &accessibilityBus_, &windowManager_}) { // Orca first: it minds the bus going
            stopProcess(*process);
        }
    }

    static QString missing() {
        const bool all = QFileInfo(QStringLiteral("/usr/bin/orca")).isExecutable() &&
                         QFileInfo(QStringLiteral("/usr/bin/openbox")).isExecutable() &&
                         QFileInfo(QStringLiteral("/usr/libexec/at-spi-bus-launcher")).isExecutable();
        return all ? QString()
                   : QStringLiteral("orca, openbox or at-spi2-core missing (scripts/install-deps.sh --test)");
    }

    QString start(QProcessEnvironment env, const QString& display, int timeoutMs = 30000) {
        // Orca runs once per user and ends when pgrep finds another; here it finds none, and runs as python3 so
        // that others do not find it either. Its settings stay in memory (no dconf).
        env.remove(QStringLiteral("SESSION_MANAGER"));
        env.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
        env = withVariables(ownHome(env, dir_.path()),
                            QStringLiteral("DISPLAY=%1 GSETTINGS_BACKEND=memory SPEECHD_ADDRESS=%2 PATH=%3/bin:%4")
                                .arg(display, speech_.address(), dir_.path(), env.value(QStringLiteral("PATH"))));
        if (!QDir(dir_.path()).mkdir(QStringLiteral("bin")) ||
            !QFile::link(QStringLiteral("/bin/false"), path(QStringLiteral("bin/pgrep")))) {
            return QStringLiteral("cannot write in ") + dir_.path();
        }
        startLogged(windowManager_, env, QStringLiteral("openbox --sm-disable"), path(QStringLiteral("log")));
        startLogged(accessibilityBus_, env, QStringLiteral("/usr/libexec/at-spi-bus-launcher --launch-immediately"),
                    path(QStringLiteral("log")));
        mark();
        startLogged(
            orca_, env,
            QStringLiteral("/usr/bin/python3 /usr/bin/orca --user-prefs %1 --debug-file %1/debug.out").arg(dir_.path()),
            path(QStringLiteral("log")));
        return heard(QStringLiteral("^Screen reader on"), timeoutMs)
                   ? QString()
                   : QStringLiteral("Orca did not say it is on: ") +
                         fileLines(path(QStringLiteral("log"))).mid(-8).join(u' ');
    }
    bool isRunning() const { return orca_.state() == QProcess::Running; }

    // said() and heard() see only texts begun after this.
    void mark() { seen_ = speech_.started().size(); }
    QStringList said() const { return speech_.started().mid(seen_); }
    bool heard(const QString& pattern, int timeoutMs = 8000) const {
        return QTest::qWaitFor([&] { return !said().filter(QRegularExpression(pattern)).isEmpty(); }, timeoutMs) ||
               (qWarning() << pattern << "not heard:" << said(), false);
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    const PrivateSpeechServer& speech_;
    QTemporaryDir dir_;
    QProcess windowManager_;
    QProcess accessibilityBus_;
    QProcess orca_;
    qsizetype seen_ = 0;
};

} // namespace e2e
