// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// parlevox-station among existing EchoLink programs, all on 127.0.0.x of a private network namespace: the
// interop test's fake directory (127.0.0.10:5200), a svxlink node Q1AAA-L (127.0.0.2), elpeer test peers
// (127.0.0.3 ...) and our station (127.0.0.8). Used by the interop test and the station benchmarks.
// Every child writes its output to a log file in the rig's folder and dies with the process that made it.
//
//   stationrig::Rig rig(folder);                 rig.startDirectory(&error);
//   auto* b = rig.startPeer("Q1BBB", 0, &error);  b->send("connect 127.0.0.8");
//   rig.startNode(&error);                        rig.startStation(bus.environment(), &error);

#include "ProcessTools.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <deque>
#include <memory>

#if !defined(PARLEVOX_STATION_PATH) || !defined(ELPEER_PATH) || !defined(FAKEDIR_PATH) || !defined(SVXLINK_PATH)
#error "PARLEVOX_STATION_PATH, ELPEER_PATH, FAKEDIR_PATH and SVXLINK_PATH must name the rig's programs"
#endif

namespace stationrig {

inline const QString DirectoryAddress = QStringLiteral("127.0.0.10");
inline const QString NodeAddress = QStringLiteral("127.0.0.2");
inline const QString NodeCall = QStringLiteral("Q1AAA-L");
inline const QString StationAddress = QStringLiteral("127.0.0.8");
inline const QString StationCall = QStringLiteral("Q1PLX");

// Peer number i (from 0) listens on 127.0.0.3 + i.
inline QString peerAddress(int i) {
    return QStringLiteral("127.0.0.%1").arg(3 + i);
}

// Whether this process sees no network but loopback, i.e. runs in a private namespace (tests/station/netns.sh):
// nothing started here can then reach another machine, whatever address it is given.
inline bool onlyLoopback(QString* why) {
    // /proc/self/net is this process's namespace; /sys/class/net may still show the one /sys was mounted in.
    QFile file(QStringLiteral("/proc/self/net/dev"));
    QStringList devices;
    if (file.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray& line : lines.mid(2)) { // two lines of headings
            if (line.contains(':')) {
                devices << QString::fromLatin1(line.left(line.indexOf(':')).trimmed());
            }
        }
    }
    if (devices != QStringList{QStringLiteral("lo")}) {
        *why = QStringLiteral("not in a private network namespace (devices: %1); run through tests/station/netns.sh")
                   .arg(devices.join(QLatin1Char(' ')));
        return false;
    }
    return true;
}

// A child whose output (both channels) goes to a log file, followed by reading that file.
class LoggedProcess {
public:
    explicit LoggedProcess(QString logPath) : log_(std::move(logPath)) {
        e2e::dieWithParent(process_);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(log_, QIODevice::Truncate);
    }
    LoggedProcess(const LoggedProcess&) = delete;
    LoggedProcess& operator=(const LoggedProcess&) = delete;
    ~LoggedProcess() { stop(); }

    bool start(const QString& program, const QStringList& arguments, const QProcessEnvironment& env, QString* error) {
        process_.setProcessEnvironment(env);
        process_.start(program, arguments);
        if (!process_.waitForStarted(10000)) {
            *error = QStringLiteral("cannot start %1: %2").arg(program, process_.errorString());
            return false;
        }
        return true;
    }
    void send(const QString& line) { sendRaw(line.toUtf8() + '\n'); }
    void sendRaw(const QByteArray& bytes) {
        process_.write(bytes);
        process_.waitForBytesWritten(5000);
    }

    QStringList lines() const { return e2e::fileLines(log_); }
    int count(const QRegularExpression& pattern) const {
        int n = 0;
        for (const QString& line : lines()) {
            n += pattern.match(line).hasMatch() ? 1 : 0;
        }
        return n;
    }
    // Waits, running the event loop, until at least atLeast lines match, or until the child has ended.
    bool waitFor(const QString& pattern, int timeoutMs, int atLeast = 1) const {
        const QRegularExpression re(pattern);
        return QTest::qWaitFor([&] { return count(re) >= atLeast || !isRunning(); }, timeoutMs) && count(re) >= atLeast;
    }
    QString tail(int n = 20) const { return lines().mid(-n).join(QLatin1Char('\n')); }

    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    pid_t pid() const { return pid_t(process_.processId()); }
    QString logPath() const { return log_; }
    void stop() { e2e::stopProcess(process_); }

private:
    QString log_;
    QProcess process_;
};

