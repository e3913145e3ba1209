// SPDX-License-Identifier: GPL-3.0-or-later
// parlevox-station among existing EchoLink programs in this test's private network namespace (bench/StationRig.h):
// fake directory .10, svxlink node Q1AAA-L .2, elpeer Q1BBB .3 (libecholib) and our station Q1PLX .8 on a private
// bus and a private PulseAudio (speaker: sink "Speaker", microphone: sink "mic"). The rows build on each other.
#include "DataRow.h"
#include "StationHarness.h"
#include "StationRig.h"
#include "VoiceRig.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

static const QString Service = u"org.parlevox.EchoLink"_s;

class InteropTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    voicerig::PrivatePulse pulse_{dir_.path()};
    voicerig::Recorder speaker_; // from the start: a new recording delays the sink's sound for a while
    e2e::PrivateBus bus_;
    QDBusConnection connection_{QString()};
    QStringList heard_; // the station's bus signals: "Connected Q1BBB|Peer Q1BBB|127.0.0.3", "Closing", ...
    stationrig::Rig rig_{dir_.path()};
    stationrig::LoggedProcess* peer_ = nullptr;

    // Empty when the method answered, else its error.
    QString call(const QString& method, const QVariantList& args) {
        QDBusMessage message = QDBusMessage::createMethodCall(Service, u"/org/parlevox/EchoLink"_s, Service, method);
        message.setArguments(args);
        const QDBusMessage reply = connection_.call(message, QDBus::Block, 8000);
        return reply.type() == QDBusMessage::ReplyMessage ? QString() : reply.errorName() + u' ' + reply.errorMessage();
    }
    // A line for elpeer, SIGTERM to our station, a 2 s tone of HZ into our microphone while we transmit, or a
    // method of ours with one argument; empty when done, else what failed.
    QString act(const QString& action) {
        const QString verb = action.section(u' ', 0, 0), argument = action.section(u' ', 1);
        if (verb == u"elpeer") {
            peer_->send(argument);
        } else if (verb == u"SIGTERM") {
            ::kill(rig_.station().pid(), SIGTERM);
        } else if (verb == u"mic") {
            const QString file = dir_.filePath(u"tone.wav"_s);
            QProcess paplay;
            paplay.setProcessEnvironment(pulse_.processEnvironment());
            writeFile(file, voicerig::wav(voicerig::tone(argument.toDouble(), 8000, 16000)));
            const QString keyed = call(u"SetTransmit"_s, {true});
            paplay.start(u"paplay"_s, {u"-d"_s, u"mic"_s, file});
            const bool played = paplay.waitForFinished(8000) && paplay.exitCode() == 0;
            QTest::qWait(300);
            return keyed + call(u"SetTransmit"_s, {false}) + (played ? QString() : u"paplay failed"_s);
        } else if (!verb.isEmpty()) {
            return call(verb, verb == u"Connect" ? QVariantList{argument, -1} : QVariantList{argument});
        }
        return {};
    }

public Q_SLOTS:
    void hear(const QDBusMessage& m) {
        heard_ << (m.member() + u' ' + QVariant(m.arguments()).toStringList().join(u'|')).trimmed();
    }

