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

// "method Connect(in s callsign, in i flag)" per member of our interface; outs listed after ins, unnamed
// because the bus names them itself.
QStringList interfaceMembers(const QString& xml) {
    QStringList members, args, outs;
    QXmlStreamReader reader(xml);
    bool inInterface = false;
    QString member;
    const auto attr = [&](const char* name) { return reader.attributes().value(QLatin1String(name)).toString(); };
    while (!reader.atEnd()) {
        reader.readNext();
        const QString name = reader.name().toString();
        const bool isMember = name == QLatin1String("method") || name == QLatin1String("signal");
        if (name == QLatin1String("interface")) {
            inInterface = reader.isStartElement() && attr("name") == QLatin1String(EchoLinkBus::Interface);
        } else if (inInterface && reader.isStartElement() && isMember) {
            member = name + QLatin1Char(' ') + attr("name");
            args.clear();
            outs.clear();
        } else if (inInterface && reader.isStartElement() && name == QLatin1String("arg")) {
            if (attr("direction") == QLatin1String("out")) {
                outs << QStringLiteral("out ") + attr("type");
            } else {
                args << (member.startsWith(QLatin1String("method")) ? QStringLiteral("in ") : QString()) +
                            attr("type") + QLatin1Char(' ') + attr("name");
            }
        } else if (inInterface && reader.isEndElement() && isMember) {
            members << member + QLatin1Char('(') + (args + outs).join(QStringLiteral(", ")) + QLatin1Char(')');
        }
    }
    members.sort();
    return members;
}

// A station from before IsReceiving, in a thread of its own (the client's calls block this one). Without an
// error name it lacks the method; otherwise the method answers with that error.
class OldStation : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.parlevox.EchoLink")
public:
    OldStation(QString errorName, QString errorMessage)
        : name_(std::move(errorName)), message_(std::move(errorMessage)) {}
    std::atomic<int> asks{0};

public Q_SLOTS:
    Q_SCRIPTABLE QString OwnCallsign() { return QStringLiteral("QA1OLD"); }
    bool IsReceiving() {
        ++asks;
        sendErrorReply(name_, message_);
        return false;
    }

private:
    QString name_, message_;
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
        connection.unregisterService(QString::fromLatin1(EchoLinkBus::Service));
        connection.unregisterObject(QString::fromLatin1(EchoLinkBus::ObjectPath));
        thread.quit();
        thread.wait();
    }
    OldStation station;
    QThread thread;
    QDBusConnection connection;
    bool registered = false;
};

QStringList firstArguments(const QSignalSpy& spy) {
    QStringList out;
    for (const auto& args : spy) {
        out << args.at(0).toString();
    }
    return out;
}

} // namespace

class DBusEchoLinkClientTest : public QObject {
    Q_OBJECT

    e2e::PrivateBus bus_;
    QDBusConnection connection_{QString()};
    std::unique_ptr<e2e::StationProcess> sim_;
    std::unique_ptr<DBusEchoLinkClient> client_;