// The programs of the rig, started in the order a test needs them; all stopped with the rig.
class Rig {
public:
    explicit Rig(QString folder) : folder_(std::move(folder)) {}
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    bool startDirectory(QString* error) {
        directory_ = make(QStringLiteral("directory"));
        return directory_->start(QStringLiteral("python3"),
                                 {QStringLiteral(FAKEDIR_PATH), QStringLiteral("--bind"), DirectoryAddress},
                                 QProcessEnvironment::systemEnvironment(), error) &&
               ready(*directory_, QStringLiteral("LISTENING on"), error);
    }

    // Peer number i (address peerAddress(i)), logged in to the directory before anyone fetches the list, so
    // that the callee's first look-up finds it.
    LoggedProcess* startPeer(const QString& call, int i, QString* error) {
        if (!installed(QStringLiteral(ELPEER_PATH), QStringLiteral("the elpeer test peer"), error)) {
            return nullptr;
        }
        peers_.push_back(make(QStringLiteral("peer-") + call));
        LoggedProcess& peer = *peers_.back();
        const QString address = peerAddress(i);
        if (!peer.start(QStringLiteral(ELPEER_PATH),
                        {QStringLiteral("--call"), call, QStringLiteral("--bind"), address, QStringLiteral("--dir"),
                         DirectoryAddress, QStringLiteral("--pass"), QStringLiteral("secret"), QStringLiteral("--name"),
                         QStringLiteral("Peer ") + call, QStringLiteral("--desc"), QStringLiteral("elpeer test")},
                        QProcessEnvironment::systemEnvironment(), error) ||
            !ready(peer, QStringLiteral("READY"), error)) {
            return nullptr;
        }
        peer.send(QStringLiteral("login"));
        return ready(peer, QStringLiteral("DIR status=ON"), error) ? &peer : nullptr;
    }

    // svxlink as the EchoLink node NodeCall, no radio attached, callers checked against the directory.
    bool startNode(QString* error) {
        if (!installed(QStringLiteral(SVXLINK_PATH), QStringLiteral("svxlink"), error)) {
            return false;
        }
        const QString dir = folder_ + QStringLiteral("/svxlink");
        QDir(dir).mkpath(QStringLiteral("svxlink.d"));
        const bool written =
            writeFile(dir + QStringLiteral("/svxlink.conf"), nodeConfig(dir).toUtf8()) &&
            writeFile(dir + QStringLiteral("/svxlink.d/ModuleEchoLink.conf"), echoLinkConfig().toUtf8());
        if (!written) {
            *error = QStringLiteral("cannot write the svxlink configuration in ") + dir;
            return false;
        }
        node_ = make(QStringLiteral("svxlink"));
        return node_->start(QStringLiteral(SVXLINK_PATH),
                            {QStringLiteral("--config=") + dir + QStringLiteral("/svxlink.conf")},
                            QProcessEnvironment::systemEnvironment(), error) &&
               ready(*node_, QStringLiteral("directory status changed to ON"), error, 20000);
    }

    // parlevox-station on the bus of env, logged in to the directory.
    bool startStation(const QProcessEnvironment& env, QString* error,
                      const QString& accept = QStringLiteral("directory")) {
        const QString config = folder_ + QStringLiteral("/parlevox-station.ini");
        if (!writeStationSettings(config, error, accept)) {
            return false;
        }
        const int logins = stationLogins();
        station_ = make(QStringLiteral("station"));
        if (!station_->start(QStringLiteral(PARLEVOX_STATION_PATH), {QStringLiteral("--config"), config}, env, error)) {
            return false;
        }
        if (!waitForStationLogin(logins)) {
            *error = QStringLiteral("parlevox-station did not log in. Its log:\n") + station_->tail();
            return false;
        }
        return true;
    }

    // The station's settings for this rig at path, readable by the owner only as the station demands.
    static bool writeStationSettings(const QString& path, QString* error,
                                     const QString& accept = QStringLiteral("directory")) {
        const QString text = QStringLiteral("[STATION]\nCALLSIGN=%1\nPASSWORD=secret\nNAME=Parlevox Test\n"
                                            "LOCATION=Loopback test\nINFO=parlevox-station under test\n"
                                            "DIRECTORY=%2\nBIND=%3\nMAXCONNECTIONS=4\nACCEPT=%4\n")
                                 .arg(StationCall, DirectoryAddress, StationAddress, accept);
        if (!writeFile(path, text.toUtf8()) ||
            !QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            *error = QStringLiteral("cannot write ") + path;
            return false;
        }
        return true;
    }
    // How often the station has logged in to the directory so far, and waiting for one more than that.
    int stationLogins() const { return directoryLogins(StationCall); }
    bool waitForStationLogin(int loginsBefore, int timeoutMs = 15000) const {
        return directory_->waitFor(loginPattern(StationCall), timeoutMs, loginsBefore + 1);
    }

