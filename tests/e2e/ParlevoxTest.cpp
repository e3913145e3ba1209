// SPDX-License-Identifier: GPL-3.0-or-later
// Parlevox beside echolink-sim on a private bus, screen and speech server, read by Orca as a blind user has it;
// and echolink-sim as a program. Keys and clicks go in with xdotool; what is said is read back from the server.
#include "DataRow.h"
#include "OrcaHarness.h"
#include "ParlevoxHarness.h"

using namespace e2e;

class ParlevoxTest : public QObject {
    Q_OBJECT

    PrivateBus bus_;
    VirtualScreen screen_;
    PrivateSpeechServer speech_{0.05};
    QTemporaryDir home_; // Parlevox's
    StationProcess sim_{bus_};
    std::unique_ptr<ParlevoxProcess> app_;
    QString window_;
    OrcaScreenReader orca_{speech_};

    QProcessEnvironment environment() const {
        return ParlevoxProcess::environment(bus_.environment(), screen_.display(), speech_.address(), home_.path());
    }
    // At the middle of a control placed in twips (src/app/MainLayout.cpp).
    bool click(int left, int top, int width, int height) const {
        return screen_.click(window_, {(left + width / 2) / 15, (top + height / 2) / 15});
    }

    // Another copy shows a message box (titled with the product name alone), dismissed, ends and says why.
    bool endsAfterABox(ParlevoxProcess& other, const QString& why) const {
        QString error;
        const auto box = [&] { return screen_.findWindow(QStringLiteral("^Parlevox$"), 60000); };
        return other.start(&error) && screen_.input(box(), "key", QStringLiteral("Return")) &&
               other.waitForExit(15000) && (other.errors().contains(why) || (qWarning() << other.errors(), false));
    }
    // A key and Orca's answer: its own texts end with a full stop, its echo of the key does not. Its "where am I"
    // (keypad Enter) names the control that has the focus.
    bool press(const QString& key, const QString& said = QStringLiteral("\\.$")) {
        orca_.mark();
        return screen_.xdotool({QStringLiteral("key"), key}) && orca_.heard(said);
    }

private Q_SLOTS:
    void initTestCase() {
        // What the bus starts while no station runs: parlevox-station without settings, which ends at once.
        QVERIFY(writeFile(home_.filePath(QStringLiteral("station.service")),
                          "[D-BUS Service]\nName=org.parlevox.EchoLink\nExec=" PARLEVOX_STATION_PATH
                          " --config /none --bind 127.0.0.1 --directory 127.0.0.1 --no-audio\n"));
        QString problem = OrcaScreenReader::missing();
        QVERIFY2(problem.isEmpty() && bus_.start(&problem, home_.path()) && screen_.start(&problem) &&
                     (problem = speech_.start()).isEmpty() &&
                     (problem = orca_.start(bus_.environment(), screen_.display())).isEmpty(),
                 qPrintable(problem));
        sim_.setEnvironment(bus_.environment());
        QVERIFY(writeFile(home_.filePath(QStringLiteral("run.txt")),
                          "# a session\r\nconnect QA1BRK Brackenford home\r\nchat QA1BRK>one\\rtwo\r\nclose\r\n"));
        QVERIFY(writeFile(home_.filePath(QStringLiteral("bad.txt")), "chat QA1BRK>fine\nshout QA1BRK\n"));
    }

