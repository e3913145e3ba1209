// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in station as a program: its name on the bus, its input, its exit, its demo.
#include "DBusEchoLinkClient.h"
#include "StationHarness.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>

class EchoLinkSimTest : public QObject {
    Q_OBJECT

private:
    e2e::PrivateBus bus_;
    QDBusConnection connection_{QString()};
    QTemporaryDir dir_;

    QString writeScript(const QString& name, const QByteArray& text) {
        QFile file(dir_.filePath(name));
        if (!file.open(QIODevice::WriteOnly)) {
            return {};
        }
        file.write(text);
        return file.fileName();
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(bus_.start(&error), qPrintable(error));
        connection_ = bus_.connect();
        QVERIFY(connection_.isConnected());
        QVERIFY(dir_.isValid());
    }

    void cleanupTestCase() { bus_.stop(); }

    void secondStation_cannotTakeTheNameAndEndsWithAnError() {
        e2e::StationProcess first(bus_);
        QString error;
        QVERIFY2(first.start({}, &error), qPrintable(error));
        e2e::StationProcess second(bus_);
        QVERIFY2(second.start({}, &error, false), qPrintable(error));
        QVERIFY(second.waitForExit());
        QCOMPARE(second.exitCode(), 1);
        QVERIFY2(second.errors().contains(QStringLiteral("already taken")), qPrintable(second.errors()));
        QVERIFY(first.isRunning());
    }

