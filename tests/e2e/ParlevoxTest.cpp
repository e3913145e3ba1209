// SPDX-License-Identifier: GPL-3.0-or-later
// Parlevox beside echolink-sim on a private bus, screen and speech server, read by Orca as a blind user has it;
// and echolink-sim as a program. Keys and clicks go in with xdotool; what is said is read back from the server.
#include "DataRow.h"
#include "OrcaHarness.h"
#include "ParlevoxHarness.h"

using namespace e2e;

class ParlevoxTest : public QObject {
    Q_OBJECT

    ParlevoxWorld world_{0.05};
    OrcaScreenReader orca_{world_.speech};
    VirtualScreen& screen_ = world_.screen;
    QString& window_ = world_.window;

    // A message box of the program (its title is the product name alone), dismissed.
    bool dismissMessageBox() const {
        const QString box = screen_.findWindow(QStringLiteral("^Parlevox$"), 60000);
        return !box.isEmpty() && screen_.key(box, QStringLiteral("Return"));
    }
    // At a control's place in twips (src/app/MainLayout.cpp), frame offsets added.
    bool click(int left, int top, int width, int height) {
        return screen_.click(window_, {(left + width / 2) / 15, (top + height / 2) / 15});
    }
    bool heard(const QString& pattern) {
        return !orca_.waitForSaid(pattern).isEmpty() || (qWarning() << pattern << "not heard:" << orca_.said(), false);
    }
    // Orca's "where am I" (keypad Enter) names the control that has the focus.
    bool focusOn(const QString& control) {
        orca_.mark();
        return screen_.xdotool({QStringLiteral("key"), QStringLiteral("KP_Enter")}) &&
               heard(QStringLiteral("^") + control);
    }
    // Each stop must be heard: Orca's own texts end with a full stop, its echo of the key does not.
    bool walk(const QString& key, int stops) {
        for (int i = 0; i < stops; ++i) {
            orca_.mark();
            if (!screen_.xdotool({QStringLiteral("key"), key}) || !heard(QStringLiteral("\\.$"))) {
                return false;
            }
        }
        QTest::qWait(150); // the rest of what it says at the last stop
        return true;
    }

private Q_SLOTS:
    void initTestCase() {
        // What the bus starts while no station runs: parlevox-station without settings, which ends at once.
        QVERIFY(writeFile(world_.home.filePath(QStringLiteral("station.service")),
                          "[D-BUS Service]\nName=org.parlevox.EchoLink\nExec=" PARLEVOX_STATION_PATH
                          " --config /none --bind 127.0.0.1 --directory 127.0.0.1 --no-audio\n"));
        QString problem = OrcaScreenReader::missing();
        QVERIFY2(problem.isEmpty() && (problem = world_.start(world_.home.path())).isEmpty(), qPrintable(problem));
        QVERIFY2((problem = orca_.start(world_.bus.environment(), screen_.display())).isEmpty(), qPrintable(problem));
        QVERIFY(writeFile(world_.home.filePath(QStringLiteral("run.txt")),
                          "# a session\r\nconnect QA1BRK Brackenford home\r\nchat QA1BRK>one\\rtwo\r\nclose\r\n"));
        QVERIFY(writeFile(world_.home.filePath(QStringLiteral("bad.txt")), "chat QA1BRK>fine\nshout QA1BRK\n"));
    }

    void sim_runsItsInputThenEndsOrStays_data() {
        QTest::addColumn<QString>("arguments"); // HOME: the folder of run.txt and bad.txt
        QTest::addColumn<QString>("input");     // lines, '|' between
        QTest::addColumn<int>("exitCode");      // -1: still running
        QTest::addColumn<QString>("output");    // stdout, then stderr after a line of its own: "--"
        row("bad script line, refused before anything runs", "--script HOME/bad.txt", "", 2, "^--\n.*bad.txt:2:");
        row("script in order, then closing", "--script HOME/run.txt", "", 0,
            "\n< Connected QA1BRK .*\n< ChatTextReceived QA1BRK>one\\\\rtwo\n.*< Closing\n.*--\n$");
        row("end of input: bad line skipped, rest run", "", "pause soon|pause 99|chat QA1BRK>last", 0,
            "< ChatTextReceived QA1BRK>last\n.*--\n.*stdin:1:");
        row("quit ends at once, without closing", "", "quit|chat QA1BRK>never", 0, "^(?!.*(Closing|never))");
        row("--stay outlives its input", "--stay", "chat QA1BRK>here", -1, "< ChatTextReceived QA1BRK>here");
    }
    void sim_runsItsInputThenEndsOrStays() {
        QFETCH(QString, arguments);
        QFETCH(QString, input);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        StationProcess sim(world_.bus);
        QString error;
        QVERIFY2(sim.start(QProcess::splitCommand(arguments.replace(QStringLiteral("HOME"), world_.home.path())),
                           &error, false),
                 qPrintable(error));
        for (const QString& line : input.split(u'|', Qt::SkipEmptyParts)) {
            sim.send(line);
        }
        sim.closeInput();
        const QRegularExpression pattern(output, QRegularExpression::DotMatchesEverythingOption);
        const auto logged = [&] {
            return pattern.match((sim.lines() + QStringList{QStringLiteral("--"), sim.errors()}).join(u'\n'))
                .hasMatch();
        };
        QVERIFY(QTest::qWaitFor([&] { return exitCode < 0 ? logged() : !sim.isRunning(); }, 10000));
        QTest::qWait(300);
        QCOMPARE(sim.isRunning() ? -1 : sim.exitCode(), exitCode);
        QVERIFY2(logged(), qPrintable(sim.lines().join(u'\n') + sim.errors()));
    }

