// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ParlevoxHarness.h"
#include "SpeechHarness.h"
#include "StationHarness.h"

#include <QProcess>
#include <QTemporaryDir>
#include <memory>

namespace bench {

using e2e::VirtualScreen;

// Everything Parlevox needs around it, private to the benchmark: a session bus with the stand-in station
// on it, a speech server, a configuration and runtime folder of its own and, when asked, a screen.
// Parlevox runs offscreen unless there is a screen.
class ParlevoxRig {
public:
    struct Options {
        bool screen = false;         // Xvfb and the xcb platform, else the offscreen platform
        double secondsPerText = 0.3; // how long the speech server takes for a text
    };

    ParlevoxRig() = default;
    ParlevoxRig(const ParlevoxRig&) = delete;
    ParlevoxRig& operator=(const ParlevoxRig&) = delete;
    ~ParlevoxRig();

    // Starts bus, speech server, screen and station (which logs every request, so clients can be followed).
    bool start(const Options& options, QString* error);

    e2e::StationProcess& station() { return *station_; }
    e2e::PrivateSpeechServer& speech() { return *speech_; }
    QString display() const { return screen_ ? screen_->display() : QString(); }
    // The environment for programs that take part: bus, speech, configuration, runtime folder, platform.
    QProcessEnvironment environment() const;

    // Starts a program of the benchmark (e.g. the chat answerer) in the rig's environment.
    bool startHelper(QProcess& process, const QString& program, const QStringList& arguments, QString* error);

    // Starts Parlevox; startedAt is monotonicSeconds() just before the process was created.
    bool startParlevox(QString* error);
    pid_t parlevoxPid() const;
    double parlevoxStartedAt() const { return startedAt_; }
    bool parlevoxRunning() const { return parlevox_.state() != QProcess::NotRunning; }
    // Ends Parlevox and whatever it started.
    void stopParlevox();
    // Lines Parlevox wrote to stderr since it was started.
    QStringList parlevoxErrors() const;

    // Waits until the station has logged a client's first question ("> OwnCallsign") after the lines read so far.
    bool waitForClient(int timeoutMs);
    // Sends a command to the station and waits for its log line starting with donePrefix; returns that line.
    std::optional<QString> command(const QString& line, const QString& donePrefix, int timeoutMs);

private:
    Options options_;
    QTemporaryDir home_;
    std::unique_ptr<VirtualScreen> screen_;
    std::unique_ptr<e2e::PrivateBus> bus_;
    std::unique_ptr<e2e::PrivateSpeechServer> speech_;
    std::unique_ptr<e2e::StationProcess> station_;
    QProcess parlevox_;
    double startedAt_ = 0;
};

} // namespace bench
