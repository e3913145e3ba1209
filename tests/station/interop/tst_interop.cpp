// SPDX-License-Identifier: GPL-3.0-or-later
// parlevox-station among existing EchoLink programs in this test's private network namespace (bench/StationRig.h):
// fake directory .10, svxlink node Q1AAA-L .2, elpeer Q1BBB .3 (libecholib) and our station Q1PLX .8 on a private
// bus and a private PulseAudio (speaker: sink "Speaker", microphone: sink "mic"). The cases build on each other.
#include "DataRow.h"
#include "InteropRig.h"
#include "StationHarness.h"
#include "StationRig.h"
#include "VoiceRig.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTemporaryDir>

static const QString Service = QStringLiteral("org.parlevox.EchoLink");
static const QString Path = QStringLiteral("/org/parlevox/EchoLink");

class InteropTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    voicerig::PrivatePulse pulse_{dir_.path()};
    voicerig::Recorder speaker_; // from the start: a new recording delays the sink's sound for a while
    e2e::PrivateBus bus_;
    QDBusConnection connection_{QString()};
    interop::BusRecorder signals_;
    stationrig::Rig rig_{dir_.path()};
    stationrig::LoggedProcess* peer_ = nullptr;

    // Empty when the method answered, else its error.
    QString call(const QString& method, const QVariantList& args = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, Service, method);
        message.setArguments(args);
        const QDBusMessage reply = connection_.call(message, QDBus::Block, 8000);
        return reply.type() == QDBusMessage::ReplyMessage ? QString() : reply.errorName() + u' ' + reply.errorMessage();
    }
    bool peerSays(const QString& pattern) { return peer_->waitFor(pattern, 5000); }
    bool nodeSays(const QString& pattern) { return rig_.node().waitFor(pattern, 5000); }

