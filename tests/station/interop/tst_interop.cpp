// SPDX-License-Identifier: GPL-3.0-or-later
// parlevox-station among existing EchoLink programs, all on loopback in this test's private network namespace:
//   fake directory 127.0.0.10:5200 (fakedir.py)   svxlink node Q1AAA-L 127.0.0.2, its transmitter on UDP .20:5700
//   elpeers (libecholib) Q1BBB .3, Q1CCC .4, Q1DDD .5 (a member of the node), Q1EEE .6 (never logged in),
//   Q1FFF .7 (frozen to time out), Q1GGG .9   our station Q1OUR .8 on a private bus and a private PulseAudio
//   (speaker: null sink "Speaker", recorded from its monitor; microphone: null sink "mic").
// udpwatch.py shows every datagram, for what no peer can see: that nothing at all was sent to someone.
// The cases run in order and build on each other; the frozen peer's minute passes while the others run.
#include "DataRow.h"
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
const QString Info = QStringLiteral("Parlevox interop station");
const QString Speaker = QStringLiteral("Speaker");

struct PeerSetup {
    const char *key, *call, *ip, *name;
    bool logsIn;
};
constexpr PeerSetup Peers[] = {{"b", "Q1BBB", "127.0.0.3", "Bob", true},   {"c", "Q1CCC", "127.0.0.4", "Cleo", true},
                               {"d", "Q1DDD", "127.0.0.5", "Dora", true},  {"e", "Q1EEE", "127.0.0.6", "Emil", false},
                               {"f", "Q1FFF", "127.0.0.7", "Fritz", true}, {"g", "Q1GGG", "127.0.0.9", "Gus", true}};
const PeerSetup& peerSetup(const QString& key) {
    return *std::find_if(std::begin(Peers), std::end(Peers),
                         [&](const PeerSetup& p) { return key == QLatin1String(p.key); });
}

QString re(const QString& text) {
    return QRegularExpression::escape(text);
}
// "peak_hz=1000 ... purity=0.93" of an elpeer's RXAUDIO line.
double field(const QString& line, const char* name) {
    return QRegularExpression(QStringLiteral("\\b%1=([-0-9.e]+)").arg(QLatin1String(name)))
        .match(line)
        .captured(1)
        .toDouble();
}
} // namespace

class InteropTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    voicerig::PrivatePulse pulse_{dir_.path()};
    e2e::PrivateBus bus_;
    QDBusConnection connection_{QString()};
    interop::BusRecorder signals_;
    std::unique_ptr<Child> watch_, directory_, node_, station_;
    std::map<QString, std::unique_ptr<Child>> peers_;
    voicerig::Recorder speaker_; // from the start: a new recording delays the sink's sound for a while
    QUdpSocket nodeTx_;          // svxlink's transmitter: raw 16 kHz mono PCM datagrams
    QByteArray nodeAudio_;
    QElapsedTimer frozenSince_;
    int chats_ = 0;
    bool failed_ = false;

    Child& peer(const QString& key) { return *peers_.at(key); }
    std::unique_ptr<Child> child(const QString& name) {
        return std::make_unique<Child>(name, dir_.filePath(name + QStringLiteral(".log")));
    }
    QString evidence(const QStringList& peerKeys = {}) const {
        QString text = QStringLiteral("\n");
        for (const auto* c : {station_.get(), directory_.get(), node_.get()}) {
            text += c ? c->tail() : QString();
        }
        for (const QString& key : peerKeys) {
            text += peers_.at(key)->tail();
        }
        return text + QStringLiteral("--- pulseaudio:\n") + pulse_.logTail(6) + QLatin1Char('\n') +
               signals_.dump().replace(QLatin1Char('\r'), QLatin1String("\\r"));
    }

    QDBusMessage call(const QString& method, const QVariantList& args = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(Service, ObjectPath, Service, method);
        message.setArguments(args);
        return connection_.call(message, QDBus::Block, 8000);
    }
    // Empty when the method answered, else its error.
    QString callError(const QString& method, const QVariantList& args = {}) {
        const QDBusMessage reply = call(method, args);
        return reply.type() == QDBusMessage::ReplyMessage ? QString() : reply.errorName() + u' ' + reply.errorMessage();
    }
    bool ask(const char* method, const QString& callsign = {}) {
        return call(QLatin1String(method), callsign.isEmpty() ? QVariantList{} : QVariantList{callsign})
            .arguments()
            .value(0)
            .toBool();
    }
    int connectedCount() { return call(QStringLiteral("ConnectedCount")).arguments().value(0, -1).toInt(); }

    bool writeConfigs() {
        QByteArray svxlink = "[GLOBAL]\nLOGICS=SimplexLogic\nCFG_DIR=svxlink.d\nTIMESTAMP_FORMAT=\"%H:%M:%S\"\n"
                             "CARD_SAMPLE_RATE=16000\nCARD_CHANNELS=1\n\n"
                             "[SimplexLogic]\nTYPE=Simplex\nRX=Rx1\nTX=Tx1\nMODULES=ModuleEchoLink\n"
                             "CALLSIGN=Q1AAA\nSHORT_IDENT_INTERVAL=0\nLONG_IDENT_INTERVAL=0\n"
                             "EVENT_HANDLER=/usr/share/svxlink/events.tcl\nDEFAULT_LANG=en_US\n"
                             "RGR_SOUND_DELAY=0\nMACROS=Macros\nFX_GAIN_NORMAL=0\nFX_GAIN_LOW=-12\n\n[Macros]\n\n"
                             "[Rx1]\nTYPE=Local\nAUDIO_DEV=udp:127.0.0.2:5710\nAUDIO_CHANNEL=0\nSQL_DET=PTY\n"
                             "PTY_PATH=@/rx_sql\nSQL_START_DELAY=0\nSQL_DELAY=0\nSQL_HANGTIME=0\nDTMF_DEC_TYPE=NONE\n\n"
                             "[Tx1]\nTYPE=Local\nAUDIO_DEV=udp:127.0.0.20:5700\nAUDIO_CHANNEL=0\nPTT_TYPE=NONE\n"
                             "TIMEOUT=300\nTX_DELAY=0\n";
        svxlink.replace('@', dir_.path().toUtf8());
        // No ALLOW_IP: the node checks every caller, us included, against the directory.
        const QByteArray module = "[ModuleEchoLink]\nNAME=EchoLink\nID=2\nTIMEOUT=60\nSERVERS=127.0.0.10\n"
                                  "CALLSIGN=Q1AAA-L\nPASSWORD=nodepass\nSYSOPNAME=Alice\nLOCATION=[Svx] interop node\n"
                                  "BIND_ADDR=127.0.0.2\nMAX_QSOS=10\nMAX_CONNECTIONS=11\nLINK_IDLE_TIMEOUT=300\n"
                                  "DESCRIPTION=\"Q1AAA-L svxlink interop node\\n\"\n";
        const QByteArray station =
            "[STATION]\nCALLSIGN=Q1OUR\nPASSWORD=ourpass\nNAME=Olivia\nLOCATION=Parlevox interop\n"
            "INFO=Parlevox interop station\nDIRECTORY=127.0.0.10\nBIND=127.0.0.8\n"
            "MAXCONNECTIONS=8\nACCEPT=directory\nAUDIOOUT=Speaker\n";
        const QString stationFile = dir_.filePath(QStringLiteral("station.ini"));
        return QDir(dir_.path()).mkpath(QStringLiteral("svxlink.d")) &&
               e2e::writeFile(dir_.filePath(QStringLiteral("svxlink.conf")), svxlink) &&
               e2e::writeFile(dir_.filePath(QStringLiteral("svxlink.d/ModuleEchoLink.conf")), module) &&
               e2e::writeFile(stationFile, station) &&
               QFile::setPermissions(stationFile, QFile::ReadOwner | QFile::WriteOwner);
    }

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
        if (!QFile::exists(QStringLiteral("/usr/share/svxlink/events.tcl"))) {
            missing << QStringLiteral("/usr/share/svxlink/events.tcl");
        }
        return missing;
    }

    bool startChild(std::unique_ptr<Child>& c, const QString& name, const QString& program, const QStringList& args,
                    const QString& ready, int timeoutMs, QString* error) {
        c = child(name);
        if (!c->start(program, args, error) || c->waitFor(ready, timeoutMs) < 0) {
            *error += QStringLiteral("%1 did not come up").arg(name) + c->tail() + evidence();
            return false;
        }
        return true;
    }

    // The peers log in before our station reads its first list, and our station before svxlink reads its own:
    // so each knows the others.
    bool startRig(QString* error) {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (!startChild(watch_, QStringLiteral("udpwatch"), python, {QStringLiteral(INTEROP_DIR "/udpwatch.py")},
                        QStringLiteral("^WATCHING"), 5000, error) ||
            !startChild(
                directory_, QStringLiteral("fakedir"), python,
                {QStringLiteral(INTEROP_DIR "/fakedir.py"), QStringLiteral("--bind"), QStringLiteral("127.0.0.10")},
                QStringLiteral("LISTENING on 127.0.0.10:5200"), 5000, error)) {
            return false;
        }
        for (const PeerSetup& p : Peers) {
            const QString key = QLatin1String(p.key), call = QLatin1String(p.call);
            if (!startChild(peers_[key], QStringLiteral("elpeer-") + key, QStringLiteral(ELPEER_PATH),
                            {QStringLiteral("--call"), call, QStringLiteral("--name"), QLatin1String(p.name),
                             QStringLiteral("--bind"), QLatin1String(p.ip), QStringLiteral("--dir"),
                             QStringLiteral("127.0.0.10"), QStringLiteral("--pass"), QStringLiteral("pw"),
                             QStringLiteral("--desc"), QStringLiteral("elpeer ") + key, QStringLiteral("--info"),
                             QStringLiteral("elpeer station ") + call},
                            QStringLiteral("READY"), 5000, error)) {
                return false;
            }
            if (p.logsIn) {
                peer(key).send(QStringLiteral("login"));
            }
        }
        for (const PeerSetup& p : Peers) {
            if (p.logsIn && peer(QLatin1String(p.key)).waitFor(QStringLiteral("DIR status=ON"), 5000) < 0) {
                *error += QStringLiteral("an elpeer could not log in") + evidence({QLatin1String(p.key)});
                return false;
            }
        }
        if (!bus_.start(error)) {
            return false;
        }
        connection_ = bus_.connect();
        QProcessEnvironment env = bus_.environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path()); // never the user's own settings
        pulse_.addTo(env);
        station_ = child(QStringLiteral("parlevox-station"));
        station_->process().setProcessEnvironment(env);
        if (!signals_.listen(connection_, ObjectPath, Service) ||
            !station_->start(QStringLiteral(STATION_PATH),
                             {QStringLiteral("--config"), dir_.filePath(QStringLiteral("station.ini"))}, error) ||
            directory_->waitFor(QStringLiteral("LIST from 127\\.0\\.0\\.8 "), 10000) < 0) {
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
        // Q1DDD is a member of the node, to see what the node relays between it and us.
        peer(QStringLiteral("d")).send(QStringLiteral("connect 127.0.0.2"));
        if (peer(QStringLiteral("d")).waitFor(QStringLiteral("STATE CONNECTED peer=127\\.0\\.0\\.2"), 10000) < 0) {
            *error += QStringLiteral("Q1DDD could not join the node") + evidence({QStringLiteral("d")});
            return false;
        }
        return true;
    }

    // The text of the last INFO the station sent to a peer.
    QString lastInfo(const QString& key) {
        QString info;
        for (qsizetype i = peer(key).find(QStringLiteral("INFO from=127\\.0\\.0\\.8 ")); i >= 0;
             i = peer(key).find(QStringLiteral("INFO from=127\\.0\\.0\\.8 "), i + 1)) {
            info = peer(key).line(i);
        }
        return info;
    }

