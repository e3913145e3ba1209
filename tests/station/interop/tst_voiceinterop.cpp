// SPDX-License-Identifier: GPL-3.0-or-later
// Voice between parlevox-station and existing EchoLink programs, all in this test's private network namespace:
//   fake directory 127.0.0.10:5200     svxlink node Q1AAA-L 127.0.0.2, its transmitter audio to UDP 127.0.0.20:5700
//   elpeers (libecholib) Q1BBB .3, Q1CCC .4     our station Q1OUR 127.0.0.8 on a private bus and PulseAudio,
//   speaker: null sink "Speaker" (48 kHz stereo, recorded from its monitor); microphone: null sink "mic".
// The cases run in order: who is connected to whom builds up from one to the next.
#include "InteropRig.h"
#include "StationHarness.h"
#include "VoiceRig.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QNetworkDatagram>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <map>
#include <memory>

using interop::Child;

namespace {
const QString Service = QStringLiteral("org.parlevox.EchoLink");
const QString ObjectPath = QStringLiteral("/org/parlevox/EchoLink");
const QString OurIp = QStringLiteral("127.0.0.8");
const QString Speaker = QStringLiteral("Speaker");
constexpr int Keepers = 2; // PulseAudio's streams while the station plays nothing

// "peak_hz=1000 ... purity=0.93" of an elpeer's RXAUDIO line.
double field(const QString& line, const QString& name) {
    const QRegularExpression re(QStringLiteral("\\b%1=([-0-9.e]+)").arg(name));
    return re.match(line).captured(1).toDouble();
}
} // namespace

class VoiceInteropTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    voicerig::PrivatePulse pulse_{dir_.path()};
    e2e::PrivateBus bus_;
    QDBusConnection connection_{QString()};
    interop::BusRecorder signals_;
    std::unique_ptr<Child> directory_, node_, station_;
    std::map<QString, std::unique_ptr<Child>> peers_;
    voicerig::Recorder speaker_; // from the start: a new recording delays the sink's sound for a while
    QUdpSocket nodeTx_;          // svxlink's transmitter: raw 16 kHz mono PCM datagrams
    QByteArray nodeAudio_;
    bool failed_ = false;

    Child& peer(const QString& key) { return *peers_.at(key); }
    std::unique_ptr<Child> child(const QString& name) {
        return std::make_unique<Child>(name, dir_.filePath(name + QStringLiteral(".log")));
    }
    QString evidence(const QStringList& keys = {}) const {
        QString text = QStringLiteral("\n");
        for (const auto* c : {station_.get(), directory_.get(), node_.get()}) {
            if (c) {
                text += c->tail();
            }
        }
        for (const QString& key : keys) {
            text += peers_.at(key)->tail();
        }
        return text + QStringLiteral("--- pulseaudio:\n") + pulse_.logTail(6) + QLatin1Char('\n') + signals_.dump();
    }
    QDBusMessage call(const QString& method, const QVariantList& args = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(Service, ObjectPath, Service, method);
        message.setArguments(args);
        return connection_.call(message, QDBus::Block, 8000);
    }
    bool callOk(const QString& method, const QVariantList& args = {}) {
        return call(method, args).type() == QDBusMessage::ReplyMessage;
    }
    bool isReceiving() { return call(QStringLiteral("IsReceiving")).arguments().value(0).toBool(); }

    static QStringList missingTools() {
        QStringList missing;
        if (QStringLiteral(ELPEER_PATH).isEmpty()) {
            missing << QStringLiteral("elpeer (libecholib, Async or sigc++ headers: " INTEROP_MISSING ")");
        }
        for (const char* tool : {"svxlink", "python3", "pulseaudio", "pactl", "parec", "paplay", "pacat"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
                missing << QLatin1String(tool);
            }
        }
        return missing;
    }

    bool writeConfigs(QString* error) {
        const QByteArray tmp = dir_.path().toUtf8();
        const QByteArray svxlink = "[GLOBAL]\nLOGICS=SimplexLogic\nCFG_DIR=svxlink.d\nTIMESTAMP_FORMAT=\"%H:%M:%S\"\n"
                                   "CARD_SAMPLE_RATE=16000\nCARD_CHANNELS=1\n\n"
                                   "[SimplexLogic]\nTYPE=Simplex\nRX=Rx1\nTX=Tx1\nMODULES=ModuleEchoLink\n"
                                   "CALLSIGN=Q1AAA\nSHORT_IDENT_INTERVAL=0\nLONG_IDENT_INTERVAL=0\n"
                                   "EVENT_HANDLER=/usr/share/svxlink/events.tcl\nDEFAULT_LANG=en_US\n"
                                   "RGR_SOUND_DELAY=0\nMACROS=Macros\nFX_GAIN_NORMAL=0\nFX_GAIN_LOW=-12\n\n[Macros]\n\n"
                                   "[Rx1]\nTYPE=Local\nAUDIO_DEV=udp:127.0.0.2:5710\nAUDIO_CHANNEL=0\nSQL_DET=PTY\n"
                                   "PTY_PATH=" +
                                   tmp +
                                   "/rx_sql\nSQL_START_DELAY=0\nSQL_DELAY=0\nSQL_HANGTIME=0\nDTMF_DEC_TYPE=NONE\n\n"
                                   "[Tx1]\nTYPE=Local\nAUDIO_DEV=udp:127.0.0.20:5700\nAUDIO_CHANNEL=0\nPTT_TYPE=NONE\n"
                                   "TIMEOUT=300\nTX_DELAY=0\n";
        const QByteArray module = "[ModuleEchoLink]\nNAME=EchoLink\nID=2\nTIMEOUT=60\nSERVERS=127.0.0.10\n"
                                  "CALLSIGN=Q1AAA-L\nPASSWORD=nodepass\nSYSOPNAME=Alice\nLOCATION=[Svx] voice node\n"
                                  "BIND_ADDR=127.0.0.2\nMAX_QSOS=10\nMAX_CONNECTIONS=11\nLINK_IDLE_TIMEOUT=300\n"
                                  "DESCRIPTION=\"Q1AAA-L svxlink voice node\\n\"\n";
        const QByteArray station = "[STATION]\nCALLSIGN=Q1OUR\nPASSWORD=ourpass\nNAME=Olivia\nLOCATION=Parlevox voice\n"
                                   "INFO=Parlevox voice station\nDIRECTORY=127.0.0.10\nBIND=127.0.0.8\n"
                                   "MAXCONNECTIONS=8\nACCEPT=directory\nAUDIOOUT=Speaker\n";
        const QString stationFile = dir_.filePath(QStringLiteral("station.ini"));
        if (!QDir(dir_.path()).mkpath(QStringLiteral("svxlink.d")) ||
            !e2e::writeFile(dir_.filePath(QStringLiteral("svxlink.conf")), svxlink) ||
            !e2e::writeFile(dir_.filePath(QStringLiteral("svxlink.d/ModuleEchoLink.conf")), module) ||
            !e2e::writeFile(stationFile, station) ||
            !QFile::setPermissions(stationFile, QFile::ReadOwner | QFile::WriteOwner)) {
            *error = QStringLiteral("cannot write the configuration files in ") + dir_.path();
            return false;
        }
        return true;
    }

    bool startPeer(const QString& key, const QString& call, const QString& ip, QString* error) {
        auto c = child(QStringLiteral("elpeer-") + key);
        if (!c->start(QStringLiteral(ELPEER_PATH),
                      {QStringLiteral("--call"), call, QStringLiteral("--name"), call, QStringLiteral("--bind"), ip,
                       QStringLiteral("--dir"), QStringLiteral("127.0.0.10"), QStringLiteral("--pass"),
                       QStringLiteral("pw")},
                      error) ||
            c->waitFor(QStringLiteral("READY"), 5000) < 0) {
            *error += QStringLiteral("elpeer did not start") + c->tail();
            return false;
        }
        c->send(QStringLiteral("login"));
        peers_[key] = std::move(c);
        return true;
    }

    // Directory and peers, then our station (logged in before svxlink reads its list, so the node takes our
    // call at once), then svxlink. PulseAudio's sinks settle meanwhile.
    bool startRig(QString* error) {
        directory_ = child(QStringLiteral("fakedir"));
        if (!directory_->start(
                QStandardPaths::findExecutable(QStringLiteral("python3")),
                {QStringLiteral(INTEROP_DIR "/fakedir.py"), QStringLiteral("--bind"), QStringLiteral("127.0.0.10")},
                error) ||
            directory_->waitFor(QStringLiteral("LISTENING on 127.0.0.10:5200"), 5000) < 0) {
            *error += directory_->tail();
            return false;
        }
        if (!startPeer(QStringLiteral("b"), QStringLiteral("Q1BBB"), QStringLiteral("127.0.0.3"), error) ||
            !startPeer(QStringLiteral("c"), QStringLiteral("Q1CCC"), QStringLiteral("127.0.0.4"), error)) {
            return false;
        }
        for (const QString& key : {QStringLiteral("b"), QStringLiteral("c")}) {
            if (peer(key).waitFor(QStringLiteral("DIR status=ON"), 5000) < 0) {
                *error += QStringLiteral("an elpeer could not log in") + evidence({key});
                return false;
            }
        }
        if (!bus_.start(error)) {
            return false;
        }
        connection_ = bus_.connect();
        if (!signals_.listen(connection_, ObjectPath, Service) ||
            !signals_.listenReceiving(connection_, ObjectPath, Service)) {
            *error += QStringLiteral("cannot listen to the station's signals");
            return false;
        }
        station_ = child(QStringLiteral("parlevox-station"));
        QProcessEnvironment env = bus_.environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path()); // never the user's own settings
        pulse_.addTo(env);
        station_->process().setProcessEnvironment(env);
        if (!station_->start(QStringLiteral(STATION_PATH),
                             {QStringLiteral("--config"), dir_.filePath(QStringLiteral("station.ini"))}, error) ||
            directory_->waitFor(QStringLiteral("LOGIN from 127\\.0\\.0\\.8 .*-> ON"), 10000) < 0) {
            *error += QStringLiteral("the station did not log in") + evidence();
            return false;
        }
        node_ = child(QStringLiteral("svxlink"));
        node_->process().setWorkingDirectory(dir_.path());
        if (!node_->start(QStringLiteral("svxlink"),
                          {QStringLiteral("--config=") + dir_.filePath(QStringLiteral("svxlink.conf"))}, error) ||
            node_->waitFor(QStringLiteral("directory status changed to ON"), 15000) < 0 ||
            directory_->waitFor(QStringLiteral("LIST from 127\\.0\\.0\\.2 "), 5000) < 0) {
            *error += QStringLiteral("svxlink did not come up") + evidence();
            return false;
        }
        return true;
    }

    // Who called and is called: Q1BBB calls us, we call the node (which greets us with a moment of sound).
    bool connectAll(QString* error) {
        peer(QStringLiteral("b")).send(QStringLiteral("connect ") + OurIp);
        if (!callOk(QStringLiteral("Connect"), {QStringLiteral("Q1AAA-L"), -1}) ||
            signals_.waitFor(QStringLiteral("Connected Q1BBB|"), 10000) < 0 ||
            signals_.waitFor(QStringLiteral("Connected Q1AAA-L|"), 15000) < 0) {
            *error += QStringLiteral("the calls did not connect") + evidence({QStringLiteral("b")});
            return false;
        }
        // The node sends its greeting faster than it plays: once it has played out, the station's output closes.
        if (signals_.waitFor(QStringLiteral("ReceivingChanged true Q1AAA-L"), 3000) >= 0 &&
            (signals_.waitFor(QStringLiteral("ReceivingChanged false Q1AAA-L"), 5000) < 0 ||
             !QTest::qWaitFor([&] { return pulse_.streams() == Keepers; }, 5000))) {
            *error += QStringLiteral("the node's greeting never ended") + evidence();
            return false;
        }
        return true;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(onlyLoopback(), "not in a private network namespace: run through tests/station/netns.sh");
        const QStringList missing = missingTools();
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("the voice rig is incomplete, missing: %1. Install it "
                                                              "with scripts/install-deps.sh --test")
                                                   .arg(missing.join(QStringLiteral(", ")))));
        QVERIFY(dir_.isValid());
        QString error;
        EXPECT(writeConfigs(&error), error);
        EXPECT(pulse_.start({{Speaker, 48000, 2}, {QStringLiteral("mic"), 8000, 1}}, &error), error);
        QVERIFY(speaker_.start(pulse_, Speaker, 8000));
        QVERIFY(nodeTx_.bind(QHostAddress(QStringLiteral("127.0.0.20")), 5700));
        connect(&nodeTx_, &QUdpSocket::readyRead, this, [this] {
            while (nodeTx_.hasPendingDatagrams()) {
                nodeAudio_ += nodeTx_.receiveDatagram().data();
            }
        });
        EXPECT(startRig(&error), error);
        EXPECT(connectAll(&error), error);
    }

    void cleanup() { failed_ = failed_ || QTest::currentTestFailed(); }

    void cleanupTestCase() {
        station_.reset();
        peers_.clear();
        node_.reset();
        directory_.reset();
        bus_.stop();
        speaker_.stop();
        pulse_.stop();
        if (failed_) {
            dir_.setAutoRemove(false);
            qInfo("logs of every program kept in %s", qPrintable(dir_.path()));
        }
    }

    void peerTone_isPlayedAtItsPitchAndLength_whileReceivingIsSaid() {
        const qsizetype from = signals_.events().size();
        const qsizetype played = speaker_.samples().size();
        peer(QStringLiteral("b")).send(QStringLiteral("tone 1000 2"));
        EXPECT(signals_.waitFor(QStringLiteral("ReceivingChanged true Q1BBB"), 3000, from) >= 0, evidence());
        QVERIFY(isReceiving());
        EXPECT(signals_.waitFor(QStringLiteral("ReceivingChanged false Q1BBB"), 5000, from) >= 0, evidence());
        QVERIFY(!isReceiving());
        QCOMPARE(signals_.events().mid(from), (QStringList{QStringLiteral("ReceivingChanged true Q1BBB"),
                                                           QStringLiteral("ReceivingChanged false Q1BBB")}));
        QTest::qWait(500); // the jitter buffer plays out what it holds
        const voicerig::Heard heard = voicerig::hear(speaker_.samples().subspan(size_t(played)), 8000);
        EXPECT(std::abs(heard.hz - 1000) <= 20 && std::abs(heard.seconds - 2) <= 0.3,
               QStringLiteral("played: ") + heard.text() + evidence({QStringLiteral("b")}));
    }

    // One transmission from the microphone, heard by a peer connected to us and by the node, which puts it
    // on its transmitter.
    void micTone_whileTransmitting_reachesPeerAndNodeTransmitter() {
        const QString file = dir_.filePath(QStringLiteral("tone.wav"));
        QVERIFY(e2e::writeFile(file, voicerig::wav(voicerig::tone(700, 8000, 16000))));
        const qsizetype heardBefore = peer(QStringLiteral("b")).size();
        nodeAudio_.clear();
        QVERIFY(callOk(QStringLiteral("SetTransmit"), {true}));
        QTest::qWait(200);
        QProcess paplay;
        paplay.setProcessEnvironment(pulse_.processEnvironment());
        paplay.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("mic"), file});
        QVERIFY(QTest::qWaitFor([&] { return paplay.state() == QProcess::NotRunning; }, 8000));
        QCOMPARE(paplay.exitCode(), 0);
        QTest::qWait(300);
        QVERIFY(callOk(QStringLiteral("SetTransmit"), {false}));

        const qsizetype at =
            peer(QStringLiteral("b")).waitFor(QStringLiteral("RXAUDIO stop from=127\\.0\\.0\\.8 "), 5000, heardBefore);
        EXPECT(at >= 0, evidence({QStringLiteral("b")}));
        const QString line = peer(QStringLiteral("b")).line(at);
        EXPECT(std::abs(field(line, QStringLiteral("peak_hz")) - 700) <= 20 &&
                   field(line, QStringLiteral("purity")) > 0.5,
               line);
        QTest::qWait(500); // the node's transmitter lags behind the peer a little
        const std::span<const qint16> pcm(reinterpret_cast<const qint16*>(nodeAudio_.constData()),
                                          size_t(nodeAudio_.size() / 2));
        const voicerig::Heard node = voicerig::hear(pcm, 16000);
        EXPECT(std::abs(node.hz - 700) <= 20 && node.purity > 0.5 && node.seconds > 1.5,
               QStringLiteral("svxlink transmitted %1 s: %2").arg(double(pcm.size()) / 16000).arg(node.text()) +
                   evidence());
    }

    void conference_toneFromOnePeer_reachesTheOtherOnly() {
        peer(QStringLiteral("c")).send(QStringLiteral("connect ") + OurIp);
        EXPECT(signals_.waitFor(QStringLiteral("Connected Q1CCC|"), 10000) >= 0, evidence({QStringLiteral("c")}));
        EXPECT(peer(QStringLiteral("c")).waitFor(QStringLiteral("STATE CONNECTED peer=127\\.0\\.0\\.8"), 5000) >= 0,
               evidence({QStringLiteral("c")}));
        const qsizetype heardByTalker = peer(QStringLiteral("b")).size();
        const qsizetype heardByOther = peer(QStringLiteral("c")).size();
        peer(QStringLiteral("b")).send(QStringLiteral("tone 1300 2"));
        const qsizetype at =
            peer(QStringLiteral("c")).waitFor(QStringLiteral("RXAUDIO stop from=127\\.0\\.0\\.8 "), 6000, heardByOther);
        EXPECT(at >= 0, evidence({QStringLiteral("b"), QStringLiteral("c")}));
        const QString line = peer(QStringLiteral("c")).line(at);
        EXPECT(std::abs(field(line, QStringLiteral("peak_hz")) - 1300) <= 20 &&
                   field(line, QStringLiteral("secs")) > 1.5,
               line);
        EXPECT(peer(QStringLiteral("b")).find(QStringLiteral("RXAUDIO start"), heardByTalker) < 0,
               QStringLiteral("the talker heard itself") + evidence({QStringLiteral("b")}));
    }

private:
    static bool onlyLoopback() {
        const QStringList lines = e2e::fileLines(QStringLiteral("/proc/self/net/dev")).mid(2);
        return lines.size() == 1 && lines.first().trimmed().startsWith(QLatin1String("lo:"));
    }
};

QTEST_GUILESS_MAIN(VoiceInteropTest)
#include "tst_voiceinterop.moc"