private Q_SLOTS:
    // The peer logs in before our station reads its first list, and our station before svxlink reads its own.
    void initTestCase() {
        QString error;
        QVERIFY2(stationrig::onlyLoopback(&error), qPrintable(error));
        QVERIFY2(pulse_.start({{QStringLiteral("Speaker"), 48000, 2}, {QStringLiteral("mic"), 8000, 1}}, &error),
                 qPrintable(error));
        QVERIFY(speaker_.start(pulse_, QStringLiteral("Speaker"), 8000));
        QTest::qWait(2500); // the keepers' streams settle the sinks
        QVERIFY2(rig_.startDirectory(&error) && (peer_ = rig_.startPeer(QStringLiteral("Q1BBB"), 0, &error)) &&
                     bus_.start(&error),
                 qPrintable(error));
        connection_ = bus_.connect();
        QVERIFY(signals_.listen(connection_, Path, Service));
        QProcessEnvironment env = bus_.environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path()); // never the user's own settings
        pulse_.addTo(env);
        QVERIFY2(rig_.startStation(env, &error) && rig_.startNode(&error), qPrintable(error));
        QVERIFY(QTest::qWaitFor([&] { return connection_.interface()->isServiceRegistered(Service).value(); }, 10000));
    }
    // QtTest cuts failure messages at 1 KiB: the logs go to the output in full.
    void cleanup() {
        if (QTest::currentTestFailed()) {
            qInfo().noquote() << rig_.logTails() << "---- bus signals\n" << signals_.events().join(u'\n');
        }
    }

    void signIn_isOnlineWithLocationAndTheListIsRead() {
        QVERIFY(rig_.directory().waitFor(QStringLiteral("LOGIN from 127\\.0\\.0\\.8 call=Q1PLX password=secret "
                                                        "status=ONLINE\\S* desc='Loopback test.*' -> ON reply=OK"),
                                         5000));
        QVERIFY(rig_.directory().waitFor(QStringLiteral("LIST from 127\\.0\\.0\\.8 .*calls=.*Q1BBB"), 5000));
    }

    void connect_isUnderstoodBothWays_data() {
        QTest::addColumn<bool>("byPeer");
        QTest::addColumn<QString>("connected");
        QTest::addColumn<QString>("far");
        row("elpeer calls us", true, "Connected Q1BBB|Peer Q1BBB|127.0.0.3",
            "STATE CONNECTED peer=127\\.0\\.0\\.8 remote_call=Q1PLX remote_name=Parlevox Test$");
        row("we call the node", false, "Connected Q1AAA-L|Alice|127.0.0.2",
            "Q1PLX: EchoLink QSO state changed to CONNECTED");
    }
    void connect_isUnderstoodBothWays() {
        QFETCH(bool, byPeer);
        QFETCH(QString, connected);
        QFETCH(QString, far);
        const qsizetype from = signals_.events().size();
        if (byPeer) {
            peer_->send(QStringLiteral("connect 127.0.0.8"));
        } else {
            QCOMPARE(call(QStringLiteral("Connect"), {QStringLiteral("Q1AAA-L"), -1}), QString());
        }
        const qsizetype at = signals_.waitFor(connected.section(u'|', 0, 0) + u'|', 25000, from);
        QVERIFY(at >= 0);
        QCOMPARE(signals_.events().at(at), connected);
        QVERIFY(byPeer ? peerSays(far) : nodeSays(far));
        QVERIFY(!byPeer || peerSays(QStringLiteral("INFO from=127\\.0\\.0\\.8 text=parlevox-station under test")));
    }

    void chat_arrivesWhole_data() {
        QTest::addColumn<bool>("byPeer");
        row("from elpeer to us", true);
        row("from us to elpeer and the node", false);
    }
    void chat_arrivesWhole() {
        QFETCH(bool, byPeer);
        const QString text = QStringLiteral("chat ") + QLatin1String(QTest::currentDataTag());
        const qsizetype from = signals_.events().size();
        if (byPeer) {
            peer_->send(QStringLiteral("chat ") + text);
            QVERIFY(signals_.waitFor(QStringLiteral("ChatTextReceived"), 5000, from) >= 0);
            QTest::qWait(300);
            QCOMPARE(signals_.events().mid(from), QStringList{QStringLiteral("ChatTextReceived Q1BBB>") + text});
        } else {
            QCOMPARE(call(QStringLiteral("SendChatText"), {text}), QString());
            const QString sent = QRegularExpression::escape(QStringLiteral("Q1PLX>") + text);
            QVERIFY(
                peerSays(QStringLiteral("CHAT from=127\\.0\\.0\\.8 text=") + sent + QStringLiteral("(\\\\[rn])*$")));
            QVERIFY(nodeSays(QLatin1Char('^') + sent + u'$'));
        }
    }

    // Elpeer talks once the node has greeted us: our speaker plays it and the bus says who is talking.
    void peerTone_isPlayedWhileReceivingIsSaid() {
        (void)signals_.waitFor(QStringLiteral("ReceivingChanged false Q1AAA-L"), 10000); // one talker at a time
        const qsizetype from = signals_.events().size();
        const qsizetype played = speaker_.samples().size();
        peer_->send(QStringLiteral("tone 1000 2"));
        QVERIFY(signals_.waitFor(QStringLiteral("ReceivingChanged false Q1BBB"), 8000, from) >= 0);
        QCOMPARE(signals_.events().mid(from), (QStringList{QStringLiteral("ReceivingChanged true Q1BBB"),
                                                           QStringLiteral("ReceivingChanged false Q1BBB")}));
        QTest::qWait(500); // the jitter buffer plays out what it holds
        const voicerig::Heard heard = voicerig::hear(speaker_.samples().subspan(size_t(played)), 8000);
        QVERIFY2(std::abs(heard.hz - 1000) <= 20 && std::abs(heard.seconds - 2) <= 0.3, qPrintable(heard.text()));
    }

    void micTone_whileTransmitting_isHeardByThePeer() {
        const QString file = dir_.filePath(QStringLiteral("tone.wav"));
        QVERIFY(e2e::writeFile(file, voicerig::wav(voicerig::tone(700, 8000, 16000))));
        QCOMPARE(call(QStringLiteral("SetTransmit"), {true}), QString());
        QProcess paplay;
        paplay.setProcessEnvironment(pulse_.processEnvironment());
        paplay.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("mic"), file});
        QVERIFY(paplay.waitForFinished(8000) && paplay.exitCode() == 0);
        QTest::qWait(300);
        QCOMPARE(call(QStringLiteral("SetTransmit"), {false}), QString());
        QVERIFY(peerSays(QStringLiteral("RXAUDIO stop from=127\\.0\\.0\\.8 samples=.* secs=(1\\.[5-9]|2).* "
                                        "peak_hz=(6[89]|7[01])[05] purity=0\\.[5-9]")));
    }

    void bye_endsTheConnectionOnBothSides_data() {
        QTest::addColumn<QString>("callsign");
        row("elpeer hangs up", "Q1BBB");
        row("we hang up on the node", "Q1AAA-L");
    }
    void bye_endsTheConnectionOnBothSides() {
        QFETCH(QString, callsign);
        const qsizetype from = signals_.events().size();
        if (callsign == QLatin1String("Q1BBB")) {
            peer_->send(QStringLiteral("disc"));
            QVERIFY(peerSays(QStringLiteral("STATE DISCONNECTED peer=127\\.0\\.0\\.8")));
        } else {
            QCOMPARE(call(QStringLiteral("Disconnect"), {callsign}), QString());
            QVERIFY(nodeSays(QStringLiteral("Q1PLX: EchoLink QSO state changed to BYE_RECEIVED")));
        }
        QVERIFY(signals_.waitFor(QStringLiteral("Disconnected ") + callsign, 5000, from) >= 0);
        QTest::qWait(1500);
        QCOMPARE(signals_.events().mid(from), QStringList{QStringLiteral("Disconnected ") + callsign});
    }

    void sigterm_saysClosingAndSignsOff() {
        ::kill(rig_.station().pid(), SIGTERM);
        QVERIFY(signals_.waitFor(QStringLiteral("Closing"), 5000) >= 0);
        QVERIFY(rig_.directory().waitFor(QStringLiteral("LOGIN from 127\\.0\\.0\\.8 call=Q1PLX .*-> OFF"), 5000));
        QVERIFY(QTest::qWaitFor([&] { return !rig_.station().isRunning(); }, 10000));
    }
};

QTEST_GUILESS_MAIN(InteropTest)
#include "tst_interop.moc"