    void startStation(const QString& callsign = QStringLiteral("QA1TST")) {
        sim_ = std::make_unique<e2e::StationProcess>(bus_);
        QString error;
        QVERIFY2(sim_->start({QStringLiteral("--callsign"), callsign}, &error), qPrintable(error));
        client_ = std::make_unique<DBusEchoLinkClient>(connection_);
        QVERIFY(client_->isAvailable());
    }
    void simSays(const QStringList& lines) {
        for (const QString& line : lines) {
            sim_->send(line);
        }
        QVERIFY(sim_->sync());
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(bus_.start(&error), qPrintable(error));
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().toUtf8()); // so connectToSession finds it
        connection_ = bus_.connect();
        QVERIFY(connection_.isConnected());
    }
    void cleanup() {
        client_.reset();
        sim_.reset();
    }
    void cleanupTestCase() { bus_.stop(); }

    void stationInterface_matchesInterfaceFile() {
        startStation();
        QFile file(QStringLiteral(ECHOLINK_INTERFACE_XML));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QStringList expected = interfaceMembers(QString::fromUtf8(file.readAll()));
        QCOMPARE(expected.size(), 15);
        const QDBusMessage reply = connection_.call(QDBusMessage::createMethodCall(
            QString::fromLatin1(EchoLinkBus::Service), QString::fromLatin1(EchoLinkBus::ObjectPath),
            QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect")));
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(interfaceMembers(reply.arguments().value(0).toString()), expected);
    }

    void everyRequest_reachesTheStationAndItsAnswerComesBack() {
        startStation(QStringLiteral("qa7own"));
        QCOMPARE(client_->OwnCallsign().value, QStringLiteral("QA7OWN"));
        QVERIFY(sim_->waitForLine(QStringLiteral("> OwnCallsign")));

        QSignalSpy connected(client_.get(), &EchoLinkClient::Connected);
        QSignalSpy disconnected(client_.get(), &EchoLinkClient::Disconnected);
        const CallStatus status = client_->Connect(QStringLiteral("QA2ABC-L"), -1);
        QVERIFY2(status.ok, qPrintable(status.error));
        QVERIFY(sim_->waitForLine(QStringLiteral("> Connect QA2ABC-L -1")));
        QTRY_COMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(0).toString(), QStringLiteral("QA2ABC-L"));
        QVERIFY(!connected.at(0).at(1).toString().isEmpty());
        QVERIFY(connected.at(0).at(2).toString().contains(QLatin1Char('.')));
        QVERIFY(client_->IsConnected(QStringLiteral("QA2ABC-L")).value);
        const CallResult<bool> notThere = client_->IsConnected(QStringLiteral("QA9NOT"));
        QVERIFY(notThere.ok && !notThere.value);
        QCOMPARE(client_->ConnectedCount().value, 1);

        // The name the station knows from before arrives with the connection.
        simSays({QStringLiteral("connect QA3NAM Tallbridge net control"), QStringLiteral("drop QA3NAM"),
                 QStringLiteral("refuse QA1BAD")});
        QVERIFY(client_->Connect(QStringLiteral("QA3NAM"), -1).ok);
        QTRY_COMPARE(connected.size(), 3);
        QCOMPARE(connected.at(2).at(1).toString(), QStringLiteral("Tallbridge net control"));

        const CallStatus refused = client_->Connect(QStringLiteral("QA1BAD"), -1);
        QVERIFY(!refused.ok);
        QVERIFY2(refused.error.contains(QStringLiteral("QA1BAD")), qPrintable(refused.error));
        QVERIFY(client_->isAvailable()); // a refusal is an answer, not a broken station
        const CallStatus notConnected = client_->Disconnect(QStringLiteral("QA5GONE"));
        QVERIFY(!notConnected.ok);
        QVERIFY2(notConnected.error.contains(QStringLiteral("QA5GONE")), qPrintable(notConnected.error));

        disconnected.clear();
        QVERIFY(client_->Disconnect(QStringLiteral("QA2ABC-L")).ok);
        QTRY_COMPARE(firstArguments(disconnected), QStringList{QStringLiteral("QA2ABC-L")});
        QCOMPARE(client_->ConnectedCount().value, 1);
        simSays({QStringLiteral("connect *QA-NET*"), QStringLiteral("connect QA6TRE-L")});
        QVERIFY(client_->DisconnectAll().ok);
        QTRY_COMPARE(firstArguments(disconnected),
                     (QStringList{QStringLiteral("QA2ABC-L"), QStringLiteral("QA3NAM"), QStringLiteral("*QA-NET*"),
                                  QStringLiteral("QA6TRE-L")}));
        QCOMPARE(client_->ConnectedCount().value, 0);

        QCOMPARE(client_->IsTransmitting().value, false);
        QVERIFY(client_->SetTransmit(true).ok);
        QVERIFY(sim_->waitForLine(QStringLiteral("> SetTransmit true")));
        QCOMPARE(client_->IsTransmitting().value, true);
        simSays({QStringLiteral("unkey")});
        QCOMPARE(client_->IsTransmitting().value, false);

        // Control characters and backslashes are escaped in the log, so one request stays one line.
        QVERIFY(client_->SendChatText(QStringLiteral("a\rb\\c")).ok);
        QVERIFY(sim_->waitForLine(QStringLiteral("> SendChatText a\\rb\\\\c")));
        client_->SendChatTextNoWait(QStringLiteral("first"));
        QVERIFY(client_->SendChatText(QStringLiteral("second")).ok);
        client_->SendChatTextNoWait(QStringLiteral("third"));
        for (const char* text : {"first", "second", "third"}) {
            QVERIFY2(sim_->waitForLine(QStringLiteral("> SendChatText ") + QLatin1String(text)), text);
        }
    }

    void floodOfEvents_arrivesWhole_inOrder_andLetsTheEventLoopRunBetween() {
        startStation();
        QStringList seen;
        int ticksWhileFlooding = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ticksWhileFlooding += !seen.isEmpty() && seen.size() < 4000; });
        ticker.start(0);
        connect(client_.get(), &EchoLinkClient::Connected, this, [&](const QString& call) {
            seen << QStringLiteral("+") + call;
            QThread::usleep(50); // a handler with some work to do
        });
        connect(client_.get(), &EchoLinkClient::Disconnected, this,
                [&](const QString& call) { seen << QStringLiteral("-") + call; });
        sim_->send(QStringLiteral("storm 2000"));
        QThread::msleep(1500); // busy, as a window is: the whole storm waits in the queue
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 4000, 30000);
        for (int i = 0; i < 2000; ++i) {
            QCOMPARE(seen.at(i), QStringLiteral("+QS%1").arg(i + 1));
            QCOMPARE(seen.at(2000 + i), QStringLiteral("-QS%1").arg(i + 1));
        }
        QVERIFY(ticksWhileFlooding > 0);
    }

    void eventsOfDifferentKinds_arriveIntactInTheOrderSent() {
        startStation();
        QVERIFY(client_->supportsReceiving());
        QStringList seen;
        connect(client_.get(), &EchoLinkClient::Connected, this,
                [&](const QString& call) { seen << QStringLiteral("C ") + call; });
        connect(client_.get(), &EchoLinkClient::ChatTextReceived, this,
                [&](const QString& text) { seen << QStringLiteral("T ") + text; });
        connect(client_.get(), &EchoLinkClient::Disconnected, this,
                [&](const QString& call) { seen << QStringLiteral("D ") + call; });
        connect(client_.get(), &EchoLinkClient::ReceivingChanged, this, [&](bool on, const QString& call) {
            seen << (on ? QStringLiteral("R+ ") : QStringLiteral("R- ")) + call;
        });
        QCOMPARE(client_->IsReceiving().value, false);
        simSays({QStringLiteral("connect QA8ORD-R"), QStringLiteral("receive QA8ORD-R")});
        const CallResult<bool> receiving = client_->IsReceiving();
        QVERIFY2(receiving.ok && receiving.value, qPrintable(receiving.error));
        for (const char* line : {"chat QA8ORD-R>first\\rsecond \\\\ end ", "receive QA8TWO", "unreceive",
                                 "receive QA8ORD-R", "drop QA8ORD-R"}) {
            sim_->send(QString::fromLatin1(line));
        }
        QTRY_COMPARE(seen.size(), 9);
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("C QA8ORD-R"), QStringLiteral("R+ QA8ORD-R"),
                              QStringLiteral("T QA8ORD-R>first\rsecond \\ end "), QStringLiteral("R- QA8ORD-R"),
                              QStringLiteral("R+ QA8TWO"), QStringLiteral("R- QA8TWO"), QStringLiteral("R+ QA8ORD-R"),
                              QStringLiteral("R- QA8ORD-R"), QStringLiteral("D QA8ORD-R")}));
        QCOMPARE(client_->IsReceiving().value, false);
    }

    void isReceiving_ofStationWithoutIt_failsSayingSoAndStationStaysAvailable_data() {
        QTest::addColumn<QString>("errorName");
        QTest::addColumn<QString>("errorMessage");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("asks"); // of three questions; a lacking method is asked once
        const QString no = EchoLinkClient::receivingNotReportedMessage();
        row("no such method at all (the bus library answers)", "", "", no, 0);
        row("UnknownMethod", "org.freedesktop.DBus.Error.UnknownMethod", "", no, 1);
        row("UnknownInterface", "org.freedesktop.DBus.Error.UnknownInterface", "gone", no, 1);
        row("only the message says so", "org.freedesktop.DBus.Error.Failed", "No such method 'IsReceiving'", no, 1);
        row("the station's own refusal is asked again", "org.parlevox.EchoLink.Error.Refused", "radio off", "radio off",
            3);
    }
    void isReceiving_ofStationWithoutIt_failsSayingSoAndStationStaysAvailable() {
        QFETCH(QString, errorName);
        QFETCH(QString, errorMessage);
        QFETCH(QString, error);
        OldStationOnBus old(bus_, errorName, errorMessage);
        QVERIFY(old.registered);
        client_ = std::make_unique<DBusEchoLinkClient>(connection_);
        QSignalSpy availability(client_.get(), &EchoLinkClient::availabilityChanged);
        const CallResult<bool> receiving = client_->IsReceiving();
        QVERIFY(!receiving.ok);
        QCOMPARE(receiving.error, error);
        QVERIFY(!client_->supportsReceiving());
        QVERIFY(!client_->supportsReceiving());
        QTEST(old.station.asks.load(), "asks");
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
        // A blocking call that ran an event loop would let the event in now, inside the caller's handler.
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
        QCOMPARE(second->OwnCallsign().value, QStringLiteral("QA1TST"));
    }

    void hungStation_callFailsAfterTimeoutThenFastUntilItAnswersAgain() {
        startStation();
        QSignalSpy availability(client_.get(), &EchoLinkClient::availabilityChanged);
        sim_->sendSignal(SIGSTOP);
        QElapsedTimer timer;
        timer.start();
        const CallResult<int> hung = client_->ConnectedCount();
        QVERIFY(!hung.ok);
        QVERIFY2(hung.error.contains(QStringLiteral("did not answer")), qPrintable(hung.error));
        QVERIFY2(timer.elapsed() < 6000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!client_->isAvailable());

        // Later calls fail at once without reaching the bus (one that went out would end in "did not answer").
        timer.restart();
        client_->SendChatTextNoWait(QStringLiteral("into the void"));
        const CallStatus again = client_->SetTransmit(true);
        QVERIFY2(again.error.contains(QStringLiteral("not answering")), qPrintable(again.error));
        for (int tick = 0; tick < 20; ++tick) {
            QCOMPARE(client_->ConnectedCount().error, again.error);
            QCOMPARE(client_->IsConnected(QStringLiteral("QA2ABC")).error, again.error);
        }
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE(availability.size(), 1);
        QCOMPARE(availability.at(0).at(0).toBool(), false);

        sim_->sendSignal(SIGCONT);
        QTRY_COMPARE_WITH_TIMEOUT(availability.size(), 2, 10000);
        QCOMPARE(availability.at(1).at(0).toBool(), true);
        QVERIFY(client_->OwnCallsign().ok);
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
        QVERIFY(client_->IsTransmitting().ok);
        QCoreApplication::processEvents();
        QCOMPARE(availability.size(), 0);
    }

    void vanishedStation_callsFailFast_andANewStationIsBoundByItself() {
        startStation();
        QSignalSpy availability(client_.get(), &EchoLinkClient::availabilityChanged);
        QSignalSpy chat(client_.get(), &EchoLinkClient::ChatTextReceived);
        sim_->sendSignal(SIGKILL);
        QVERIFY(sim_->waitForExit());
        QTRY_COMPARE(availability.size(), 1);
        QCOMPARE(availability.at(0).at(0).toBool(), false);
        QElapsedTimer timer;
        timer.start();
        const CallStatus status = client_->Connect(QStringLiteral("QA2ABC"), -1);
        QVERIFY2(status.error.contains(QStringLiteral("not running")), qPrintable(status.error));
        QVERIFY(!client_->IsTransmitting().ok);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));

        sim_ = std::make_unique<e2e::StationProcess>(bus_);
        QString error;
        QVERIFY2(sim_->start({QStringLiteral("--callsign"), QStringLiteral("QA2NEW")}, &error), qPrintable(error));
        QTRY_COMPARE(availability.size(), 2);
        QCOMPARE(availability.at(1).at(0).toBool(), true);
        QCOMPARE(client_->OwnCallsign().value, QStringLiteral("QA2NEW"));
        sim_->send(QStringLiteral("chat QA1BRK>from the new station"));
        QTRY_COMPARE(firstArguments(chat), QStringList{QStringLiteral("QA1BRK>from the new station")});
    }

    void startup_saysWhatIsMissingOrGivesAWorkingClient() {
        const QDBusConnection nowhere = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/parlevox-bus"), QStringLiteral("nowhere"));
        QString error;
        QVERIFY(!DBusEchoLinkClient::connectTo(nowhere, &error));
        QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
        QVERIFY2(error.startsWith(QStringLiteral("No D-Bus session bus is available")), qPrintable(error));

        QVERIFY(!DBusEchoLinkClient::connectToSession(&error));
        QVERIFY2(error.startsWith(QStringLiteral("No EchoLink station program is running.")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("echolink-sim")), qPrintable(error));

        startStation();
        const auto client = DBusEchoLinkClient::connectToSession(&error);
        QVERIFY2(client, qPrintable(error));
        QCOMPARE(client->OwnCallsign().value, QStringLiteral("QA1TST"));
        QSignalSpy chat(client.get(), &EchoLinkClient::ChatTextReceived);
        sim_->send(QStringLiteral("chat QA1BRK>session bus"));
        QTRY_COMPARE(chat.size(), 1);
    }
};

QTEST_GUILESS_MAIN(DBusEchoLinkClientTest)
#include "DBusEchoLinkClientTest.moc"
