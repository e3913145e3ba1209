// SPDX-License-Identifier: GPL-3.0-or-later
// The D-Bus client against the real echolink-sim on a private bus.
#include "DBusEchoLinkClient.h"

#include "DataRow.h"
#include "EchoLinkBus.h"
#include "StationHarness.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QXmlStreamReader>
#include <atomic>
#include <memory>

namespace {

// "method Connect(in s callsign, in i flag)", "signal Connected(s sCallConnected, ...)", one per member of
// the org.parlevox.EchoLink interface in an introspection document. In and out arguments are separate lists
// in D-Bus, so ins are listed before outs; names of out arguments are left out, the bus makes its own up.
QStringList interfaceMembers(const QString& xml) {
    QStringList members;
    QXmlStreamReader reader(xml);
    bool inInterface = false;
    QString member;
    QStringList args;
    QStringList outs;
    while (!reader.atEnd()) {
        reader.readNext();
        const auto name = reader.name();
        if (reader.isStartElement() && name == QLatin1String("interface")) {
            inInterface = reader.attributes().value(QLatin1String("name")) == QLatin1String(EchoLinkBus::Interface);
        } else if (reader.isEndElement() && name == QLatin1String("interface")) {
            inInterface = false;
        } else if (inInterface && reader.isStartElement() &&
                   (name == QLatin1String("method") || name == QLatin1String("signal"))) {
            member = name.toString() + QLatin1Char(' ') + reader.attributes().value(QLatin1String("name")).toString();
            args.clear();
            outs.clear();
        } else if (inInterface && reader.isStartElement() && name == QLatin1String("arg")) {
            const auto a = reader.attributes();
            const QString direction = a.value(QLatin1String("direction")).toString();
            if (direction == QLatin1String("out")) {
                outs << QStringLiteral("out ") + a.value(QLatin1String("type")).toString();
            } else {
                args << (member.startsWith(QLatin1String("method")) ? QStringLiteral("in ") : QString()) +
                            a.value(QLatin1String("type")).toString() + QLatin1Char(' ') +
                            a.value(QLatin1String("name")).toString();
            }
        } else if (inInterface && reader.isEndElement() &&
                   (name == QLatin1String("method") || name == QLatin1String("signal"))) {
            members << member + QLatin1Char('(') + (args + outs).join(QStringLiteral(", ")) + QLatin1Char(')');
        }
    }
    members.sort();
    return members;
}

// A station from before IsReceiving, owning the service on a connection of its own. Without an error name it
// lacks the method and the bus library answers; otherwise the method answers with that error. It lives in a
// thread of its own: the client's calls block this one.
class OldStation : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.parlevox.EchoLink")
public:
    OldStation(QString errorName, QString errorMessage)
        : errorName_(std::move(errorName)), errorMessage_(std::move(errorMessage)) {}
    std::atomic<int> asks{0};

public Q_SLOTS:
    Q_SCRIPTABLE QString OwnCallsign() { return QStringLiteral("QA1OLD"); }
    bool IsReceiving() {
        ++asks;
        sendErrorReply(errorName_, errorMessage_);
        return false;
    }

private:
    QString errorName_;
    QString errorMessage_;
};

struct OldStationOnBus {
    OldStationOnBus(e2e::PrivateBus& bus, const QString& errorName, const QString& errorMessage)
        : station(errorName, errorMessage), connection(bus.connect()) {
        thread.start();
        station.moveToThread(&thread);
        registered = connection.registerObject(QString::fromLatin1(EchoLinkBus::ObjectPath), &station,
                                               errorName.isEmpty() ? QDBusConnection::ExportScriptableSlots
                                                                   : QDBusConnection::ExportAllSlots) &&
                     connection.registerService(QString::fromLatin1(EchoLinkBus::Service));
    }
    ~OldStationOnBus() {
        leave();
        thread.quit();
        thread.wait();
    }
    void leave() {
        connection.unregisterService(QString::fromLatin1(EchoLinkBus::Service));
        connection.unregisterObject(QString::fromLatin1(EchoLinkBus::ObjectPath));
    }

    OldStation station;
    QThread thread;
    QDBusConnection connection;
    bool registered = false;
};

} // namespace

