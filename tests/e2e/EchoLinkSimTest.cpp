// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in station as a program: its name on the bus, its input, its exit, its demo.
#include "DBusEchoLinkClient.h"
#include "DataRow.h"
#include "StationHarness.h"

#include <QSignalSpy>
#include <QTemporaryDir>

class EchoLinkSimTest : public QObject {
    Q_OBJECT

private:
    e2e::PrivateBus bus_;
    QDBusConnection connection_{QString()};
    QTemporaryDir dir_;

    QString script(const QString& name, const QByteArray& text) {
        return e2e::writeFile(dir_.filePath(name), text) ? dir_.filePath(name) : QString();
    }
    bool start(e2e::StationProcess& sim, const QStringList& arguments = {}) {
        QString error;
        const bool started = sim.start(arguments, &error);
        if (!started) {
            qWarning().noquote() << error;
        }
        return started;
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(bus_.start(&error), qPrintable(error));
        connection_ = bus_.connect();
        QVERIFY(connection_.isConnected() && dir_.isValid());
    }

    void cannotRun_endsAtOnceWithCodeAndReason_data() {
        QTest::addColumn<QString>("problem");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        row("name taken", "taken", 1, "already taken");
        row("no session bus", "nobus", 1, "no D-Bus session bus");
        row("bad script line, refused before anything runs", "script", 2, "bad.txt:2:");
    }
    void cannotRun_endsAtOnceWithCodeAndReason() {
        QFETCH(QString, problem);
        QFETCH(int, code);
        QFETCH(QString, reason);
        e2e::StationProcess first(bus_);
        QVERIFY(problem != QLatin1String("taken") || start(first));
        e2e::StationProcess sim(bus_);
        QProcessEnvironment env = bus_.environment();
        if (problem == QLatin1String("nobus")) {
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        }
        sim.setEnvironment(env);
        QStringList arguments;
        if (problem == QLatin1String("script")) {
            arguments = QStringList{QStringLiteral("--script"),
                                    script(QStringLiteral("bad.txt"), "chat QA1BRK>fine\nshout QA1BRK\n")};
        }
        QString error;
        QVERIFY2(sim.start(arguments, &error, false), qPrintable(error));
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.exitCode(), code);
        QVERIFY2(sim.errors().contains(reason), qPrintable(sim.errors()));
        QVERIFY(sim.lines().isEmpty());
        QCOMPARE(first.isRunning(), problem == QLatin1String("taken"));
    }

    void script_runsInOrderAndCloseSendsClosingThenEnds() {
        e2e::StationProcess sim(bus_);
        QVERIFY(start(
            sim, {QStringLiteral("--script"), script(QStringLiteral("run.txt"), "# a short session\r\nwait-client\r\n"
                                                                                "connect QA1BRK Brackenford home\r\n"
                                                                                "chat QA1BRK>one\\rtwo\r\npause 50\r\n"
                                                                                "drop QA1BRK\r\nclose\r\n")}));
        QVERIFY(sim.waitForLine(QStringLiteral("# waiting for a client")));
        DBusEchoLinkClient client(connection_);
        QStringList seen;
        connect(
            &client, &EchoLinkClient::Connected, this,
            [&](const QString& call, const QString& name, const QString&) { seen << call + QLatin1Char('/') + name; });
        connect(&client, &EchoLinkClient::ChatTextReceived, this, [&](const QString& text) { seen << text; });
        connect(&client, &EchoLinkClient::Disconnected, this,
                [&](const QString& call) { seen << QLatin1Char('-') + call; });
        connect(&client, &EchoLinkClient::Closing, this, [&] { seen << QStringLiteral("closing"); });
        QVERIFY(client.OwnCallsign().ok); // the first request lets the script go on
        QTRY_COMPARE(seen.size(), 4);
        QCOMPARE(seen, (QStringList{QStringLiteral("QA1BRK/Brackenford home"), QStringLiteral("QA1BRK>one\rtwo"),
                                    QStringLiteral("-QA1BRK"), QStringLiteral("closing")}));
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(sim.waitForLine(QStringLiteral("< ChatTextReceived QA1BRK>one\\rtwo")));
    }

    // A bad line is reported and skipped; at the end of its input the sim runs what is left, then ends.
    void stdin_badLineSkipped_endOfInputRunsTheRestThenEnds() {
        e2e::StationProcess sim(bus_);
        QVERIFY(start(sim));
        sim.send(QStringLiteral("pause soon"));
        sim.send(QStringLiteral("pause 100"));
        sim.send(QStringLiteral("chat QA1BRK>last words"));
        sim.closeInput();
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(sim.waitForLine(QStringLiteral("< ChatTextReceived QA1BRK>last words")));
        QVERIFY2(sim.errors().contains(QStringLiteral("stdin:1:")), qPrintable(sim.errors()));
    }

    void pause_holdsLaterCommandsButNotRequests() {
        e2e::StationProcess sim(bus_);
        QVERIFY(start(sim));
        sim.send(QStringLiteral("pause 60000"));
        sim.send(QStringLiteral("chat QA1BRK>held back"));
        DBusEchoLinkClient client(connection_);
        QVERIFY(client.SendChatText(QStringLiteral("answered")).ok);
        QVERIFY(sim.waitForLine(QStringLiteral("> SendChatText answered")));
        QTest::qWait(300);
        QVERIFY(!sim.lines().contains(QStringLiteral("< ChatTextReceived QA1BRK>held back")));
    }

    void quit_endsWithoutClosing() {
        e2e::StationProcess sim(bus_);
        QVERIFY(start(sim));
        DBusEchoLinkClient client(connection_);
        QSignalSpy closing(&client, &EchoLinkClient::Closing);
        QSignalSpy availability(&client, &EchoLinkClient::availabilityChanged);
        sim.send(QStringLiteral("quit"));
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.exitCode(), 0);
        QTRY_COMPARE(availability.size(), 1);
        QCOMPARE(closing.size(), 0);
    }

    void endOfInputWithStay_stationKeepsRunningAndAnswering() {
        e2e::StationProcess sim(bus_);
        QVERIFY(start(sim, {QStringLiteral("--stay")}));
        sim.closeInput();
        DBusEchoLinkClient client(connection_);
        QVERIFY(client.SetTransmit(true).ok);
        QVERIFY(sim.waitForLine(QStringLiteral("> SetTransmit true")));
        QVERIFY(sim.isRunning());
    }

    void demo_playsStationsOfEveryKind_andOutlivesItsInput() {
        e2e::StationProcess sim(bus_);
        QVERIFY(start(sim, {QStringLiteral("--demo"), QStringLiteral("--pace"), QStringLiteral("10"),
                            QStringLiteral("--seed"), QStringLiteral("11")}));
        DBusEchoLinkClient client(connection_);
        QStringList calls, chat;
        int drops = 0;
        connect(&client, &EchoLinkClient::Connected, this,
                [&](const QString& call, const QString&, const QString&) { calls << call; });
        connect(&client, &EchoLinkClient::ChatTextReceived, this, [&](const QString& text) { chat << text; });
        connect(&client, &EchoLinkClient::Disconnected, this, [&](const QString&) { ++drops; });
        auto has = [](const QStringList& list, const QString& pattern) {
            return !list.filter(QRegularExpression(pattern)).isEmpty();
        };
        auto varied = [&] {
            return has(calls, QStringLiteral("-L$")) && has(calls, QStringLiteral("-R$")) &&
                   has(calls, QStringLiteral("^\\*")) && has(calls, QStringLiteral("^[^-*]+$")) &&
                   has(chat, QStringLiteral("/ver/")) && drops > 0 &&
                   sim.lines().contains(QStringLiteral("# transmitter keyed"));
        };
        QVERIFY2(QTest::qWaitFor(varied, 30000), qPrintable(sim.lines().mid(0, 60).join(QLatin1Char('\n'))));
        QVERIFY2(chat.filter(QRegularExpression(QStringLiteral("^[^>]+>"))).size() == chat.size(),
                 qPrintable(chat.join(QLatin1Char('\n'))));
        const CallResult<int> count = client.ConnectedCount(); // the demo's stations are the station's state
        QVERIFY(count.ok && count.value >= 0 && count.value <= 18);
        sim.closeInput();
        QTest::qWait(200);
        QVERIFY(sim.isRunning());
    }
};

QTEST_GUILESS_MAIN(EchoLinkSimTest)
#include "EchoLinkSimTest.moc"