private Q_SLOTS:
    void initTestCase() {
        const QStringList devices = e2e::fileLines(QStringLiteral("/proc/self/net/dev")).mid(2);
        QVERIFY2(devices.size() == 1 && devices.first().trimmed().startsWith(QLatin1String("lo:")),
                 "not in a private network namespace: run through tests/station/netns.sh");
        const QStringList missing = missingTools();
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("the interop rig is incomplete, missing: %1. Install "
                                                              "it with scripts/install-deps.sh --test")
                                                   .arg(missing.join(QStringLiteral(", ")))));
        QVERIFY(dir_.isValid() && writeConfigs());
        QString error;
        EXPECT(pulse_.start({{Speaker, 48000, 2}, {QStringLiteral("mic"), 8000, 1}}, &error), error);
        QVERIFY(speaker_.start(pulse_, Speaker, 8000));
        QVERIFY(nodeTx_.bind(QHostAddress(QStringLiteral("127.0.0.20")), 5700));
        connect(&nodeTx_, &QUdpSocket::readyRead, this, [this] {
            while (nodeTx_.hasPendingDatagrams()) {
                nodeAudio_ += nodeTx_.receiveDatagram().data();
            }
        });
        EXPECT(startRig(&error), error);
        EXPECT(QTest::qWaitFor([&] { return connection_.interface()->isServiceRegistered(Service).value(); }, 10000),
               QStringLiteral("the station never took its bus name") + evidence());
    }

    void cleanup() { failed_ = failed_ || QTest::currentTestFailed(); }

    void cleanupTestCase() {
        station_.reset();
        peers_.clear();
        node_.reset();
        directory_.reset();
        watch_.reset();
        bus_.stop();
        speaker_.stop();
        pulse_.stop();
        if (failed_) {
            dir_.setAutoRemove(false);
            qInfo("logs of every program kept in %s", qPrintable(dir_.path()));
        }
    }

    void directoryLogin_isOnlineWithDescriptionAndListIsRead() {
        EXPECT(directory_->waitFor(QStringLiteral("LOGIN from 127\\.0\\.0\\.8 call=Q1OUR password=ourpass "
                                                  "status=ONLINE\\S* desc='Parlevox interop.*' -> ON reply=OK"),
                                   5000) >= 0,
               evidence());
        EXPECT(directory_->find(QStringLiteral("LIST from 127\\.0\\.0\\.8 .*calls=(?=.*Q1FFF)(?=.*Q1BBB)")) >= 0,
               evidence());
    }

    void incomingCall_fromListedPeer_isAccepted_data() {
        QTest::addColumn<QString>("key");
        row("Q1FFF, then frozen", "f"); // first, so that its minute of silence passes while the others run
        row("Q1BBB", "b");
        row("Q1CCC", "c");
        row("Q1GGG", "g");
    }
    void incomingCall_fromListedPeer_isAccepted() {
        QFETCH(QString, key);
        const PeerSetup& p = peerSetup(key);
        const QString callsign = QLatin1String(p.call);
        const int before = connectedCount();
        const qsizetype from = signals_.events().size();
        peer(key).send(QStringLiteral("connect ") + OurIp);
        const qsizetype at = signals_.waitFor(QStringLiteral("Connected %1|").arg(callsign), 10000, from);
        EXPECT(at >= 0, evidence({key}));
        QCOMPARE(signals_.events().at(at),
                 QStringLiteral("Connected %1|%2|%3").arg(callsign, QLatin1String(p.name), QLatin1String(p.ip)));
        EXPECT(peer(key).waitFor(QStringLiteral("STATE CONNECTED peer=127\\.0\\.0\\.8 remote_call=Q1OUR "), 5000) >= 0,
               evidence({key}));
        EXPECT(peer(key).waitFor(QStringLiteral("INFO from=127\\.0\\.0\\.8 text=.*") + re(Info), 5000) >= 0,
               evidence({key}));
        QCOMPARE(connectedCount(), before + 1);
        QVERIFY(ask("IsConnected", callsign));
        if (key == QLatin1String("f")) {
            peer(key).signal(SIGSTOP);
            frozenSince_.start();
        }
    }

    void callToNode_inLowerCase_connectsAsUpperCase() {
        const qsizetype from = signals_.events().size();
        const QString error = callError(QStringLiteral("Connect"), {QStringLiteral("q1aaa-l"), -1});
        EXPECT(error.isEmpty(), error + evidence());
        const qsizetype at = signals_.waitFor(QStringLiteral("Connected Q1AAA-L|"), 25000, from);
        EXPECT(at >= 0, evidence());
        QCOMPARE(signals_.events().at(at), QStringLiteral("Connected Q1AAA-L|Alice|127.0.0.2"));
        EXPECT(node_->waitFor(QStringLiteral("Q1OUR: EchoLink QSO state changed to CONNECTED"), 5000) >= 0, evidence());
        QVERIFY(ask("IsConnected", QStringLiteral("Q1AAA-L")));
    }

    void chatFromPeer_arrivesWithoutLineEnd_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("prefix");
        row("elpeer directly", "b", "Q1BBB>");
        row("elpeer through the node", "d", "Q1AAA-L>Q1DDD>"); // the node wraps it, its LFs and CR LF at the end
    }
    void chatFromPeer_arrivesWithoutLineEnd() {
        QFETCH(QString, key);
        QFETCH(QString, prefix);
        const QString text = QStringLiteral("chat %1 to us").arg(++chats_);
        const qsizetype from = signals_.events().size();
        peer(key).send(QStringLiteral("chat ") + text);
        EXPECT(signals_.waitFor(QStringLiteral("ChatTextReceived ") + prefix + text, 5000, from) >= 0, evidence({key}));
        QTest::qWait(300);
        QCOMPARE(signals_.events().mid(from).filter(text),
                 QStringList{QStringLiteral("ChatTextReceived ") + prefix + text});
    }

    void chatFromBus_reachesPeer_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        row("elpeer directly", "b", "CHAT from=127.0.0.8 text=Q1OUR>");
        row("elpeer through the node", "d", "CHAT from=127.0.0.2 text=Q1AAA-L>Q1OUR>");
    }
    void chatFromBus_reachesPeer() {
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const QString text = QStringLiteral("chat %1 from us").arg(++chats_);
        QCOMPARE(callError(QStringLiteral("SendChatText"), {text}), QString());
        // Only the line end may follow the text.
        EXPECT(peer(key).waitFor(re(expected + text) + QStringLiteral("(\\\\[rn])*$"), 5000) >= 0, evidence({key}));
    }

    void conference_relaysChatToOthersAndListsMembers() {
        const QString text = QStringLiteral("chat %1 to the conference").arg(++chats_);
        const qsizetype sentAt = peer(QStringLiteral("b")).size();
        peer(QStringLiteral("b")).send(QStringLiteral("chat ") + text);
        for (const QString& key : {QStringLiteral("c"), QStringLiteral("g")}) {
            EXPECT(peer(key).waitFor(QStringLiteral("CHAT from=127\\.0\\.0\\.8 text=.*Q1BBB>") + re(text), 5000) >= 0,
                   evidence({key}));
        }
        QTest::qWait(500);
        EXPECT(peer(QStringLiteral("b")).find(QStringLiteral("CHAT from=.*") + re(text), sentAt) < 0,
               QStringLiteral("the sender got its own chat back") + evidence({QStringLiteral("b")}));
        const QStringList members{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("g")};
        for (const QString& key : members) {
            const QString info = lastInfo(key);
            for (const QString& other : members) {
                EXPECT(other == key || info.contains(QLatin1String(peerSetup(other).call)),
                       QStringLiteral("%1's last info lacks %2: %3").arg(key, other, info));
            }
        }
    }

    void unknownCaller_getsNoAnswerAndListIsRefreshed() {
        const QString toCaller = QStringLiteral("127\\.0\\.0\\.8:\\d+ > 127\\.0\\.0\\.6:");
        const qsizetype from = directory_->size();
        const qsizetype bus = signals_.events().size();
        peer(QStringLiteral("e")).send(QStringLiteral("connect ") + OurIp);
        EXPECT(watch_->waitFor(QStringLiteral("127\\.0\\.0\\.6:\\d+ > 127\\.0\\.0\\.8:5199 .*kind=SDES"), 5000) >= 0,
               watch_->tail());
        EXPECT(directory_->waitFor(QStringLiteral("LIST from 127\\.0\\.0\\.8 "), 5000, from) >= 0,
               QStringLiteral("no list refresh after an unknown caller") + evidence());
        QTest::qWait(3000); // the refreshed list still lacks the caller: silence stays
        peer(QStringLiteral("e")).send(QStringLiteral("disc")); // its BYE must not be answered either
        QTest::qWait(1000);
        EXPECT(watch_->find(toCaller) < 0,
               QStringLiteral("the station answered an unknown caller:\n") + watch_->line(watch_->find(toCaller)));
        EXPECT(peer(QStringLiteral("e")).find(QStringLiteral("STATE CONNECTED|INFO|CHAT|RXAUDIO|BYE_RECEIVED")) < 0,
               evidence({QStringLiteral("e")}));
        EXPECT(signals_.waitFor(QStringLiteral("Connected Q1EEE"), 0, bus) < 0, evidence());
    }

    // Q1BBB talks: our speaker plays it and Q1CCC hears it relayed, the talker does not hear itself.
    void peerTone_isPlayedAndRelayed_whileReceivingIsSaid() {
        const qsizetype from = signals_.events().size();
        const qsizetype played = speaker_.samples().size();
        const qsizetype heardByTalker = peer(QStringLiteral("b")).size();
        const qsizetype heardByOther = peer(QStringLiteral("c")).size();
        peer(QStringLiteral("b")).send(QStringLiteral("tone 1000 2"));
        EXPECT(signals_.waitFor(QStringLiteral("ReceivingChanged true Q1BBB"), 3000, from) >= 0, evidence());
        QVERIFY(ask("IsReceiving"));
        EXPECT(signals_.waitFor(QStringLiteral("ReceivingChanged false Q1BBB"), 5000, from) >= 0, evidence());
        QVERIFY(!ask("IsReceiving"));
        QCOMPARE(signals_.events().mid(from), (QStringList{QStringLiteral("ReceivingChanged true Q1BBB"),
                                                           QStringLiteral("ReceivingChanged false Q1BBB")}));
        QTest::qWait(500); // the jitter buffer plays out what it holds
        const voicerig::Heard heard = voicerig::hear(speaker_.samples().subspan(size_t(played)), 8000);
        EXPECT(std::abs(heard.hz - 1000) <= 20 && std::abs(heard.seconds - 2) <= 0.3,
               QStringLiteral("played: ") + heard.text() + evidence({QStringLiteral("b")}));
        const qsizetype at =
            peer(QStringLiteral("c")).waitFor(QStringLiteral("RXAUDIO stop from=127\\.0\\.0\\.8 "), 6000, heardByOther);
        EXPECT(at >= 0, evidence({QStringLiteral("c")}));
        const QString line = peer(QStringLiteral("c")).line(at);
        EXPECT(std::abs(field(line, "peak_hz") - 1000) <= 20 && field(line, "secs") > 1.5, line);
        EXPECT(peer(QStringLiteral("b")).find(QStringLiteral("RXAUDIO start"), heardByTalker) < 0,
               QStringLiteral("the talker heard itself") + evidence({QStringLiteral("b")}));
    }

    // One transmission from the microphone, heard by a peer connected to us and by the node, which puts it
    // on its transmitter.
    void micTone_whileTransmitting_reachesPeerAndNodeTransmitter() {
        const QString file = dir_.filePath(QStringLiteral("tone.wav"));
        QVERIFY(e2e::writeFile(file, voicerig::wav(voicerig::tone(700, 8000, 16000))));
        const qsizetype heardBefore = peer(QStringLiteral("b")).size();
        nodeAudio_.clear();
        QCOMPARE(callError(QStringLiteral("SetTransmit"), {true}), QString());
        QTest::qWait(200);
        QProcess paplay;
        paplay.setProcessEnvironment(pulse_.processEnvironment());
        paplay.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("mic"), file});
        QVERIFY(QTest::qWaitFor([&] { return paplay.state() == QProcess::NotRunning; }, 8000));
        QCOMPARE(paplay.exitCode(), 0);
        QTest::qWait(300);
        QCOMPARE(callError(QStringLiteral("SetTransmit"), {false}), QString());

        const qsizetype at =
            peer(QStringLiteral("b")).waitFor(QStringLiteral("RXAUDIO stop from=127\\.0\\.0\\.8 "), 5000, heardBefore);
        EXPECT(at >= 0, evidence({QStringLiteral("b")}));
        const QString line = peer(QStringLiteral("b")).line(at);
        EXPECT(std::abs(field(line, "peak_hz") - 700) <= 20 && field(line, "purity") > 0.5, line);
        QTest::qWait(500); // the node's transmitter lags behind the peer a little
        const std::span<const qint16> pcm(reinterpret_cast<const qint16*>(nodeAudio_.constData()),
                                          size_t(nodeAudio_.size() / 2));
        const voicerig::Heard node = voicerig::hear(pcm, 16000);
        EXPECT(std::abs(node.hz - 700) <= 20 && node.purity > 0.5 && node.seconds > 1.5,
               QStringLiteral("svxlink transmitted %1 s: %2").arg(double(pcm.size()) / 16000).arg(node.text()) +
                   evidence());
    }

    void bye_endsConnectionWithOneDisconnected_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("fromBus");
        row("Disconnect on the bus", "b", true);
        row("disc from the peer", "g", false);
    }
    void bye_endsConnectionWithOneDisconnected() {
        QFETCH(QString, key);
        QFETCH(bool, fromBus);
        const QString callsign = QLatin1String(peerSetup(key).call);
        const QString ip = re(QLatin1String(peerSetup(key).ip));
        const qsizetype bus = signals_.events().size();
        const qsizetype watched = watch_->size();
        if (fromBus) {
            QCOMPARE(callError(QStringLiteral("Disconnect"), {callsign}), QString());
            EXPECT(peer(key).waitFor(QStringLiteral("STATE BYE_RECEIVED peer=127\\.0\\.0\\.8"), 5000) >= 0,
                   evidence({key}));
        } else {
            peer(key).send(QStringLiteral("disc"));
            EXPECT(watch_->waitFor(ip + QStringLiteral(":\\d+ > 127\\.0\\.0\\.8:5199 .*kind=BYE"), 5000, watched) >= 0,
                   watch_->tail());
        }
        EXPECT(peer(key).waitFor(QStringLiteral("STATE DISCONNECTED peer=127\\.0\\.0\\.8"), 5000) >= 0,
               evidence({key}));
        EXPECT(signals_.waitFor(QStringLiteral("Disconnected ") + callsign, 5000, bus) >= 0, evidence({key}));
        QTest::qWait(1500);
        QCOMPARE(signals_.events().mid(bus).count(QStringLiteral("Disconnected ") + callsign), 1);
        QVERIFY(!ask("IsConnected", callsign));
        if (!fromBus) { // a BYE is never answered with one
            const QString answer = QStringLiteral("127\\.0\\.0\\.8:\\d+ > ") + ip + QStringLiteral(":\\d+ .*kind=BYE");
            EXPECT(watch_->find(answer, watched) < 0, watch_->tail());
        }
    }

    void silentPeer_isDroppedOnceAfterAboutAMinute() {
        QVERIFY2(frozenSince_.isValid(), "the peer to freeze never got connected");
        const qsizetype at = signals_.waitFor(QStringLiteral("Disconnected Q1FFF"),
                                              static_cast<int>(qMax<qint64>(0, 80000 - frozenSince_.elapsed())));
        const qint64 after = frozenSince_.elapsed();
        EXPECT(at >= 0, QStringLiteral("still connected %1 s after it fell silent").arg(after / 1000) +
                            evidence({QStringLiteral("f")}));
        EXPECT(after >= 45000, QStringLiteral("dropped after only %1 ms of silence").arg(after));
        QTest::qWait(1000);
        QCOMPARE(signals_.events().count(QStringLiteral("Disconnected Q1FFF")), 1);
        QVERIFY(!ask("IsConnected", QStringLiteral("Q1FFF")));
    }

    void sigterm_sendsClosingByeAndOffThenExitsZero() {
        EXPECT(ask("IsConnected", QStringLiteral("Q1AAA-L")) && ask("IsConnected", QStringLiteral("Q1CCC")),
               evidence());
        const qsizetype logins = directory_->size();
        const qsizetype nodeLines = node_->size();
        station_->signal(SIGTERM);
        EXPECT(signals_.waitFor(QStringLiteral("Closing"), 5000) >= 0, evidence());
        // Not waitForFinished(): it says false when the exit was already seen while waiting for Closing.
        EXPECT(QTest::qWaitFor([&] { return station_->process().state() == QProcess::NotRunning; }, 10000), evidence());
        QCOMPARE(station_->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(station_->process().exitCode(), 0);
        EXPECT(peer(QStringLiteral("c")).waitFor(QStringLiteral("STATE BYE_RECEIVED peer=127\\.0\\.0\\.8"), 5000) >= 0,
               evidence({QStringLiteral("c")}));
        EXPECT(node_->waitFor(QStringLiteral("Q1OUR: EchoLink QSO state changed to (BYE_RECEIVED|DISCONNECTED)"), 5000,
                              nodeLines) >= 0,
               evidence());
        EXPECT(directory_->waitFor(QStringLiteral("LOGIN from 127\\.0\\.0\\.8 call=Q1OUR .*-> OFF reply=OK"), 5000,
                                   logins) >= 0,
               evidence());
    }
};

QTEST_GUILESS_MAIN(InteropTest)
#include "tst_interop.moc"