    // Without a station Parlevox says why and ends. The window was once a plain filler whose caption Orca never read.
    void startUp_saysWhyWithoutAStation_thenOrcaHearsTheFrameWithItsCaptionAndTheFirstFavourite() {
        ParlevoxProcess alone(world_.environment());
        QString error;
        QVERIFY(alone.start(&error) && dismissMessageBox() && alone.waitForExit(15000) && alone.exitCode() != 0);
        QVERIFY2(alone.errors().contains(QStringLiteral("The EchoLink station could not start: Process org.parlevox."
                                                        "EchoLink exited with status 2.")),
                 qPrintable(alone.errors()));
        QVERIFY(
            writeFile(world_.home.filePath(QStringLiteral("config/parlevox.ini")), "[SETTINGS]\r\nTEXT4=QX2ABC\r\n"));
        orca_.mark();
        QVERIFY2(world_.startSim(QProcess::splitCommand(QStringLiteral("--callsign QX1TST --stay --quiet-queries")),
                                 &error) &&
                     world_.startApp(&error),
                 qPrintable(error));
        QVERIFY(heard(QStringLiteral("^Parlevox    QX1TST   v1\\.2 frame")) &&
                heard(QStringLiteral("^Callsign of favourite 1 text")));
    }

    // Tabs (or, below 0, Shift+Tabs) from the first favourite's box, every stop heard; then what the station changes
    // there is heard, and the focus stays.
    void screenReader_hearsEveryStopAndWhatChangesThere_data() {
        QTest::addColumn<int>("stops");
        QTest::addColumn<QString>("command"); // to the station
        QTest::addColumn<QString>("said");
        row("Stay Con of favourite 1", 2, "", "^Stay connected to favourite 1 check box not checked");
        row("incoming log", 26, "", "^Incoming text read only text");
        row("Transmit / Receive, a toggle", 44, "", "^Transmit / Receive check box not checked");
        row("round to the first favourite", 51, "", "^Callsign of favourite 1 text");
        row("chat on a favourite's box", 0, "chat QX2ABC>good evening all", "good evening all");
        row("station count", -2, "connect QX3DEF", "^Number of stations connected: 1 label");
        row("transmit state", -3, "key", "^Transmit state: +Transmitting.* label");
        row("Transmit / Receive", -7, "unkey", "^not checked");
    }
    void screenReader_hearsEveryStopAndWhatChangesThere() {
        QFETCH(int, stops);
        QFETCH(QString, command);
        QFETCH(QString, said);
        QVERIFY(click(240, 360, 1095, 285) && focusOn(QStringLiteral("Callsign of favourite 1")));
        QVERIFY(walk(stops < 0 ? QStringLiteral("shift+Tab") : QStringLiteral("Tab"), qAbs(stops)));
        if (!command.isEmpty()) {
            orca_.mark();
            world_.sim->send(command);
        }
        QVERIFY(heard(said));
        QVERIFY(stops != 0 || focusOn(QStringLiteral("Callsign of favourite 1")));
    }

    // The caption names the station; chat both ways; a favourite connected and announced; a second copy turned
    // away; a station that crashed replaced; the station's closing saves the settings and ends the program.
    void session_acrossBusScreenAndSpeech() {
        QCOMPARE(screen_.title(window_), QStringLiteral("Parlevox    QX1TST   v1.2"));
        world_.sim->send(QStringLiteral("chat QX1BRK>good evening"));
        world_.sim->send(QStringLiteral("chat QX3VER>/ver/"));
        QVERIFY(world_.sim->waitForLine(QStringLiteral("> SendChatText Parlevox  v1.2"), 15000));
        QVERIFY(world_.waitForSpoken(QStringLiteral("Message from  QX1BRK: good evening")));
        QVERIFY(click(240, 6150, 3855, 345) && screen_.type(window_, QStringLiteral("hi there")) &&
                screen_.key(window_, QStringLiteral("Return")));
        QString line;
        QVERIFY(world_.sim->waitForLineStartingWith(QStringLiteral("> SendChatText ("), 15000, &line));
        QVERIFY2(line.endsWith(QStringLiteral(") >hi there")), qPrintable(line)); // after the time stamp
        QVERIFY(click(1440, 360, 855, 255));
        QVERIFY(world_.sim->waitForLine(QStringLiteral("> Connect QX2ABC -1"), 15000));
        QVERIFY(world_.waitForSpoken(QStringLiteral("Q X 2 A B C  , Connected")));

        ParlevoxProcess second(world_.environment());
        QString error;
        QVERIFY(second.start(&error) && dismissMessageBox() && second.waitForExit(15000));
        QVERIFY2(second.exitCode() == 0 && second.errors().contains(QStringLiteral("Program is already running.")),
                 qPrintable(second.errors()));

        world_.sim->sendSignal(SIGKILL);
        QVERIFY(world_.sim->waitForExit() && world_.startSim({}, &error));
        world_.sim->send(QStringLiteral("chat QX3NEW>back again"));
        QVERIFY(world_.waitForSpoken(QStringLiteral("Message from  QX3NEW: back again")));
        QVERIFY(click(240, 720, 1095, 285) && screen_.type(window_, QStringLiteral("qx7sav")));
        QTest::qWait(500); // the last key is handled before the station closes
        world_.sim->send(QStringLiteral("close"));
        QVERIFY(world_.app->waitForExit(15000) && world_.app->exitCode() == 0);
        QVERIFY(fileLines(world_.home.filePath(QStringLiteral("config/parlevox.ini")))
                    .join(u'\n')
                    .contains(QStringLiteral("TEXT5=QX7SAV")));
    }
};

QTEST_GUILESS_MAIN(ParlevoxTest)
#include "ParlevoxTest.moc"
