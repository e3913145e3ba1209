// SPDX-License-Identifier: GPL-3.0-or-later
// The real parlevox beside the real echolink-sim on a private bus, screen and speech server.
#include "DataRow.h"
#include "ParlevoxHarness.h"
#include "SpeechHarness.h"
#include "StationHarness.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <memory>

namespace {

constexpr int StartTimeoutMs = 60000;  // a slow machine starting the web engine
constexpr int SpeechTimeoutMs = 30000; // each text takes the speech script a moment
constexpr int StationTimeoutMs = 15000;
constexpr int SweepTimeoutMs = 45000; // the stay-connected sweep runs every 30 s
// A call into a station that does not answer gives up after 3 s; then the program no longer waits for it.
constexpr int HangNoticedMs = 3000 + 2000;

const QString OwnCall = QStringLiteral("QX1TST");
const QString MainTitle = QStringLiteral("^Parlevox    ");
const QString MessageBoxTitle = QStringLiteral("^Parlevox$");

// The centre of a control, in window pixels, from its place in twips as src/app/MainLayout.cpp puts it (frame
// and control offsets added).
constexpr QPoint centre(int left, int top, int width, int height) {
    return {(left + width / 2) / 15, (top + height / 2) / 15};
}
constexpr QPoint Command4 = centre(120 + 1320, 120 + 240, 855, 255);
constexpr QPoint Check4 = centre(120 + 2280, 120 + 240, 975, 255);
constexpr QPoint Text5 = centre(120 + 120, 120 + 600, 1095, 285);
constexpr QPoint Command5 = centre(120 + 1320, 120 + 600, 855, 255);
constexpr QPoint IncomingText = centre(120, 3480, 6735, 2340);
constexpr QPoint TextTX = centre(120 + 120, 5880 + 270, 3855, 345);
constexpr QPoint DisconnectAll = centre(6960, 7920, 2415, 255);

QByteArray fileContents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ParlevoxTest : public QObject {
    Q_OBJECT

private:
    e2e::PrivateBus bus_;
    e2e::VirtualScreen screen_;
    std::unique_ptr<e2e::PrivateSpeechServer> speech_;
    std::unique_ptr<QTemporaryDir> home_;
    std::unique_ptr<e2e::StationProcess> sim_;
    std::unique_ptr<e2e::ParlevoxProcess> app_;
    QString window_; // the main window

    QString settingsFile(const QString& name) const { return home_->filePath(QStringLiteral("config/") + name); }
    QString mainSettings() const { return settingsFile(QStringLiteral("parlevox.ini")); }
    QString internetSettings() const { return settingsFile(QStringLiteral("parlevoxinet.ini")); }

    QProcessEnvironment environment() const {
        return e2e::ParlevoxProcess::environment(bus_.environment(), screen_.display(), speech_->address(),
                                                 home_->path());
    }

    bool startStation(QString* error, const QStringList& commands = {}) {
        sim_ = std::make_unique<e2e::StationProcess>(bus_);
        if (!sim_->start({QStringLiteral("--callsign"), OwnCall}, error)) {
            return false;
        }
        for (const QString& command : commands) {
            sim_->send(command);
        }
        if (!sim_->sync()) {
            *error = QStringLiteral("the station did not take its commands");
            return false;
        }
        return true;
    }

    // Starts parlevox and waits for its main window.
    bool startApp(QString* error, const QProcessEnvironment& env) {
        app_ = std::make_unique<e2e::ParlevoxProcess>(env);
        if (!app_->start(error)) {
            return false;
        }
        window_ = screen_.findWindow(MainTitle, StartTimeoutMs);
        if (window_.isEmpty()) {
            *error = QStringLiteral("no main window. Errors: ") + app_->errors();
            return false;
        }
        return true;
    }
    bool startApp(QString* error) { return startApp(error, environment()); }

    bool startBoth(QString* error, const QStringList& commands = {}) {
        return startStation(error, commands) && startApp(error);
    }

    // A message box of the program (its title is the product name alone), dismissed with Return.
    bool dismissMessageBox() const {
        const QString box = screen_.findWindow(MessageBoxTitle, StartTimeoutMs);
        return !box.isEmpty() && screen_.key(box, QStringLiteral("Return"));
    }

    bool waitForSpoken(const QString& text) const {
        return QTest::qWaitFor([&] { return speech_->spoken().contains(text); }, SpeechTimeoutMs);
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(bus_.start(&error), qPrintable(error));
        QVERIFY2(screen_.start(&error), qPrintable(error));
    }

    void init() {
        speech_ = std::make_unique<e2e::PrivateSpeechServer>();
        const QString problem = speech_->start();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        home_ = std::make_unique<QTemporaryDir>();
        QVERIFY(home_->isValid());
        QVERIFY(speech_->forbidAutoSpawn(home_->filePath(QStringLiteral("config"))));
    }

    void cleanup() {
        if (QTest::currentTestFailed() && app_) {
            qInfo().noquote() << "parlevox stderr:" << app_->errors();
        }
        if (QTest::currentTestFailed() && sim_) {
            qInfo().noquote() << "station log:" << sim_->lines().join(QLatin1Char('\n'));
        }
        app_.reset();
        sim_.reset();
        speech_.reset();
        home_.reset();
        window_.clear();
    }

    // A second copy leaves the files alone; when the station closes, the first saves both and ends.
    void secondCopySaysAlreadyRunning_stationClosingSavesBothFilesAndEnds() {
        QString error;
        QVERIFY2(startBoth(&error), qPrintable(error));
        QVERIFY(e2e::writeFile(mainSettings(), "[SETTINGS]\r\nTEXT4=QX2ABC\r\n"));
        QVERIFY(e2e::writeFile(internetSettings(), "[SETTINGS]\r\n"));
        const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
        for (const QString& path : {mainSettings(), internetSettings()}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        e2e::ParlevoxProcess second(environment());
        QVERIFY2(second.start(&error), qPrintable(error));
        QVERIFY(dismissMessageBox());
        QVERIFY(second.waitForExit(StationTimeoutMs));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(second.errors().contains(QStringLiteral("Program is already running.")), qPrintable(second.errors()));
        QCOMPARE(fileContents(mainSettings()), QByteArray("[SETTINGS]\r\nTEXT4=QX2ABC\r\n"));
        QCOMPARE(fileContents(internetSettings()), QByteArray("[SETTINGS]\r\n"));
        QCOMPARE(QFileInfo(mainSettings()).lastModified(), old);
        QCOMPARE(QFileInfo(internetSettings()).lastModified(), old);
        QVERIFY(app_->isRunning() && screen_.isShown(window_));

        QVERIFY(screen_.click(window_, Text5));
        QVERIFY(screen_.type(window_, QStringLiteral("qx7sav")));
        QTest::qWait(500); // the last key is handled before the station closes
        sim_->send(QStringLiteral("close"));
        QVERIFY(app_->waitForExit(StationTimeoutMs));
        QCOMPARE(app_->exitStatus(), QProcess::NormalExit);
        QCOMPARE(app_->exitCode(), 0);
        const QString saved = QString::fromUtf8(fileContents(mainSettings())); // in the file's own line ends
        QVERIFY2(saved.contains(
                     QRegularExpression(QStringLiteral("^TEXT5=QX7SAV\r?$"), QRegularExpression::MultilineOption)),
                 qPrintable(saved));
        QVERIFY(QFileInfo(internetSettings()).lastModified() > old);
    }

    // Without a station Parlevox says why and ends; a station the bus starts is found, or its failure explained
    // (here the build's own parlevox-station without settings: its exit status is the reason).
    void startUp_findsTheStationOrSaysWhyAndEnds_data() {
        QTest::addColumn<QString>("exec"); // the bus's service for the station; empty: none
        QTest::addColumn<bool>("busThere");
        QTest::addColumn<QString>("message"); // empty: the window opens
        QFile buildTreeService(QStringLiteral(STATION_SERVICE_FILE));
        QVERIFY2(buildTreeService.open(QIODevice::ReadOnly), STATION_SERVICE_FILE);
        QVERIFY(buildTreeService.readAll().contains("\nExec=" PARLEVOX_STATION_PATH "\n"));
        row("no station program", "", true, "No EchoLink station program is running.");
        row("no session bus", "", false, "No D-Bus session bus is available");
        row("station started by the bus", e2e::simPath() + QStringLiteral(" --stay --callsign QX1ACT"), true, "");
        row("started station ends at once",
            QStringLiteral(PARLEVOX_STATION_PATH " --config /nonexistent/station.ini --bind 127.0.0.1 --directory "
                                                 "127.0.0.1 --no-audio"),
            true,
            "The EchoLink station could not start: Process org.parlevox.EchoLink exited with status 2. Run "
            "parlevox-station --setup to enter your callsign and password, or start echolink-sim");
    }
    void startUp_findsTheStationOrSaysWhyAndEnds() {
        QFETCH(QString, exec);
        QFETCH(bool, busThere);
        QFETCH(QString, message);
        if (!exec.isEmpty()) {
            QVERIFY(e2e::writeFile(home_->filePath(QStringLiteral("org.parlevox.EchoLink.service")),
                                   "[D-BUS Service]\nName=org.parlevox.EchoLink\nExec=" + exec.toUtf8() + '\n'));
        }
        e2e::PrivateBus bus;
        QString error;
        QVERIFY2(bus.start(&error, 10000, home_->path()), qPrintable(error));
        const auto endStation = qScopeGuard([&bus] { // a started station outlives Parlevox and the bus
            const QDBusReply<uint> pid = bus.connect().interface()->servicePid(QStringLiteral("org.parlevox.EchoLink"));
            if (pid.isValid() && pid.value() > 1) {
                ::kill(static_cast<pid_t>(pid.value()), SIGTERM);
            }
        });
        QProcessEnvironment env =
            e2e::ParlevoxProcess::environment(bus.environment(), screen_.display(), speech_->address(), home_->path());
        if (!busThere) {
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        }
        if (message.isEmpty()) {
            QVERIFY2(startApp(&error, env), qPrintable(error));
            QCOMPARE(screen_.title(window_), QStringLiteral("Parlevox    QX1ACT   v1.2"));
            return;
        }
        app_ = std::make_unique<e2e::ParlevoxProcess>(env);
        QVERIFY2(app_->start(&error), qPrintable(error));
        QVERIFY(dismissMessageBox());
        QVERIFY(app_->waitForExit(StationTimeoutMs));
        QCOMPARE(app_->exitStatus(), QProcess::NormalExit);
        QVERIFY(app_->exitCode() != 0);
        QVERIFY2(app_->errors().contains(message), qPrintable(app_->errors()));
        QVERIFY(!QFile::exists(mainSettings()));
    }

    // The caption names the station; a chat line is logged, spoken and a version query answered; a typed line
    // reaches the station with a time stamp.
    void chat_bothWays() {
        QString error;
        QVERIFY2(startBoth(&error), qPrintable(error));
        QCOMPARE(screen_.title(window_), QStringLiteral("Parlevox    QX1TST   v1.2"));
        sim_->send(QStringLiteral("chat QX1BRK>good evening all"));
        sim_->send(QStringLiteral("chat QX3VER>/ver/"));
        QVERIFY(sim_->waitForLine(QStringLiteral("> SendChatText Parlevox  v1.2"), StationTimeoutMs));
        QVERIFY(waitForSpoken(QStringLiteral("Message from  QX1BRK: good evening all")));
        const std::optional<QString> log = screen_.copyText(window_, IncomingText);
        QVERIFY(log.has_value());
        static const QRegularExpression logged(QStringLiteral("^QX1BRK \\(\\d\\d:\\d\\d\\)>good evening all$"),
                                               QRegularExpression::MultilineOption);
        QVERIFY2(logged.match(*log).hasMatch(), qPrintable(*log));

        QVERIFY(screen_.click(window_, TextTX));
        QVERIFY(screen_.type(window_, QStringLiteral("hello from the keyboard")));
        QVERIFY(screen_.key(window_, QStringLiteral("Return")));
        QString line;
        QVERIFY(sim_->waitForLineStartingWith(QStringLiteral("> SendChatText "), StationTimeoutMs, &line));
        static const QRegularExpression sent(
            QStringLiteral("^> SendChatText \\(\\d\\d:\\d\\d\\) >hello from the keyboard$"));
        QVERIFY2(sent.match(line).hasMatch(), qPrintable(line));
    }

    // A favourite connects and is announced, or the refusal is said. About 35 s more: the sweep that brings ticked
    // favourites back after Disconnect All runs every 30 s, and leaves the others alone.
    void favourites_connectAnnounceAndStayConnected() {
        QString error;
        QVERIFY(e2e::writeFile(mainSettings(), "[SETTINGS]\r\nTEXT4=QX2ABC\r\nTEXT5=QX3BAD\r\n"));
        QVERIFY2(startBoth(&error, {QStringLiteral("refuse QX3BAD"), QStringLiteral("connect QX4OTH")}),
                 qPrintable(error));
        QVERIFY(screen_.click(window_, Command4));
        QVERIFY(sim_->waitForLine(QStringLiteral("> Connect QX2ABC -1"), StationTimeoutMs));
        QVERIFY(waitForSpoken(QStringLiteral("Q X 2 A B C  , Connected")));
        QVERIFY(screen_.click(window_, Command5));
        QVERIFY(sim_->waitForLineStartingWith(QStringLiteral("! "), StationTimeoutMs));
        QVERIFY(waitForSpoken(QStringLiteral("Unable to connect to call sign. ")));
        QCOMPARE(speech_->spoken(), (QStringList{QStringLiteral("Q X 2 A B C  , Connected"),
                                                 QStringLiteral("Unable to connect to call sign. ")}));

        QVERIFY(screen_.click(window_, Check4));
        QVERIFY(screen_.click(window_, DisconnectAll));
        QVERIFY(sim_->waitForLine(QStringLiteral("> DisconnectAll"), StationTimeoutMs));
        QVERIFY(sim_->waitForLine(QStringLiteral("< Disconnected QX4OTH"), StationTimeoutMs));
        QVERIFY(sim_->waitForLine(QStringLiteral("> Connect QX2ABC -1"), SweepTimeoutMs));
        QVERIFY(sim_->waitForLineStartingWith(QStringLiteral("< Connected QX2ABC "), StationTimeoutMs));
        QVERIFY(!sim_->lines().contains(QStringLiteral("> Connect QX4OTH -1")));
        QCOMPARE(sim_->lines().count(QStringLiteral("> Connect QX3BAD -1")), 1); // not ticked: only the click
    }

    // A hung station leaves the window answering and keeps the typed line for when it is back; after a crash the
    // program goes on and hears the next station.
    void stationHangsThenCrashes_programGoesOn() {
        QString error;
        QVERIFY2(startBoth(&error), qPrintable(error));
        QVERIFY(sim_->sync()); // what the station printed so far is behind us
        sim_->sendSignal(SIGSTOP);
        QTest::qWait(HangNoticedMs);
        QVERIFY(screen_.click(window_, TextTX));
        QVERIFY(screen_.type(window_, QStringLiteral("sent while hung")));
        QVERIFY(screen_.key(window_, QStringLiteral("Return")));
        const std::optional<QString> kept = screen_.copyText(window_, TextTX, 2000); // answered at once
        QVERIFY(kept.has_value());
        QCOMPARE(*kept, QStringLiteral("sent while hung"));
        sim_->sendSignal(SIGCONT);
        // The station answers the program's background question, then its regular requests again.
        QVERIFY(sim_->waitForLine(QStringLiteral("> OwnCallsign"), StationTimeoutMs));
        QVERIFY(sim_->waitForLine(QStringLiteral("> ConnectedCount"), StationTimeoutMs));
        QVERIFY(screen_.key(window_, QStringLiteral("Return")));
        QString line;
        QVERIFY(sim_->waitForLineStartingWith(QStringLiteral("> SendChatText "), StationTimeoutMs, &line));
        QVERIFY2(line.endsWith(QStringLiteral(" >sent while hung")), qPrintable(line));

        sim_->sendSignal(SIGKILL);
        QVERIFY(sim_->waitForExit());
        QVERIFY(!app_->waitForExit(3000)); // a few ticks without a station
        QVERIFY2(startStation(&error, {QStringLiteral("chat QX3NEW>back again")}), qPrintable(error));
        QVERIFY(waitForSpoken(QStringLiteral("Message from  QX3NEW: back again")));
        QVERIFY(sim_->waitForLine(QStringLiteral("> ConnectedCount"), StationTimeoutMs)); // the status is asked again
        QVERIFY(app_->isRunning() && screen_.isShown(window_));
    }

    // The text being spoken when a transmission begins is heard whole; a chat arriving meanwhile waits for the
    // transmission's end and a gap of about a second.
    void chatWhileReceiving_spokenWholeAfterTheTransmissionAndGap() {
        speech_ = std::make_unique<e2e::PrivateSpeechServer>(1.5); // room to begin a transmission inside a text
        const QString problem = speech_->start();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QString error;
        QVERIFY2(startBoth(&error), qPrintable(error));
        const QString first = QStringLiteral("Message from  QX1BRK: before");
        const QString second = QStringLiteral("Message from  QX2ABC: during");
        sim_->send(QStringLiteral("chat QX1BRK>before"));
        QVERIFY(QTest::qWaitFor([&] { return speech_->started().contains(first); }, SpeechTimeoutMs));
        sim_->send(QStringLiteral("receive QX2ABC"));
        sim_->send(QStringLiteral("chat QX2ABC>during"));
        QVERIFY(sim_->sync());
        QVERIFY(waitForSpoken(first));
        QTest::qWait(2500);
        QCOMPARE(speech_->started(), QStringList{first});

        QElapsedTimer sinceEnd;
        sinceEnd.start();
        sim_->send(QStringLiteral("unreceive"));
        QVERIFY(QTest::qWaitFor([&] { return speech_->started().contains(second); }, SpeechTimeoutMs));
        const qint64 waited = sinceEnd.elapsed();
        QVERIFY2(waited >= 900 && waited < 4000, qPrintable(QString::number(waited)));
        QVERIFY(waitForSpoken(second));
        QCOMPARE(speech_->spoken(), (QStringList{first, second}));
    }

    void onTheHour_timeSpokenOnce() {
        QVERIFY2(!QStringLiteral(FAKETIME_LIBRARY).isEmpty(), "libfaketime is not installed (scripts/install-deps.sh)");
        QVERIFY(e2e::writeFile(mainSettings(), "[SETTINGS]\r\nTXTIMEHOUR=1\r\n"));
        QString error;
        QVERIFY2(startStation(&error), qPrintable(error));
        // Only the program lives in the faked time, starting a little before nine in the evening.
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(FAKETIME_LIBRARY));
        env.insert(QStringLiteral("FAKETIME"), QStringLiteral("@2026-12-06 20:59:48"));
        QVERIFY2(startApp(&error, env), qPrintable(error));

        QVERIFY(waitForSpoken(QStringLiteral("The Time Is9 PM")));
        QTest::qWait(3000);
        QCOMPARE(speech_->spoken(), QStringList{QStringLiteral("The Time Is9 PM")});
    }
};

QTEST_GUILESS_MAIN(ParlevoxTest)
#include "ParlevoxTest.moc"
