// SPDX-License-Identifier: GPL-3.0-or-later
// The D-Bus client against the real echolink-sim on a private bus.
#include "platform/DBusEchoLinkClient.h"

#include "DataRow.h"
#include "StationHarness.h"
#include "platform/EchoLinkBus.h"

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QtTest>

namespace {

// A station from before IsReceiving, in a thread of its own (the client's calls block this one): the method answers
// with the error named in "reply", followed by its message.
class OldStation : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.parlevox.EchoLink")
public:
    QString reply;
    std::atomic<int> asks{0};
public Q_SLOTS:
    QString OwnCallsign() { return QStringLiteral("QA1OLD"); }
    bool IsReceiving() {
        ++asks;
        sendErrorReply(reply.section(u' ', 0, 0), reply.section(u' ', 1));
        return false;
    }
};

} // namespace

class DBusEchoLinkClientTest : public QObject {
    Q_OBJECT
    e2e::PrivateBus bus_;
    QDBusConnection connection_{QString()};
    std::unique_ptr<e2e::StationProcess> sim_;
    std::unique_ptr<DBusEchoLinkClient> client_;
    QStringList seen_; // the client's events, as "C QA1ABC Town name"

    // With a new client that notes its events, or the one there finding the station by itself.
    void startStation(const QStringList& arguments = {}, bool newClient = true) {
        sim_ = std::make_unique<e2e::StationProcess>(bus_);
        QString error;
        QVERIFY2(sim_->start(arguments, &error), qPrintable(error));
        if (!newClient) {
            QTRY_VERIFY(client_->isAvailable());
            return;
        }
        client_ = std::make_unique<DBusEchoLinkClient>(connection_);
        QVERIFY(client_->isAvailable());
        seen_.clear();
        const auto note = [this](const char* what) {
            return [this, what](const auto&... a) {
                seen_ << QStringList{QLatin1String(what), QVariant(a).toString()...}.join(u' ').trimmed();
            };
        };
        connect(client_.get(), &EchoLinkClient::Connected, this, note("C"));
        connect(client_.get(), &EchoLinkClient::Disconnected, this, note("D"));
        connect(client_.get(), &EchoLinkClient::ChatTextReceived, this, note("T"));
        connect(client_.get(), &EchoLinkClient::ReceivingChanged, this, note("R"));
        connect(client_.get(), &EchoLinkClient::Closing, this, note("Closing"));
        connect(client_.get(), &EchoLinkClient::availabilityChanged, this, note("A"));
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(bus_.start(&error), qPrintable(error));
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().toUtf8()); // connectToSession finds it
        connection_ = bus_.connect();
    }
    void cleanup() {
        client_.reset();
        sim_.reset();
    }

    // One station from start to close: what is missing before it runs, its interface, every request, and the events
    // whole and in order, a flood of them in slices that let the event loop run between.
    void station_answersEveryRequest_eventsArriveWholeInOrder() {
        QString error;
        const auto nowhere =
            QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nowhere"));
        QVERIFY(!DBusEchoLinkClient::connectTo(nowhere, &error));
        QVERIFY2(error.startsWith(QStringLiteral("No D-Bus session bus is available")), qPrintable(error));
        QVERIFY(!DBusEchoLinkClient::connectToSession(&error));
        QVERIFY2(error.startsWith(QStringLiteral("No EchoLink station program is running.")), qPrintable(error));
        startStation({QStringLiteral("--callsign"), QStringLiteral("qa7own")});
        const auto session = DBusEchoLinkClient::connectToSession(&error);
        QVERIFY2(session, qPrintable(error));
        QCOMPARE(session->OwnCallsign().value, QStringLiteral("QA7OWN"));

        // Introspection shows our interface as written, argument names and all.
        const auto written = QRegularExpression(QStringLiteral("<interface [^>]*>.*</interface>"),
                                                QRegularExpression::DotMatchesEverythingOption)
                                 .match(QString::fromUtf8(readFile(QStringLiteral(ECHOLINK_INTERFACE_XML))));
        const QDBusMessage reply = connection_.call(QDBusMessage::createMethodCall(
            QLatin1String(EchoLinkBus::Service), QLatin1String(EchoLinkBus::ObjectPath),
            QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect")));
        QVERIFY(written.hasMatch() && reply.arguments().value(0).toString().contains(written.captured()));

        // A blocking call that ran an event loop would hand the event out inside the caller's handler.
        DBusEchoLinkClient second(connection_);
        QSignalSpy chat(&second, &EchoLinkClient::ChatTextReceived);
        sim_->send(QStringLiteral("chat QA1BRK>while busy"));
        QVERIFY(sim_->waitForLine(QStringLiteral("< ChatTextReceived QA1BRK>while busy")));
        QVERIFY(client_->ConnectedCount().ok && seen_.isEmpty());
        QTRY_COMPARE(seen_, QStringList{QStringLiteral("T QA1BRK>while busy")});
        QTRY_COMPARE(chat.size(), 1);

        sim_->send(QStringLiteral("refuse QA1BAD\nconnect QA3NAM Tallbridge net\ndrop QA3NAM"));
        QVERIFY(sim_->waitForLine(QStringLiteral("< Disconnected QA3NAM")));
        QVERIFY(client_->Connect(QStringLiteral("QA2ABC-L"), -1).ok);
        QTRY_COMPARE(seen_.join(u'|'), QStringLiteral("T QA1BRK>while busy|C QA3NAM Tallbridge net 203.0.113.38|"
                                                      "D QA3NAM|C QA2ABC-L Brackenford simplex link 203.0.113.92"));
        seen_.clear();
        QVERIFY(client_->IsConnected(QStringLiteral("QA2ABC-L")).value);
        QCOMPARE(client_->ConnectedCount().value, 1);
        QVERIFY(client_->Connect(QStringLiteral("QA1BAD"), -1).error.contains(QStringLiteral("QA1BAD")));
        QVERIFY(client_->Disconnect(QStringLiteral("QA2ABC-L")).ok && client_->DisconnectAll().ok);
        QVERIFY(!client_->IsTransmitting().value && client_->SetTransmit(true).ok && client_->IsTransmitting().value);
        client_->SendChatTextNoWait(QStringLiteral("first"));
        QVERIFY(client_->SendChatText(QStringLiteral("a\rb\\c")).ok);
        client_->SendChatTextNoWait(QStringLiteral("third"));
        for (const char* line : {"Connect QA2ABC-L -1", "Disconnect QA2ABC-L", "DisconnectAll", "SetTransmit true",
                                 "SendChatText first", "SendChatText a\\rb\\\\c", "SendChatText third"}) {
            QVERIFY2(sim_->waitForLine(QStringLiteral("> ") + QLatin1String(line)), line);
        }

        QVERIFY(client_->supportsReceiving() && !client_->IsReceiving().value);
        sim_->send(QStringLiteral("connect QA8ORD\nreceive QA8ORD"));
        QVERIFY(sim_->waitForLine(QStringLiteral("< ReceivingChanged true QA8ORD")) && client_->IsReceiving().value);
        sim_->send(QStringLiteral("chat QA8ORD>one\\rtwo \\\\ end \nreceive QA8TWO\nunreceive\ndrop QA8ORD"));
        QTRY_COMPARE(seen_.join(u'|'), QStringLiteral("D QA2ABC-L|C QA8ORD Operator in Brackenford 203.0.113.89|"
                                                      "R true QA8ORD|T QA8ORD>one\rtwo \\ end|R false QA8ORD|"
                                                      "R true QA8TWO|R false QA8TWO|D QA8ORD"));
        seen_.clear();

        // Slow within the call's timeout, woken from outside (this thread is inside the call meanwhile): waited for.
        const uint pid = connection_.interface()->servicePid(QLatin1String(EchoLinkBus::Service)).value();
        sim_->sendSignal(SIGSTOP);
        QVERIFY(QProcess::startDetached(QStringLiteral("sh"),
                                        {QStringLiteral("-c"), QStringLiteral("sleep 0.5; kill -CONT %1").arg(pid)}));
        QVERIFY(client_->ConnectedCount().ok && client_->IsTransmitting().ok);

        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { ticks += !seen_.isEmpty() && seen_.size() < 4000; });
        ticker.start(0);
        // Handlers with some work to do, so that the flood spans more than one slice of the event loop.
        connect(client_.get(), &EchoLinkClient::Connected, this, [] { QThread::usleep(50); });
        sim_->send(QStringLiteral("storm 2000"));
        QThread::msleep(1500); // busy, as a window is: the whole storm waits in the queue
        QTRY_COMPARE_WITH_TIMEOUT(seen_.size(), 4000, 30000);
        for (int i = 0; i < 2000; ++i) {
            QVERIFY(seen_.at(i).startsWith(QStringLiteral("C QS%1 ").arg(i + 1)) &&
                    seen_.at(2000 + i) == QStringLiteral("D QS%1").arg(i + 1));
        }
        QVERIFY(ticks > 0);
        sim_->send(QStringLiteral("close"));
        QTRY_COMPARE(seen_.value(4000), QStringLiteral("Closing"));
        QVERIFY(sim_->waitForExit() && sim_->exitCode() == 0);
    }

    void isReceiving_ofStationWithoutIt_failsSayingSo_stationStaysAvailable_data() {
        columns<QString, QString, int>("reply", "error", "asks"); // reply: the error's name, then its message
        const QString no = EchoLinkClient::receivingNotReportedMessage();
        row("UnknownMethod", "org.freedesktop.DBus.Error.UnknownMethod", no, 1);
        row("UnknownInterface", "org.freedesktop.DBus.Error.UnknownInterface gone", no, 1);
        row("only the message says so", "org.freedesktop.DBus.Error.Failed No such method 'IsReceiving'", no, 1);
        row("the station's own refusal: asked again", "org.parlevox.EchoLink.Error.Refused radio off", "radio off", 3);
    }
    void isReceiving_ofStationWithoutIt_failsSayingSo_stationStaysAvailable() {
        QFETCH(QString, reply);
        OldStation old;
        old.reply = reply;
        QThread thread;
        thread.start();
        old.moveToThread(&thread);
        QDBusConnection other = bus_.connect();
        QVERIFY(other.registerObject(QLatin1String(EchoLinkBus::ObjectPath), &old, QDBusConnection::ExportAllSlots));
        QVERIFY(other.registerService(QLatin1String(EchoLinkBus::Service)));
        client_ = std::make_unique<DBusEchoLinkClient>(connection_);
        QTEST(client_->IsReceiving().error, "error");
        QVERIFY(!client_->supportsReceiving() && !client_->supportsReceiving());
        QTEST(old.asks.load(), "asks");
        QCOMPARE(client_->OwnCallsign().value, QStringLiteral("QA1OLD")); // still available
        other.unregisterService(QLatin1String(EchoLinkBus::Service));
        thread.quit();
        thread.wait();
        QTRY_VERIFY(!client_->isAvailable());
        startStation({}, false); // the next station is asked anew
        QVERIFY(client_->supportsReceiving());
    }

    // Hung: one call waits the timeout, the next fail at once until it answers again. Gone: calls fail at once, and
    // the next station is bound by itself.
    void stationHungOrGone_callsFailFast_andItComesBack_data() {
        columns<bool>("hung");
        row("hung", true);
        row("gone", false);
    }
    void stationHungOrGone_callsFailFast_andItComesBack() {
        QFETCH(bool, hung);
        startStation();
        sim_->sendSignal(hung ? SIGSTOP : SIGKILL);
        QElapsedTimer timer;
        timer.start();
        if (hung) {
            QVERIFY(client_->ConnectedCount().error.contains(QStringLiteral("did not answer")));
            QVERIFY2(timer.restart() < 6000, "one timeout");
        }
        QTRY_COMPARE(seen_, QStringList{QStringLiteral("A false")});
        for (int tick = 0; tick < 20; ++tick) {
            QVERIFY(client_->IsConnected(QStringLiteral("QA2ABC"))
                        .error.contains(QLatin1String(hung ? "not answering" : "not running")));
        }
        QVERIFY2(timer.elapsed() < 1000, "no call goes out");
        if (hung) {
            sim_->sendSignal(SIGCONT);
        } else {
            startStation({QStringLiteral("--callsign"), QStringLiteral("QA2NEW")}, false);
        }
        QTRY_COMPARE_WITH_TIMEOUT(seen_.value(1), QStringLiteral("A true"), 10000);
        sim_->send(QStringLiteral("chat QA1BRK>back"));
        QTRY_COMPARE(seen_.value(2), QStringLiteral("T QA1BRK>back"));
    }
};

QTEST_GUILESS_MAIN(DBusEchoLinkClientTest)
#include "DBusEchoLinkClientTest.moc"
