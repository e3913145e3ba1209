// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SpeechHarness.h"
#include "StationHarness.h"

#include <QDir>
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
        QString found;
        (void)QTest::qWaitFor(
            [&] {
                return xdotool(QProcess::splitCommand(QStringLiteral("search --onlyvisible --name")) << titlePattern,
                               &found);
            },
            timeoutMs);
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

class ParlevoxProcess {
public:
    explicit ParlevoxProcess(const QProcessEnvironment& environment) {
        dieWithParent(process_);
        process_.setProcessEnvironment(environment);
        process_.setStandardOutputFile(QProcess::nullDevice());
    }
    ~ParlevoxProcess() { stop(); }

    // With the session bus of env, the screen and the speech server; settings, lock, cache and home in home: nothing
    // of the user's is read or written.
    static QProcessEnvironment environment(QProcessEnvironment env, const QString& display,
                                           const QString& speechAddress, const QString& home) {
        QDir(home).mkdir(QStringLiteral("run"),
                         QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.remove(QStringLiteral("LC_ALL"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return withVariables(env,
                             QStringLiteral("DISPLAY=%1 QT_QPA_PLATFORM=xcb SPEECHD_ADDRESS=%2 HOME=%3 LANG=C.UTF-8 "
                                            "XDG_CONFIG_HOME=%3/config XDG_RUNTIME_DIR=%3/run XDG_CACHE_HOME=%3 "
                                            "XDG_DATA_HOME=%3")
                                 .arg(display, speechAddress, home));
    }

    bool start(QString* error) {
        process_.start(QStringLiteral(PARLEVOX_PATH), {});
        *error = QStringLiteral("cannot start parlevox: ") + process_.errorString();
        return process_.waitForStarted(10000);
    }
    bool waitForExit(int timeoutMs) {
        return QTest::qWaitFor([&] { return !isRunning(); }, timeoutMs);
    }
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    int exitCode() const { return process_.exitCode(); }
    QString errors() { return stderr_ += QString::fromUtf8(process_.readAllStandardError()); }
    void stop() { stopProcess(process_); }

private:
    QProcess process_;
    QString stderr_;
};

// Parlevox's world with a home of its own; the test starts the stand-in station and the program in it.
struct ParlevoxWorld {
    explicit ParlevoxWorld(double secondsPerText = 0.3) : speech(secondsPerText) {}

    // Empty on success, otherwise why not. The bus starts what serviceDir names, with busEnvironment.
    QString start(const QString& serviceDir = {}, const QProcessEnvironment& busEnvironment = {}) {
        QString error;
        const bool started = bus.start(&error, 10000, serviceDir, busEnvironment) && screen.start(&error) &&
                             (error = speech.start()).isEmpty();
        return started && !speech.forbidAutoSpawn(home.filePath(QStringLiteral("config"))) ? home.path() : error;
    }
    QProcessEnvironment environment() const {
        return ParlevoxProcess::environment(bus.environment(), screen.display(), speech.address(), home.path());
    }
    bool startSim(const QStringList& arguments, QString* error) {
        sim = std::make_unique<StationProcess>(bus);
        return sim->start(arguments, error);
    }
    bool startApp(QString* error) {
        app = std::make_unique<ParlevoxProcess>(environment());
        window = app->start(error) ? screen.findWindow(QStringLiteral("^Parlevox    "), 60000) : QString();
        *error += QStringLiteral("; no main window: ") + app->errors();
        return !window.isEmpty();
    }
    // At the middle of a control placed in twips (src/app/MainLayout.cpp).
    bool click(int left, int top, int width, int height) const {
        return screen.click(window, {(left + width / 2) / 15, (top + height / 2) / 15});
    }
    bool waitForSpoken(const QString& text, int timeoutMs = 30000) const {
        return QTest::qWaitFor([&] { return speech.spoken().contains(text); }, timeoutMs);
    }

    PrivateBus bus;
    VirtualScreen screen;
    PrivateSpeechServer speech;
    QTemporaryDir home;
    std::unique_ptr<StationProcess> sim;
    std::unique_ptr<ParlevoxProcess> app;
    QString window;
};

} // namespace e2e