    void noSessionBus_endsWithAnError() {
        e2e::StationProcess sim(bus_);
        QProcessEnvironment env = bus_.environment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/parlevox-bus"));
        sim.setEnvironment(env);
        QString error;
        QVERIFY2(sim.start({}, &error, false), qPrintable(error));
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.exitCode(), 1);
        QVERIFY2(sim.errors().contains(QStringLiteral("no D-Bus session bus")), qPrintable(sim.errors()));
    }

    void script_runsInOrderAndCloseSendsClosingThenEnds() {
        const QString script = writeScript(QStringLiteral("run.txt"), "# a short session\r\n"
                                                                      "wait-client\r\n"
                                                                      "connect QA1BRK Brackenford home\r\n"
                                                                      "chat QA1BRK>one\\rtwo\r\n"
                                                                      "pause 50\r\n"
                                                                      "drop QA1BRK\r\n"
                                                                      "close\r\n");
        e2e::StationProcess sim(bus_);
        QString error;
        QVERIFY2(sim.start({QStringLiteral("--script"), script}, &error), qPrintable(error));
        QVERIFY(sim.waitForLine(QStringLiteral("# waiting for a client")));

        DBusEchoLinkClient client(connection_);
        QStringList seen;
        connect(
            &client, &EchoLinkClient::Connected, this,
            [&](const QString& call, const QString& name, const QString&) { seen << call + QLatin1Char('/') + name; });
        connect(&client, &EchoLinkClient::ChatTextReceived, this, [&](const QString& text) { seen << text; });
        connect(&client, &EchoLinkClient::Disconnected, this,
                [&](const QString& call) { seen << QStringLiteral("-") + call; });
        connect(&client, &EchoLinkClient::Closing, this, [&] { seen << QStringLiteral("closing"); });
        QVERIFY(client.OwnCallsign().ok); // the first request lets the script go on

        QTRY_COMPARE(seen.size(), 4);
        QCOMPARE(seen, (QStringList{QStringLiteral("QA1BRK/Brackenford home"), QStringLiteral("QA1BRK>one\rtwo"),
                                    QStringLiteral("-QA1BRK"), QStringLiteral("closing")}));
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(sim.waitForLine(QStringLiteral("< ChatTextReceived QA1BRK>one\\rtwo")));
    }

    void scriptWithABadLine_isRefusedBeforeAnythingHappens() {
        const QString script = writeScript(QStringLiteral("bad.txt"), "chat QA1BRK>fine\nshout QA1BRK\n");
        e2e::StationProcess sim(bus_);
        QString error;
        QVERIFY2(sim.start({QStringLiteral("--script"), script}, &error, false), qPrintable(error));
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY2(sim.errors().contains(QStringLiteral("bad.txt:2:")), qPrintable(sim.errors()));
        QVERIFY(sim.lines().isEmpty());
    }

    void badLineOnStdin_isReportedAndTheNextLineStillRuns() {
        e2e::StationProcess sim(bus_);
        QString error;
        QVERIFY2(sim.start({}, &error), qPrintable(error));
        sim.send(QStringLiteral("pause soon"));
        sim.send(QStringLiteral("chat QA1BRK>still here"));
        QVERIFY(sim.waitForLine(QStringLiteral("< ChatTextReceived QA1BRK>still here")));
        QVERIFY2(sim.errors().contains(QStringLiteral("stdin:1:")), qPrintable(sim.errors()));
    }

    void pause_holdsLaterCommandsButNotRequests() {
        e2e::StationProcess sim(bus_);
        QString error;
        QVERIFY2(sim.start({}, &error), qPrintable(error));
        sim.send(QStringLiteral("pause 60000"));
        sim.send(QStringLiteral("chat QA1BRK>held back"));
        DBusEchoLinkClient client(connection_);
        QVERIFY(client.SendChatText(QStringLiteral("answered")).ok);
        QVERIFY(sim.waitForLine(QStringLiteral("> SendChatText answered")));
        QTest::qWait(300);
        QVERIFY(!sim.lines().contains(QStringLiteral("< ChatTextReceived QA1BRK>held back")));
    }

    void endOfStdin_runsWhatIsLeftThenEnds() {
        e2e::StationProcess sim(bus_);
        QString error;
        QVERIFY2(sim.start({}, &error), qPrintable(error));
        sim.send(QStringLiteral("pause 100"));
        sim.send(QStringLiteral("chat QA1BRK>last words"));
        sim.closeInput();
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(sim.waitForLine(QStringLiteral("< ChatTextReceived QA1BRK>last words")));
    }

    void endOfStdin_withStay_keepsTheStationRunning() {
        e2e::StationProcess sim(bus_);
        QString error;
        QVERIFY2(sim.start({QStringLiteral("--stay")}, &error), qPrintable(error));
        sim.closeInput();
        DBusEchoLinkClient client(connection_);
        QVERIFY(client.isAvailable());
        // The station still answers after it has seen the end of its input.
        QVERIFY(client.SetTransmit(true).ok);
        QVERIFY(sim.waitForLine(QStringLiteral("> SetTransmit true")));
        QVERIFY(sim.isRunning());
    }

    void quit_endsWithoutClosing() {
        e2e::StationProcess sim(bus_);
        QString error;
        QVERIFY2(sim.start({}, &error), qPrintable(error));
        DBusEchoLinkClient client(connection_);
        QSignalSpy closing(&client, &EchoLinkClient::Closing);
        QSignalSpy availability(&client, &EchoLinkClient::availabilityChanged);
        sim.send(QStringLiteral("quit"));
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.exitCode(), 0);
        QTRY_COMPARE(availability.size(), 1);
        QCOMPARE(closing.size(), 0);
    }

    void demo_playsStationsOfEveryKindChattingConnectingAndKeying() {
        e2e::StationProcess sim(bus_);
        QString error;
        QVERIFY2(sim.start({QStringLiteral("--demo"), QStringLiteral("--pace"), QStringLiteral("10"),
                            QStringLiteral("--seed"), QStringLiteral("11")},
                           &error),
                 qPrintable(error));
        DBusEchoLinkClient client(connection_);
        QStringList connectedCalls;
        QStringList chat;
        int drops = 0;
        connect(&client, &EchoLinkClient::Connected, this,
                [&](const QString& call, const QString&, const QString&) { connectedCalls << call; });
        connect(&client, &EchoLinkClient::ChatTextReceived, this, [&](const QString& text) { chat << text; });
        connect(&client, &EchoLinkClient::Disconnected, this, [&](const QString&) { ++drops; });
        auto has = [](const QStringList& calls, auto test) { return std::any_of(calls.begin(), calls.end(), test); };
        auto varied = [&] {
            return has(connectedCalls, [](const QString& c) { return c.endsWith(QLatin1String("-L")); }) &&
                   has(connectedCalls, [](const QString& c) { return c.endsWith(QLatin1String("-R")); }) &&
                   has(connectedCalls, [](const QString& c) { return c.startsWith(QLatin1Char('*')); }) &&
                   has(connectedCalls,
                       [](const QString& c) {
                           return !c.contains(QLatin1Char('-')) && !c.startsWith(QLatin1Char('*'));
                       }) &&
                   has(chat, [](const QString& t) { return t.contains(QLatin1String("/ver/")); }) && drops > 0 &&
                   sim.lines().contains(QStringLiteral("# transmitter keyed"));
        };
        QVERIFY2(QTest::qWaitFor(varied, 30000), qPrintable(sim.lines().mid(0, 60).join(QLatin1Char('\n'))));
        for (const QString& line : chat) {
            QVERIFY2(line.indexOf(QLatin1Char('>')) > 0, qPrintable(line));
        }
        // The demo's stations are the station's state: the client sees the same count.
        const CallResult<int> count = client.ConnectedCount();
        QVERIFY(count.ok);
        QVERIFY(count.value >= 0 && count.value <= 18);

        // It does not end with its input.
        sim.closeInput();
        QTest::qWait(200);
        QVERIFY(sim.isRunning());
    }
};

QTEST_GUILESS_MAIN(EchoLinkSimTest)
#include "EchoLinkSimTest.moc"
