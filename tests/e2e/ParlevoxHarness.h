// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SpeechHarness.h"
#include "StationHarness.h"

#include <QPoint>

namespace e2e {

class VirtualScreen {
public:
    ~VirtualScreen() { stopProcess(server_); }

    bool start(QString* error, int timeoutMs = 20000) {
        dieWithParent(server_);
        server_.startCommand(QStringLiteral("Xvfb -displayfd 1 -screen 0 1024x768x24 -noreset -nolisten tcp"));
        (void)QTest::qWaitFor([&] { return server_.canReadLine() || server_.state() == QProcess::NotRunning; },
                              timeoutMs);
        display_ = QLatin1Char(':') + QString::fromUtf8(server_.readLine()).trimmed();
        *error = QStringLiteral("Xvfb did not start (scripts/install-deps.sh): ") + server_.errorString();
        return display_.size() > 1;
    }
    QString display() const { return display_; }

    bool xdotool(const QStringList& arguments, QString* output = nullptr) const {
        QProcess process;
        process.setProcessEnvironment(
            withVariables(QProcessEnvironment::systemEnvironment(), QStringLiteral("DISPLAY=") + display_));
        process.start(QStringLiteral("xdotool"), arguments);
        const bool done =
            process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (output != nullptr) {
            *output = QString::fromUtf8(process.readAllStandardOutput()).section(u'\n', 0, 0);
        }
        return done;
    }
    // The first visible window whose title matches the extended regular expression; empty when none shows in time.
    QString findWindow(const QString& titlePattern, int timeoutMs = 30000) const {
        const QStringList search = QProcess::splitCommand(QStringLiteral("search --onlyvisible --name"))
                                   << titlePattern;
        QString found;
        (void)QTest::qWaitFor([&] { return xdotool(search, &found); }, timeoutMs);
        return found;
    }
    bool click(const QString& window, QPoint at) const {
        return xdotool(QProcess::splitCommand(
            QStringLiteral("mousemove --window %1 %2 %3 click 1").arg(window).arg(at.x()).arg(at.y())));
    }
    // Into the window: text to "type", or keys to press ("key").
    bool input(const QString& window, const char* verb, const QString& text) const {
        return xdotool(
            QProcess::splitCommand(QStringLiteral("windowfocus %1 %2 --delay 20").arg(window, QLatin1String(verb)))
            << text);
    }

private:
    QProcess server_;
    QString display_;
};

class ParlevoxProcess : public Child {
public:
    explicit ParlevoxProcess(const QProcessEnvironment& environment) {
        process_.setProcessEnvironment(environment);
        process_.setStandardOutputFile(QProcess::nullDevice());
    }

    // With the session bus of env, the screen and the speech server; settings, lock and cache in home.
    static QProcessEnvironment environment(const QProcessEnvironment& env, const QString& display,
                                           const QString& speechAddress, const QString& home) {
        return withVariables(
            ownHome(env, home),
            QStringLiteral("DISPLAY=%1 QT_QPA_PLATFORM=xcb SPEECHD_ADDRESS=%2").arg(display, speechAddress));
    }

    bool start(QString* error) {
        process_.start(QStringLiteral(PARLEVOX_PATH), {});
        *error = QStringLiteral("cannot start parlevox: ") + process_.errorString();
        return process_.waitForStarted(10000);
    }
};

} // namespace e2e