private Q_SLOTS:
    // The peer logs in before our station reads its first list, and our station before svxlink reads its own.
    void initTestCase() {
        QString error;
        QVERIFY2(stationrig::onlyLoopback(&error), qPrintable(error));
        QVERIFY2(pulse_.start({{u"Speaker"_s, 48000, 2}, {u"mic"_s, 8000, 1}}, &error), qPrintable(error));
        QVERIFY(speaker_.start(pulse_, u"Speaker"_s, 8000));
        QTest::qWait(2500); // the keepers' streams settle the sinks
        QVERIFY2(rig_.startDirectory(&error) && (peer_ = rig_.startPeer(u"Q1BBB"_s, 0, &error)) && bus_.start(&error),
                 qPrintable(error));
        connection_ = bus_.connect();
        QVERIFY(connection_.connect({}, u"/org/parlevox/EchoLink"_s, Service, {}, this, SLOT(hear(QDBusMessage))));
        QProcessEnvironment env = bus_.environment();
        env.insert(u"XDG_CONFIG_HOME"_s, dir_.path()); // never the user's own settings
        pulse_.addTo(env);
        QVERIFY2(rig_.startStation(env, &error) && rig_.startNode(&error), qPrintable(error));
        QVERIFY(QTest::qWaitFor([&] { return connection_.interface()->isServiceRegistered(Service).value(); }, 10000));
    }
    // QtTest cuts failure messages at 1 KiB: the logs go to the output in full.
    void cleanup() {
        if (QTest::currentTestFailed()) {
            qInfo().noquote() << rig_.logTails() << "---- bus signals\n" << heard_.join(u'\n');
        }
    }

    // What is expected after each action, a line each: "bus SIGNAL" (exactly the bus signals of the row, in order),
    // "elpeer|node|dir PATTERN" (a line of its log), "speaker HZ SECONDS" (the tone our speaker played).
    void scenario_data() {
        columns<QString, QString>("action", "expected");
        row("we sign in and read the list", "",
            "dir LOGIN from 127\\.0\\.0\\.8 call=Q1PLX password=secret status=ONLINE\\S* desc='Loopback test.*' -> ON\n"
            "dir LIST from 127\\.0\\.0\\.8 .*calls=.*Q1BBB");
        row("elpeer calls us", "elpeer connect 127.0.0.8",
            "bus Connected Q1BBB|Peer Q1BBB|127.0.0.3\n"
            "elpeer STATE CONNECTED peer=127\\.0\\.0\\.8 remote_call=Q1PLX remote_name=Parlevox Test$\n"
            "elpeer INFO from=127\\.0\\.0\\.8 text=parlevox-station under test(\\\\[rn])*$");
        row("we call the node", "Connect Q1AAA-L",
            "bus Connected Q1AAA-L|Alice|127.0.0.2\nnode Q1PLX: EchoLink QSO state changed to CONNECTED\n"
            "bus ReceivingChanged true|Q1AAA-L\nbus ReceivingChanged false|Q1AAA-L");
        row("elpeer chats to us", "elpeer chat good evening", "bus ChatTextReceived Q1BBB>good evening");
        row("we chat to elpeer and the node", "SendChatText hello all",
            "elpeer CHAT from=127\\.0\\.0\\.8 text=Q1PLX>hello all(\\\\[rn])*$\nnode ^Q1PLX>hello all$");
        row("elpeer talks to us", "elpeer tone 1000 2",
            "bus ReceivingChanged true|Q1BBB\nbus ReceivingChanged false|Q1BBB\nspeaker 1000 2");
        row("we talk to elpeer", "mic 700",
            "elpeer RXAUDIO stop from=127\\.0\\.0\\.8 samples=.* secs=(1\\.[5-9]|2).* peak_hz=(6[89]|7[01])[05] "
            "purity=0\\.[5-9]");
        row("elpeer hangs up", "elpeer disc", "elpeer STATE DISCONNECTED peer=127\\.0\\.0\\.8\nbus Disconnected Q1BBB");
        row("we hang up on the node", "Disconnect Q1AAA-L",
            "node Q1PLX: EchoLink QSO state changed to BYE_RECEIVED\nbus Disconnected Q1AAA-L");
        row("we sign off on SIGTERM", "SIGTERM", "bus Closing\ndir LOGIN from 127\\.0\\.0\\.8 call=Q1PLX .*-> OFF");
    }
    void scenario() {
        QFETCH(QString, action);
        QFETCH(QString, expected);
        const qsizetype from = heard_.size(), played = speaker_.samples().size();
        QCOMPARE(act(action), QString());
        QStringList onBus;
        for (const QString& line : expected.split(u'\n', Qt::SkipEmptyParts)) {
            const QString source = line.section(u' ', 0, 0), what = line.section(u' ', 1);
            if (source == u"bus") {
                onBus << what;
                QVERIFY2(QTest::qWaitFor([&] { return heard_.indexOf(what, from) >= 0; }, 25000), qPrintable(line));
            } else if (source == u"speaker") {
                QTest::qWait(500); // the jitter buffer plays out what it holds
                const voicerig::Heard heard = voicerig::hear(speaker_.samples().subspan(size_t(played)), 8000);
                QVERIFY2(std::abs(heard.hz - what.section(u' ', 0, 0).toDouble()) <= 20 &&
                             std::abs(heard.seconds - what.section(u' ', 1).toDouble()) <= 0.3,
                         qPrintable(heard.text()));
            } else {
                auto& log = source == u"dir" ? rig_.directory() : source == u"node" ? rig_.node() : *peer_;
                QVERIFY2(log.waitFor(what, 5000), qPrintable(line));
            }
        }
        QTest::qWait(500); // nothing more, and nothing twice
        QCOMPARE(heard_.mid(from), onBus);
    }
};

QTEST_GUILESS_MAIN(InteropTest)
#include "tst_interop.moc"