class DBusEchoLinkClientTest : public QObject {
    Q_OBJECT

private:
    e2e::PrivateBus bus_;
    QDBusConnection connection_{QString()};
    std::unique_ptr<e2e::StationProcess> sim_;
    std::unique_ptr<DBusEchoLinkClient> client_;

    // Starts a station and a client bound to it.
    void startStation(const QStringList& arguments = {QStringLiteral("--callsign"), QStringLiteral("QA1TST")}) {
        sim_ = std::make_unique<e2e::StationProcess>(bus_);
        QString error;
        QVERIFY2(sim_->start(arguments, &error), qPrintable(error));
        client_ = std::make_unique<DBusEchoLinkClient>(connection_);
        QVERIFY(client_->isAvailable());
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(bus_.start(&error), qPrintable(error));
        // The session bus of this process is the private one, so the start-up factory can be tried too.
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().toUtf8());
        connection_ = bus_.connect();
        QVERIFY(connection_.isConnected());
    }

    void cleanup() {
        client_.reset();
        sim_.reset();
    }

    void cleanupTestCase() { bus_.stop(); }

    // --- the contract -------------------------------------------------------------------------------

    void stationInterface_matchesInterfaceFile() {
        startStation();
        QFile file(QStringLiteral(ECHOLINK_INTERFACE_XML));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QStringList expected = interfaceMembers(QString::fromUtf8(file.readAll()));
        QCOMPARE(expected.size(), 15);

        QDBusMessage introspect = QDBusMessage::createMethodCall(
            QString::fromLatin1(EchoLinkBus::Service), QString::fromLatin1(EchoLinkBus::ObjectPath),
            QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
        const QDBusMessage reply = connection_.call(introspect);
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(interfaceMembers(reply.arguments().value(0).toString()), expected);
    }

    // --- every method round-trips -------------------------------------------------------------------

    void ownCallsign_isTheStationsCallsign() {
        startStation({QStringLiteral("--callsign"), QStringLiteral("qa7own")});
        const CallResult<QString> own = client_->OwnCallsign();
        QVERIFY2(own.ok, qPrintable(own.error));
        QCOMPARE(own.value, QStringLiteral("QA7OWN"));
        QVERIFY(sim_->waitForLine(QStringLiteral("> OwnCallsign")));
    }

    void connect_succeedsThenConnectedArrivesAndStationCountsIt() {
        startStation();
        QSignalSpy connected(client_.get(), &EchoLinkClient::Connected);
        const CallStatus status = client_->Connect(QStringLiteral("QA2ABC-L"), -1);
        QVERIFY2(status.ok, qPrintable(status.error));
        QVERIFY(sim_->waitForLine(QStringLiteral("> Connect QA2ABC-L -1")));

        QTRY_COMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(0).toString(), QStringLiteral("QA2ABC-L"));
        QVERIFY(!connected.at(0).at(1).toString().isEmpty()); // a name, invented for an unknown station
        QVERIFY(connected.at(0).at(2).toString().contains(QLatin1Char('.')));

        const CallResult<bool> isConnected = client_->IsConnected(QStringLiteral("QA2ABC-L"));
        QVERIFY(isConnected.ok);
        QVERIFY(isConnected.value);
        QVERIFY(client_->IsConnected(QStringLiteral("QA9NOT")).ok);
        QVERIFY(!client_->IsConnected(QStringLiteral("QA9NOT")).value);
        const CallResult<int> count = client_->ConnectedCount();
        QVERIFY(count.ok);
        QCOMPARE(count.value, 1);
    }

    void connect_ofStationThatConnectedBefore_reportsItsName() {
        startStation();
        sim_->send(QStringLiteral("connect QA3NAM Tallbridge net control"));
        sim_->send(QStringLiteral("drop QA3NAM"));
        QVERIFY(sim_->sync());
        QSignalSpy connected(client_.get(), &EchoLinkClient::Connected);
        QVERIFY(client_->Connect(QStringLiteral("QA3NAM"), -1).ok);
        QTRY_COMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(1).toString(), QStringLiteral("Tallbridge net control"));
    }

    void connectRefused_failsWithStationsMessageAndAcceptWorksAgain() {
        startStation();
        sim_->send(QStringLiteral("refuse QA1BAD"));
        QVERIFY(sim_->sync());
        const CallStatus refused = client_->Connect(QStringLiteral("QA1BAD"), -1);
        QVERIFY(!refused.ok);
        QVERIFY2(refused.error.contains(QStringLiteral("QA1BAD")), qPrintable(refused.error));
        QVERIFY(client_->isAvailable()); // a refusal is an answer, not a broken station
        QVERIFY(!client_->IsConnected(QStringLiteral("QA1BAD")).value);

        sim_->send(QStringLiteral("accept QA1BAD"));
        QVERIFY(sim_->sync());
        QVERIFY(client_->Connect(QStringLiteral("QA1BAD"), -1).ok);
    }

    void disconnect_dropsTheStationAndReportsIt() {
        startStation();
        sim_->send(QStringLiteral("connect QA4ONE"));
        sim_->send(QStringLiteral("connect QA4TWO-R"));
        QVERIFY(sim_->sync());
        QSignalSpy disconnected(client_.get(), &EchoLinkClient::Disconnected);
        const CallStatus status = client_->Disconnect(QStringLiteral("QA4ONE"));
        QVERIFY2(status.ok, qPrintable(status.error));
        QTRY_COMPARE(disconnected.size(), 1);
        QCOMPARE(disconnected.at(0).at(0).toString(), QStringLiteral("QA4ONE"));
        QCOMPARE(client_->ConnectedCount().value, 1);
        QVERIFY(client_->IsConnected(QStringLiteral("QA4TWO-R")).value);
    }

    void disconnect_ofStationNotConnected_fails() {
        startStation();
        const CallStatus status = client_->Disconnect(QStringLiteral("QA5GONE"));
        QVERIFY(!status.ok);
        QVERIFY2(status.error.contains(QStringLiteral("QA5GONE")), qPrintable(status.error));
    }

    void disconnectAll_reportsEveryStationInOrder() {
        startStation();
        sim_->send(QStringLiteral("connect QA6ONE"));
        sim_->send(QStringLiteral("connect *QA-NET*"));
        sim_->send(QStringLiteral("connect QA6TRE-L"));
        QVERIFY(sim_->sync());
        QSignalSpy disconnected(client_.get(), &EchoLinkClient::Disconnected);
        QVERIFY(client_->DisconnectAll().ok);
        QTRY_COMPARE(disconnected.size(), 3);
        QCOMPARE(disconnected.at(0).at(0).toString(), QStringLiteral("QA6ONE"));
        QCOMPARE(disconnected.at(1).at(0).toString(), QStringLiteral("*QA-NET*"));
        QCOMPARE(disconnected.at(2).at(0).toString(), QStringLiteral("QA6TRE-L"));
        QCOMPARE(client_->ConnectedCount().value, 0);
    }

    void setTransmit_andKeyingAtTheStation_showInIsTransmitting() {
        startStation();
        QCOMPARE(client_->IsTransmitting().value, false);
        QVERIFY(client_->SetTransmit(true).ok);
        QVERIFY(sim_->waitForLine(QStringLiteral("> SetTransmit true")));
        QCOMPARE(client_->IsTransmitting().value, true);
        QVERIFY(client_->SetTransmit(false).ok);
        QCOMPARE(client_->IsTransmitting().value, false);

        sim_->send(QStringLiteral("key"));
        QVERIFY(sim_->sync());
        QCOMPARE(client_->IsTransmitting().value, true);
        sim_->send(QStringLiteral("unkey"));
        QVERIFY(sim_->sync());
        QCOMPARE(client_->IsTransmitting().value, false);
    }

    void sendChatText_reachesTheStationExactly() {
        startStation();
        QVERIFY(client_->SendChatText(QStringLiteral("hello all")).ok);
        QVERIFY(sim_->waitForLine(QStringLiteral("> SendChatText hello all")));
        // Control characters and backslashes are escaped in the log, so one request stays one line.
        QVERIFY(client_->SendChatText(QStringLiteral("a\rb\\c")).ok);
        QVERIFY(sim_->waitForLine(QStringLiteral("> SendChatText a\\rb\\\\c")));
    }

    void sendChatTextNoWait_reachesTheStationInOrderWithCallsThatWait() {
        startStation();
        client_->SendChatTextNoWait(QStringLiteral("first"));
        client_->SendChatTextNoWait(QStringLiteral("second"));
        QVERIFY(client_->SendChatText(QStringLiteral("third")).ok);
        client_->SendChatTextNoWait(QStringLiteral("fourth"));
        for (const char* text : {"first", "second", "third", "fourth"}) {
            QVERIFY2(sim_->waitForLine(QStringLiteral("> SendChatText ") + QLatin1String(text)), text);
        }
    }

    void sendChatTextNoWait_toHungStation_returnsAtOnce() {
        startStation();
        sim_->sendSignal(SIGSTOP);
        QVERIFY(!client_->ConnectedCount().ok); // now known to be hung
        QElapsedTimer timer;
        timer.start();
        client_->SendChatTextNoWait(QStringLiteral("into the void"));
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
        sim_->sendSignal(SIGCONT);
    }

    // --- events ----------------------------------------------------------------------------------------

    void floodOfEvents_arrivesWhole_inOrder_andLetsTheEventLoopRunBetween() {
        startStation();
        QStringList seen;
        int timerTicks = 0;
        int ticksWhileFlooding = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] {
            ++timerTicks;
            if (!seen.isEmpty() && seen.size() < 4000) {
                ++ticksWhileFlooding;
            }
        });
        ticker.start(0);
        connect(client_.get(), &EchoLinkClient::Connected, this,
                [&](const QString& call, const QString&, const QString&) {
                    seen << QStringLiteral("+") + call;
                    QThread::usleep(50); // a handler with some work to do
                });
        connect(client_.get(), &EchoLinkClient::Disconnected, this,
                [&](const QString& call) { seen << QStringLiteral("-") + call; });
        sim_->send(QStringLiteral("storm 2000"));
        // Busy meanwhile, as a window is: the whole storm waits in the queue when the event loop comes back.
        QThread::msleep(1500);
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 4000, 30000);
        for (int i = 0; i < 2000; ++i) {
            QCOMPARE(seen.at(i), QStringLiteral("+QS%1").arg(i + 1));
            QCOMPARE(seen.at(2000 + i), QStringLiteral("-QS%1").arg(i + 1));
        }
        // 2000 handlers of 50 us take 100 ms at least: the timer must have had turns in between.
        QVERIFY2(ticksWhileFlooding > 0, qPrintable(QString::number(timerTicks)));
    }

    void chatWithLoneCarriageReturn_arrivesIntact() {
        startStation();
        QSignalSpy chat(client_.get(), &EchoLinkClient::ChatTextReceived);
        sim_->send(QStringLiteral("chat QA1BRK>first\\rsecond \\\\ end "));
        QTRY_COMPARE(chat.size(), 1);
        QCOMPARE(chat.at(0).at(0).toString(), QStringLiteral("QA1BRK>first\rsecond \\ end "));
    }

    void hundredChatLines_arriveInOrder() {
        startStation();
        QSignalSpy chat(client_.get(), &EchoLinkClient::ChatTextReceived);
        for (int i = 0; i < 100; ++i) {
            sim_->send(QStringLiteral("chat QA1BRK>line %1").arg(i));
        }
        QTRY_COMPARE_WITH_TIMEOUT(chat.size(), 100, 10000);
        for (int i = 0; i < 100; ++i) {
            QCOMPARE(chat.at(i).at(0).toString(), QStringLiteral("QA1BRK>line %1").arg(i));
        }
    }

    void eventsOfDifferentKinds_arriveInTheOrderSent() {
        startStation();
        QVERIFY(client_->supportsReceiving());
        QStringList seen;
        connect(client_.get(), &EchoLinkClient::Connected, this,
                [&](const QString& call, const QString&, const QString&) { seen << QStringLiteral("C ") + call; });
        connect(client_.get(), &EchoLinkClient::ChatTextReceived, this,
                [&](const QString& text) { seen << QStringLiteral("T ") + text; });
        connect(client_.get(), &EchoLinkClient::Disconnected, this,
                [&](const QString& call) { seen << QStringLiteral("D ") + call; });
        connect(client_.get(), &EchoLinkClient::ReceivingChanged, this, [&](bool on, const QString& call) {
            seen << (on ? QStringLiteral("R+ ") : QStringLiteral("R- ")) + call;
        });
        QCOMPARE(client_->IsReceiving().value, false);
        sim_->send(QStringLiteral("connect QA8ORD-R"));
        sim_->send(QStringLiteral("receive QA8ORD-R"));
        QVERIFY(sim_->sync());
        const CallResult<bool> receiving = client_->IsReceiving();
        QVERIFY2(receiving.ok, qPrintable(receiving.error));
        QVERIFY(receiving.value);
        sim_->send(QStringLiteral("chat QA8ORD-R>hi"));
        sim_->send(QStringLiteral("receive QA8TWO"));
        sim_->send(QStringLiteral("unreceive"));
        sim_->send(QStringLiteral("receive QA8ORD-R"));
        sim_->send(QStringLiteral("drop QA8ORD-R"));
        QTRY_COMPARE(seen.size(), 9);
        QCOMPARE(seen, (QStringList{"C QA8ORD-R", "R+ QA8ORD-R", "T QA8ORD-R>hi", "R- QA8ORD-R", "R+ QA8TWO",
                                    "R- QA8TWO", "R+ QA8ORD-R", "R- QA8ORD-R", "D QA8ORD-R"}));
        QCOMPARE(client_->IsReceiving().value, false);
    }

    // Asked of a station that predates it, IsReceiving fails saying so, and the station stays as good as it was.
    void isReceiving_ofStationWithoutIt_failsSayingSoAndStationStaysAvailable_data() {
        QTest::addColumn<QString>("errorName");
        QTest::addColumn<QString>("errorMessage");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("notReported");
        const QString notReported = EchoLinkClient::receivingNotReportedMessage();
        row("no such method at all", "", "", notReported, true);
        row("UnknownMethod", "org.freedesktop.DBus.Error.UnknownMethod", "", notReported, true);
        row("UnknownInterface", "org.freedesktop.DBus.Error.UnknownInterface", "gone", notReported, true);
        row("only the message says so", "org.freedesktop.DBus.Error.Failed", "No such method 'IsReceiving'",
            notReported, true);
        // A refusal is not an answer about the method: asked again next time.
        row("the station's own refusal", "org.parlevox.EchoLink.Error.Refused", "radio off", "radio off", false);
    }
    void isReceiving_ofStationWithoutIt_failsSayingSoAndStationStaysAvailable() {
        QFETCH(QString, errorName);
        QFETCH(QString, errorMessage);
        QFETCH(QString, error);
        QFETCH(bool, notReported);
        OldStationOnBus old(bus_, errorName, errorMessage);
        QVERIFY(old.registered);
        client_ = std::make_unique<DBusEchoLinkClient>(connection_);
        QSignalSpy availability(client_.get(), &EchoLinkClient::availabilityChanged);

        const CallResult<bool> receiving = client_->IsReceiving();
        QVERIFY(!receiving.ok);
        QCOMPARE(receiving.error, error);
        QVERIFY(!client_->supportsReceiving());
        QVERIFY(!client_->supportsReceiving());
        // A station that lacks the method is asked once; errorName empty: the bus library answered for it.
        QCOMPARE(old.station.asks.load(), errorName.isEmpty() ? 0 : notReported ? 1 : 3);
        QVERIFY(client_->isAvailable());
        QCOMPARE(client_->OwnCallsign().value, QStringLiteral("QA1OLD"));
        QCoreApplication::processEvents();
        QCOMPARE(availability.size(), 0);
    }

    void supportsReceiving_isAskedAgainOfTheNextStation() {
        auto old = std::make_unique<OldStationOnBus>(bus_, QString(), QString());
        QVERIFY(old->registered);
        client_ = std::make_unique<DBusEchoLinkClient>(connection_);
        QVERIFY(!client_->supportsReceiving());
        old.reset();
        QTRY_VERIFY(!client_->isAvailable());

        sim_ = std::make_unique<e2e::StationProcess>(bus_);
        QString error;
        QVERIFY2(sim_->start({}, &error), qPrintable(error));
        QTRY_VERIFY(client_->isAvailable());
        QVERIFY(client_->supportsReceiving());
    }

    void eventSentDuringACall_isDeliveredAfterItByTheEventLoop() {
        startStation();
        QSignalSpy chat(client_.get(), &EchoLinkClient::ChatTextReceived);
        sim_->send(QStringLiteral("chat QA1BRK>while you were busy"));
        QVERIFY(sim_->waitForLine(QStringLiteral("< ChatTextReceived QA1BRK>while you were busy")));
        // No event loop runs between here and the end of the calls: a blocking call that ran one would let the
        // event in now, in the middle of the caller's handler.
        QVERIFY(client_->ConnectedCount().ok);
        QVERIFY(client_->IsTransmitting().ok);
        QCOMPARE(chat.size(), 0);
        QTRY_COMPARE(chat.size(), 1);
    }

    void closing_arrivesAndTheStationEnds() {
        startStation();
        QSignalSpy closing(client_.get(), &EchoLinkClient::Closing);
        sim_->send(QStringLiteral("close"));
        QTRY_COMPARE(closing.size(), 1);
        QVERIFY(sim_->waitForExit());
        QCOMPARE(sim_->exitCode(), 0);
    }

    void twoClientsOnOneConnection_bothHearEventsAndEitherCanGo() {
        startStation();
        auto second = std::make_unique<DBusEchoLinkClient>(connection_);
        QSignalSpy firstChat(client_.get(), &EchoLinkClient::ChatTextReceived);
        QSignalSpy secondChat(second.get(), &EchoLinkClient::ChatTextReceived);
        sim_->send(QStringLiteral("chat QA1BRK>to both"));
        QTRY_COMPARE(firstChat.size(), 1);
        QTRY_COMPARE(secondChat.size(), 1);

        client_.reset();
        sim_->send(QStringLiteral("chat QA1BRK>to the one left"));
        QTRY_COMPARE(secondChat.size(), 2);
        QCOMPARE(secondChat.at(1).at(0).toString(), QStringLiteral("QA1BRK>to the one left"));
        QCOMPARE(second->OwnCallsign().value, QStringLiteral("QA1TST"));
    }

    // --- a station that hangs, crashes or comes back ---------------------------------------------------

    void hungStation_callFailsAfterTimeoutThenFastUntilItAnswersAgain() {
        startStation();
        QSignalSpy availability(client_.get(), &EchoLinkClient::availabilityChanged);
        sim_->sendSignal(SIGSTOP);

        QElapsedTimer timer;
        timer.start();
        const CallResult<int> hung = client_->ConnectedCount();
        const qint64 firstCall = timer.elapsed();
        QVERIFY(!hung.ok);
        QVERIFY2(hung.error.contains(QStringLiteral("did not answer")), qPrintable(hung.error));
        QVERIFY2(firstCall < 6000, qPrintable(QString::number(firstCall)));
        QVERIFY(!client_->isAvailable());

        // Later calls do not wait for the hung station again: a burst of refresh ticks fails at once, each
        // without reaching the bus (a call that went out would end in "did not answer").
        timer.restart();
        const CallStatus again = client_->SetTransmit(true);
        QVERIFY(!again.ok);
        QVERIFY2(again.error.contains(QStringLiteral("not answering")), qPrintable(again.error));
        for (int tick = 0; tick < 20; ++tick) {
            QCOMPARE(client_->ConnectedCount().error, again.error);
            QCOMPARE(client_->IsTransmitting().error, again.error);
            QCOMPARE(client_->IsConnected(QStringLiteral("QA2ABC")).error, again.error);
        }
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE(availability.size(), 1);
        QCOMPARE(availability.at(0).at(0).toBool(), false);

        sim_->sendSignal(SIGCONT);
        QTRY_COMPARE_WITH_TIMEOUT(availability.size(), 2, 10000);
        QCOMPARE(availability.at(1).at(0).toBool(), true);
        QVERIFY(client_->isAvailable());
        const CallResult<QString> own = client_->OwnCallsign();
        QVERIFY2(own.ok, qPrintable(own.error));
    }

    void slowStation_answerWithinTheTimeout_isWaitedFor() {
        startStation();
        QSignalSpy availability(client_.get(), &EchoLinkClient::availabilityChanged);
        const uint pid = connection_.interface()->servicePid(QString::fromLatin1(EchoLinkBus::Service)).value();
        QVERIFY(pid > 0);
        sim_->sendSignal(SIGSTOP);
        // Woken from outside: this thread is inside the call meanwhile.
        QVERIFY(QProcess::startDetached(QStringLiteral("sh"),
                                        {QStringLiteral("-c"), QStringLiteral("sleep 0.5; kill -CONT %1").arg(pid)}));
        const CallResult<int> slow = client_->ConnectedCount();
        QVERIFY2(slow.ok, qPrintable(slow.error));
        QVERIFY(client_->isAvailable());
        QVERIFY(client_->IsTransmitting().ok);
        QCoreApplication::processEvents();
        QCOMPARE(availability.size(), 0);
    }

    void vanishedStation_isReportedAndCallsFailFast() {
        startStation();
        QSignalSpy availability(client_.get(), &EchoLinkClient::availabilityChanged);
        sim_->sendSignal(SIGKILL);
        QVERIFY(sim_->waitForExit());
        QTRY_COMPARE(availability.size(), 1);
        QCOMPARE(availability.at(0).at(0).toBool(), false);
        QVERIFY(!client_->isAvailable());

        QElapsedTimer timer;
        timer.start();
        const CallStatus status = client_->Connect(QStringLiteral("QA2ABC"), -1);
        QVERIFY(!status.ok);
        QVERIFY2(status.error.contains(QStringLiteral("not running")), qPrintable(status.error));
        QVERIFY(!client_->IsTransmitting().ok);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    }

    void newStation_isBoundAgainByItself() {
        startStation();
        QSignalSpy availability(client_.get(), &EchoLinkClient::availabilityChanged);
        QSignalSpy chat(client_.get(), &EchoLinkClient::ChatTextReceived);
        sim_->sendSignal(SIGKILL);
        QVERIFY(sim_->waitForExit());
        QTRY_COMPARE(availability.size(), 1);

        auto replacement = std::make_unique<e2e::StationProcess>(bus_);
        QString error;
        QVERIFY2(replacement->start({QStringLiteral("--callsign"), QStringLiteral("QA2NEW")}, &error),
                 qPrintable(error));
        QTRY_COMPARE(availability.size(), 2);
        QCOMPARE(availability.at(1).at(0).toBool(), true);
        QVERIFY(client_->isAvailable());
        QCOMPARE(client_->OwnCallsign().value, QStringLiteral("QA2NEW"));

        replacement->send(QStringLiteral("chat QA1BRK>from the new station"));
        QTRY_COMPARE(chat.size(), 1);
        QCOMPARE(chat.at(0).at(0).toString(), QStringLiteral("QA1BRK>from the new station"));
        sim_ = std::move(replacement);
    }

    // --- start-up -------------------------------------------------------------------------------------

    void startup_withoutBus_saysThereIsNoSessionBus() {
        const QDBusConnection nowhere = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/parlevox-bus"), QStringLiteral("nowhere"));
        QString error;
        const auto client = DBusEchoLinkClient::connectTo(nowhere, &error);
        QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
        QVERIFY(!client);
        QVERIFY2(error.startsWith(QStringLiteral("No D-Bus session bus is available")), qPrintable(error));
    }

    void startup_withoutStation_saysWhatToStart() {
        QString error;
        const auto client = DBusEchoLinkClient::connectToSession(&error);
        QVERIFY(!client);
        QVERIFY2(error.startsWith(QStringLiteral("No EchoLink station program is running.")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("echolink-sim")), qPrintable(error));
    }

    void startup_withStation_givesAWorkingClient() {
        startStation();
        QString error;
        const auto client = DBusEchoLinkClient::connectToSession(&error);
        QVERIFY2(client, qPrintable(error));
        QVERIFY(client->isAvailable());
        QCOMPARE(client->OwnCallsign().value, QStringLiteral("QA1TST"));
        QSignalSpy chat(client.get(), &EchoLinkClient::ChatTextReceived);
        sim_->send(QStringLiteral("chat QA1BRK>session bus"));
        QTRY_COMPARE(chat.size(), 1);
    }
};

QTEST_GUILESS_MAIN(DBusEchoLinkClientTest)
#include "DBusEchoLinkClientTest.moc"