    void stopNode() { node_.reset(); }
    void stopStation() { station_.reset(); }

    LoggedProcess& directory() { return *directory_; }
    LoggedProcess& node() { return *node_; }
    LoggedProcess& station() { return *station_; }
    std::deque<std::unique_ptr<LoggedProcess>>& peers() { return peers_; }

    // The end of every log, for a failure report.
    QString logTails(int n = 15) const {
        QString out;
        for (const QString& name : QDir(folder_).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
            out += QStringLiteral("---- %1\n%2\n")
                       .arg(name, e2e::fileLines(folder_ + QLatin1Char('/') + name).mid(-n).join(QLatin1Char('\n')));
        }
        return out;
    }

private:
    static QString loginPattern(const QString& call) {
        return QStringLiteral("LOGIN from .* call=%1 .*-> ON").arg(QRegularExpression::escape(call));
    }
    int directoryLogins(const QString& call) const {
        return directory_ ? directory_->count(QRegularExpression(loginPattern(call))) : 0;
    }

    std::unique_ptr<LoggedProcess> make(const QString& name) const {
        return std::make_unique<LoggedProcess>(folder_ + QLatin1Char('/') + name + QStringLiteral(".log"));
    }

    // The build leaves a program's path empty when what it needs is not installed.
    static bool installed(const QString& path, const QString& what, QString* error) {
        if (path.isEmpty()) {
            *error = what + QStringLiteral(" is missing: install it with scripts/install-deps.sh --test and configure "
                                           "again");
        }
        return !path.isEmpty();
    }

    static bool ready(const LoggedProcess& process, const QString& pattern, QString* error, int timeoutMs = 10000) {
        if (process.waitFor(pattern, timeoutMs)) {
            return true;
        }
        *error = QStringLiteral("no \"%1\" in %2:\n%3").arg(pattern, process.logPath(), process.tail());
        return false;
    }

    // The radio side is two UDP audio ports on loopback and a squelch PTY nobody opens: the node stays silent.
    static QString nodeConfig(const QString& dir) {
        return QStringLiteral(
                   "[GLOBAL]\nLOGICS=SimplexLogic\nCFG_DIR=svxlink.d\nTIMESTAMP_FORMAT=\"%H:%M:%S\"\n"
                   "CARD_SAMPLE_RATE=16000\nCARD_CHANNELS=1\n\n"
                   "[SimplexLogic]\nTYPE=Simplex\nRX=Rx1\nTX=Tx1\nMODULES=ModuleEchoLink\nCALLSIGN=Q1AAA\n"
                   "SHORT_IDENT_INTERVAL=0\nLONG_IDENT_INTERVAL=0\n"
                   "EVENT_HANDLER=/usr/share/svxlink/events.tcl\nDEFAULT_LANG=en_US\nRGR_SOUND_DELAY=0\n"
                   "MACROS=Macros\nFX_GAIN_NORMAL=0\nFX_GAIN_LOW=-12\n\n[Macros]\n\n"
                   "[Rx1]\nTYPE=Local\nAUDIO_DEV=udp:%1:5710\nAUDIO_CHANNEL=0\nSQL_DET=PTY\n"
                   "PTY_PATH=%2/rx_sql\nSQL_START_DELAY=0\nSQL_DELAY=0\nSQL_HANGTIME=0\nDTMF_DEC_TYPE=NONE\n\n"
                   "[Tx1]\nTYPE=Local\nAUDIO_DEV=udp:127.0.0.20:5700\nAUDIO_CHANNEL=0\nPTT_TYPE=NONE\n"
                   "TIMEOUT=300\nTX_DELAY=0\n")
            .arg(NodeAddress, dir);
    }
    static QString echoLinkConfig() {
        return QStringLiteral("[ModuleEchoLink]\nNAME=EchoLink\nID=2\nTIMEOUT=60\nSERVERS=%1\nCALLSIGN=%2\n"
                              "PASSWORD=testpass\nSYSOPNAME=Alice\nLOCATION=Loopback node\nBIND_ADDR=%3\n"
                              "MAX_QSOS=10\nMAX_CONNECTIONS=11\nLINK_IDLE_TIMEOUT=300\n"
                              "DESCRIPTION=\"%2 svxlink test node\\n\"\n")
            .arg(DirectoryAddress, NodeCall, NodeAddress);
    }

    QString folder_;
    std::unique_ptr<LoggedProcess> directory_;
    std::unique_ptr<LoggedProcess> node_;
    std::unique_ptr<LoggedProcess> station_;
    std::deque<std::unique_ptr<LoggedProcess>> peers_;
};

} // namespace stationrig
