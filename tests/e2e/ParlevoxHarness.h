// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The real parlevox on a virtual screen of its own, driven as a user drives it: windows found by title, keys and
// clicks by xdotool, text read back through the clipboard with xclip.

#include "ProcessTools.h"

#include <QDir>
#include <QPoint>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <optional>

#ifndef PARLEVOX_PATH
#error "PARLEVOX_PATH must name the parlevox binary"
#endif

namespace e2e {

// An Xvfb of its own on the first free display number.
class VirtualScreen {
public:
    VirtualScreen() = default;
    VirtualScreen(const VirtualScreen&) = delete;
    VirtualScreen& operator=(const VirtualScreen&) = delete;
    ~VirtualScreen() { stopProcess(server_); }

    bool start(QString* error, int timeoutMs = 20000) {
        for (const char* tool : {"Xvfb", "xdotool", "xclip"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                *error = QStringLiteral("%1 is not installed (scripts/install-deps.sh)").arg(QLatin1String(tool));
                return false;
            }
        }
        dieWithParent(server_);
        server_.setProcessChannelMode(QProcess::SeparateChannels);
        // Xvfb picks the display number and writes it to the given descriptor, here its stdout.
        server_.start(QStringLiteral("Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-noreset"),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        const bool answered = QTest::qWaitFor(
            [&] { return server_.canReadLine() || server_.state() == QProcess::NotRunning; }, timeoutMs);
        const QString number = QString::fromUtf8(server_.readLine()).trimmed();
        if (!answered || number.isEmpty()) {
            *error = QStringLiteral("Xvfb did not start: %1").arg(QString::fromUtf8(server_.readAllStandardError()));
            return false;
        }
        display_ = QLatin1Char(':') + number;
        return true;
    }

    QString display() const { return display_; }

    // Runs a tool against this screen; its output, or nothing when it failed or did not end in time.
    std::optional<QString> run(const QString& tool, const QStringList& arguments, int timeoutMs = 10000) const {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        process.setProcessEnvironment(env);
        process.start(tool, arguments);
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            return std::nullopt;
        }
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            return std::nullopt;
        }
        return QString::fromUtf8(process.readAllStandardOutput());
    }
    bool xdotool(const QStringList& arguments) const { return run(QStringLiteral("xdotool"), arguments).has_value(); }
    QStringList visibleWindows(const QString& titlePattern) const {
        return run(QStringLiteral("xdotool"),
                   {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), titlePattern})
            .value_or(QString())
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The first visible window whose title matches the pattern (an extended regular expression), or an empty
    // string when none shows up in time.
    QString findWindow(const QString& titlePattern, int timeoutMs = 30000) const {
        QStringList found;
        (void)QTest::qWaitFor([&] { return !(found = visibleWindows(titlePattern)).isEmpty(); }, timeoutMs);
        return found.value(0);
    }
    bool isShown(const QString& window) const { return visibleWindows(QStringLiteral(".")).contains(window); }
    QString title(const QString& window) const {
        QString name = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), window}).value_or(QString());
        if (name.endsWith(QLatin1Char('\n'))) {
            name.chop(1); // only the line end: the title's own spaces count
        }
        return name;
    }

    // Clicks at a point inside the window (window pixels).
    bool click(const QString& window, QPoint at) const {
        return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(at.x()),
                        QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")});
    }
    // There is no window manager: the keyboard goes where the focus is put.
    bool type(const QString& window, const QString& text) const {
        return xdotool({QStringLiteral("windowfocus"), window, QStringLiteral("type"), QStringLiteral("--delay"),
                        QStringLiteral("20"), text});
    }
    bool key(const QString& window, const QString& keys) const {
        return xdotool({QStringLiteral("windowfocus"), window, QStringLiteral("key"), keys});
    }

    // The whole text of the control at the point, copied by the program itself (select all, copy) and read
    // back within timeoutMs; nothing when the program does not answer the clipboard request in time.
    std::optional<QString> copyText(const QString& window, QPoint at, int timeoutMs = 5000) const {
        if (!click(window, at) || !key(window, QStringLiteral("ctrl+a")) || !key(window, QStringLiteral("ctrl+c"))) {
            return std::nullopt;
        }
        return run(QStringLiteral("xclip"),
                   {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")}, timeoutMs);
    }

private:
    QProcess server_;
    QString display_;
};

// One parlevox process. Its environment decides everything it reaches: bus, screen, speech, files.
class ParlevoxProcess {
public:
    explicit ParlevoxProcess(QProcessEnvironment environment) {
        dieWithParent(process_);
        process_.setProcessEnvironment(environment);
        QObject::connect(&process_, &QProcess::readyReadStandardError,
                         [this] { stderr_ += QString::fromUtf8(process_.readAllStandardError()); });
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { process_.readAllStandardOutput(); });
    }
    ParlevoxProcess(const ParlevoxProcess&) = delete;
    ParlevoxProcess& operator=(const ParlevoxProcess&) = delete;
    ~ParlevoxProcess() { stop(); }

    // The environment for a run with the session bus of env (PrivateBus::environment()), the screen and the
    // speech server, with settings, lock, cache and home in home (its folders are made here): nothing of the
    // user's is read or written.
    static QProcessEnvironment environment(QProcessEnvironment env, const QString& display,
                                           const QString& speechAddress, const QString& home) {
        for (const char* folder : {"config", "run", "cache", "data"}) {
            QDir(home).mkpath(QString::fromLatin1(folder));
        }
        QFile::setPermissions(home + QStringLiteral("/run"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("SPEECHD_ADDRESS"), speechAddress);
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.remove(QStringLiteral("LC_ALL"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    bool start(QString* error) {
        process_.start(QStringLiteral(PARLEVOX_PATH), {});
        if (!process_.waitForStarted(10000)) {
            *error = QStringLiteral("cannot start %1: %2").arg(QStringLiteral(PARLEVOX_PATH), process_.errorString());
            return false;
        }
        return true;
    }

    bool waitForExit(int timeoutMs) {
        return QTest::qWaitFor([&] { return process_.state() == QProcess::NotRunning; }, timeoutMs);
    }
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    int exitCode() const { return process_.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    QString errors() const { return stderr_; }
    void stop() { stopProcess(process_); }

private:
    QProcess process_;
    QString stderr_;
};

} // namespace e2e