    void sim_runsItsInputThenEndsOrStays_data() {
        // HOME: the folder of run.txt and bad.txt; input lines '|' between; exit code -1: still running; output:
        // stdout, then stderr after a line of its own, "--".
        columns<QString, QString, int, QString>("arguments", "input", "exitCode", "output");
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
        StationProcess sim(bus_);
        QString error;
        QVERIFY2(
            sim.start(QProcess::splitCommand(arguments.replace(QStringLiteral("HOME"), home_.path())), &error, false),
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
        ParlevoxProcess alone(environment());
        QVERIFY(endsAfterABox(alone, QStringLiteral("The EchoLink station could not start: Process org.parlevox."
                                                    "EchoLink exited with status 2.")) &&
                alone.exitCode() != 0);
        QVERIFY(writeFile(home_.filePath(QStringLiteral("config/parlevox.ini")), "[SETTINGS]\r\nTEXT4=QX2ABC\r\n"));
        orca_.mark();
        QString error;
        QVERIFY2(sim_.start(QProcess::splitCommand(QStringLiteral("--callsign QX1TST --stay --quiet-queries")), &error),
                 qPrintable(error));
        app_ = std::make_unique<ParlevoxProcess>(environment());
        QVERIFY2(app_->start(&error) &&
                     !(window_ = screen_.findWindow(QStringLiteral("^Parlevox    "), 60000)).isEmpty(),
                 qPrintable(error + QStringLiteral("; no main window: ") + app_->errors()));
        QVERIFY(orca_.heard(QStringLiteral("^Parlevox    QX1TST   v1\\.2 frame")) &&
                orca_.heard(QStringLiteral("^Callsign of favourite 1 text")));
    }

    // Tabs (or, below 0, Shift+Tabs) from the first favourite's box, every stop heard; then what the station changes
    // there is heard, and the focus stays.
    void screenReader_hearsEveryStopAndWhatChangesThere_data() {
        columns<int, QString, QString>("stops", "command", "said"); // command: to the station
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
        const QString first = QStringLiteral("^Callsign of favourite 1");
        QVERIFY(click(240, 360, 1095, 285) && press(QStringLiteral("KP_Enter"), first));
        for (int i = 0; i < qAbs(stops); ++i) {
            QVERIFY(press(stops < 0 ? QStringLiteral("shift+Tab") : QStringLiteral("Tab")));
        }
        QTest::qWait(150); // the rest of what it says at the last stop
        if (!command.isEmpty()) {
            orca_.mark();
            sim_.send(command);
        }
        QVERIFY(orca_.heard(said));
        QVERIFY(stops != 0 || press(QStringLiteral("KP_Enter"), first));
    }

    // The caption names the station; chat both ways; a favourite connected and announced; a second copy turned
    // away; a station that crashed replaced; the station's closing saves the settings and ends the program.
    void session_acrossBusScreenAndSpeech() {
        QCOMPARE(screen_.findWindow(QStringLiteral("^Parlevox    QX1TST   v1\\.2$")), window_);
        sim_.send(QStringLiteral("chat QX1BRK>evening\nchat QX3VER>/ver/"));
        QVERIFY(sim_.waitForLine(QStringLiteral("> SendChatText Parlevox  v1.2"), 15000));
        QTRY_VERIFY_WITH_TIMEOUT(speech_.spoken().contains(QStringLiteral("Message from  QX1BRK: evening")), 30000);
        QVERIFY(click(240, 6150, 3855, 345) && screen_.input(window_, "type", QStringLiteral("hi there")) &&
                screen_.input(window_, "key", QStringLiteral("Return")));
        QString line;
        QVERIFY(sim_.waitForLineStartingWith(QStringLiteral("> SendChatText ("), 15000, &line));
        QVERIFY2(line.endsWith(QStringLiteral(") >hi there")), qPrintable(line)); // after the time stamp
        QVERIFY(click(1440, 360, 855, 255));
        QVERIFY(sim_.waitForLine(QStringLiteral("> Connect QX2ABC -1"), 15000));
        QTRY_VERIFY_WITH_TIMEOUT(speech_.spoken().contains(QStringLiteral("Q X 2 A B C  , Connected")), 30000);

        ParlevoxProcess second(environment());
        QVERIFY(endsAfterABox(second, QStringLiteral("Program is already running.")) && second.exitCode() == 0);

        sim_.sendSignal(SIGKILL);
        QString error;
        QVERIFY(sim_.waitForExit() && sim_.start({}, &error));
        sim_.send(QStringLiteral("chat QX3NEW>back again"));
        QTRY_VERIFY_WITH_TIMEOUT(speech_.spoken().contains(QStringLiteral("Message from  QX3NEW: back again")), 30000);
        QVERIFY(click(240, 720, 1095, 285) && screen_.input(window_, "type", QStringLiteral("qx7sav")));
        QTest::qWait(500); // the last key is handled before the station closes
        sim_.send(QStringLiteral("close"));
        QVERIFY(app_->waitForExit(15000) && app_->exitCode() == 0);
        QVERIFY(readFile(home_.filePath(QStringLiteral("config/parlevox.ini"))).contains("TEXT5=QX7SAV"));
    }
};

QTEST_GUILESS_MAIN(ParlevoxTest)
#include "ParlevoxTest.moc"
