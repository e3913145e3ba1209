// SPDX-License-Identifier: GPL-3.0-or-later
#include "ParlevoxRig.h"

#include "BenchSupport.h"

#include <QDir>
#include <QFile>
#include <csignal>

namespace bench {

ParlevoxRig::~ParlevoxRig() {
    stopParlevox();
    station_.reset();
    speech_.reset();
    bus_.reset();
    screen_.reset();
}

bool ParlevoxRig::start(const Options& options, QString* error) {
    options_ = options;
    if (!home_.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    QDir(home_.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(home_.filePath(QStringLiteral("run")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (options.screen) {
        screen_ = std::make_unique<VirtualScreen>();
        if (!screen_->start(error)) {
            return false;
        }
    }
    bus_ = std::make_unique<e2e::PrivateBus>();
    if (!bus_->start(error)) {
        return false;
    }
    speech_ = std::make_unique<e2e::PrivateSpeechServer>(options.secondsPerText);
    const QString problem = speech_->start();
    if (!problem.isEmpty()) {
        *error = QStringLiteral("no speech server: ") + problem;
        return false;
    }
    station_ = std::make_unique<e2e::StationProcess>(*bus_);
    return station_->start({QStringLiteral("--callsign"), QStringLiteral("QA1TST"), QStringLiteral("--stay")}, error);
}

QProcessEnvironment ParlevoxRig::environment() const {
    QProcessEnvironment env = bus_->environment();
    env.insert(QStringLiteral("SPEECHD_ADDRESS"), speech_->address());
    // The speech client's configuration forbids starting a server of its own; Parlevox's files go here too.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), speech_->configHome());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home_.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("HOME"), home_.path());
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("LC_ALL"));
    if (screen_) {
        env.insert(QStringLiteral("DISPLAY"), screen_->display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    } else {
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

bool ParlevoxRig::startHelper(QProcess& process, const QString& program, const QStringList& arguments, QString* error) {
    e2e::dieWithParent(process);
    process.setProcessEnvironment(environment());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        *error = QStringLiteral("cannot start %1: %2").arg(program, process.errorString());
        return false;
    }
    return true;
}

bool ParlevoxRig::startParlevox(QString* error) {
    e2e::dieWithParent(parlevox_);
    parlevox_.setProcessEnvironment(environment());
    parlevox_.setStandardOutputFile(QProcess::nullDevice());
    // A file, not a pipe: a storm of warnings must never block Parlevox on a full pipe.
    parlevox_.setStandardErrorFile(home_.filePath(QStringLiteral("parlevox.err")), QIODevice::Truncate);
    startedAt_ = monotonicSeconds();
    parlevox_.start(QStringLiteral(PARLEVOX_PATH), {});
    if (!parlevox_.waitForStarted(10000)) {
        *error = QStringLiteral("cannot start parlevox: %1").arg(parlevox_.errorString());
        return false;
    }
    return true;
}

pid_t ParlevoxRig::parlevoxPid() const {
    return pid_t(parlevox_.processId());
}

void ParlevoxRig::stopParlevox() {
    if (parlevox_.state() == QProcess::NotRunning) {
        return;
    }
    const QList<pid_t> children = descendants(parlevoxPid());
    e2e::stopProcess(parlevox_);
    // The web engine's helpers normally follow their parent; any that linger are ours to end.
    for (pid_t child : children) {
        ::kill(child, SIGKILL);
    }
}

QStringList ParlevoxRig::parlevoxErrors() const {
    QFile file(home_.filePath(QStringLiteral("parlevox.err")));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool ParlevoxRig::waitForClient(int timeoutMs) {
    return station_->waitForLine(QStringLiteral("> OwnCallsign"), timeoutMs);
}

std::optional<QString> ParlevoxRig::command(const QString& line, const QString& donePrefix, int timeoutMs) {
    station_->send(line);
    QString found;
    if (!station_->waitForLineStartingWith(donePrefix, timeoutMs, &found)) {
        return std::nullopt;
    }
    return found;
}

} // namespace bench
