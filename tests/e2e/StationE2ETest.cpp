// SPDX-License-Identifier: GPL-3.0-or-later
// Parlevox started alone, the bus starting parlevox-station, beside a svxlink node and a libecholib peer with the
// fake directory, all in a private network namespace: what a user hears.
#include "ParlevoxHarness.h"
#include "SpeechHarness.h"
#include "StationHarness.h"
#include "StationRig.h"

#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

namespace {

constexpr int StartTimeoutMs = 60000;  // a slow machine starting the web engine
constexpr int SpeechTimeoutMs = 30000; // each text takes the speech script a moment
// The node ignores a caller that logged in after it last fetched the list, and answers its retry.
constexpr int CallTimeoutMs = 40000;
// The station reports the end of a transmission 300 ms after its last voice packet and Parlevox speaks a second
// after that: at least this long after the last packet, however a busy machine delays either.
constexpr qint64 HeldAfterToneMs = 1000;
// The node's greeting of a new link has ended when nothing has been heard for this long.
constexpr qint64 QuietBeforeToneMs = 2000;

const QString Service = QStringLiteral("org.parlevox.EchoLink");
const QString MainTitle = QStringLiteral("^Parlevox    ");
// Command4 of the main window, the favourite TEXT4 (see ParlevoxTest).
constexpr QPoint Command4 = {(120 + 1320 + 855 / 2) / 15, (120 + 240 + 255 / 2) / 15};

qint64 now() {
    return QDateTime::currentMSecsSinceEpoch();
}

// The time of day elpeer stamps on a line ("12:34:56.789 +  1.234 ..."), as wall-clock ms of today.
qint64 peerLineTime(const QString& line) {
    const QTime time = QTime::fromString(line.section(QLatin1Char(' '), 0, 0), QStringLiteral("HH:mm:ss.zzz"));
    const qint64 ms = QDateTime(QDate::currentDate(), time).toMSecsSinceEpoch();
    return ms > now() + 60000 ? ms - 24 * 3600 * 1000 : ms; // stamped before midnight
}

// ReceivingChanged as this test sees it on the bus, with the time it came.
class ReceivingWatch : public QObject {
    Q_OBJECT
public:
    struct Event {
        qint64 atMs;
        bool receiving;
        QString callsign;
    };
    QList<Event> events;
public Q_SLOTS:
    void changed(bool receiving, const QString& callsign) { events.append({now(), receiving, callsign}); }
};

} // namespace

class StationE2ETest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir work_;
    QTemporaryDir home_;
    e2e::PrivateBus bus_;
    e2e::VirtualScreen screen_;
    e2e::PrivateSpeechServer speech_;
    std::unique_ptr<stationrig::Rig> rig_;
    stationrig::LoggedProcess* peer_ = nullptr;
    std::unique_ptr<e2e::ParlevoxProcess> app_;
    QString window_;
    ReceivingWatch watch_;

    bool waitForSpoken(const QString& text) const {
        return QTest::qWaitFor([&] { return speech_.spoken().contains(text); }, SpeechTimeoutMs);
    }
    QString spoken() const { return speech_.spoken().join(QStringLiteral(" | ")); }
    qint64 stationPid() {
        const QDBusReply<uint> pid = bus_.connect().interface()->servicePid(Service);
        return pid.isValid() ? qint64(pid.value()) : 0;
    }

    // Programs the bus starts get the daemon's environment: the station's settings folder, the private sound
    // server (the station plays what it hears into a null sink) and not the user's session bus.
    bool startBus(const QString& stationConfigHome, QString* error) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), stationConfigHome);
        env.insert(QStringLiteral("PULSE_SERVER"),
                   QStringLiteral("unix:") + speech_.path(QStringLiteral("run/pulse/native")));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        return bus_.start(error, 10000, QStringLiteral(STATION_SERVICE_DIR), env);
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(stationrig::onlyLoopback(&error), qPrintable(error));
        QVERIFY(work_.isValid() && home_.isValid());
        const QString problem = speech_.start();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY2(screen_.start(&error), qPrintable(error));

        rig_ = std::make_unique<stationrig::Rig>(work_.path());
        QVERIFY2(rig_->startDirectory(&error), qPrintable(error));
        peer_ = rig_->startPeer(QStringLiteral("Q1BBB"), 0, &error);
        QVERIFY2(peer_, qPrintable(error));
        QVERIFY2(rig_->startNode(&error), qPrintable(error));
        const QString stationConfigHome = work_.filePath(QStringLiteral("station-config"));
        QVERIFY(QDir().mkpath(stationConfigHome));
        QVERIFY2(
            stationrig::Rig::writeStationSettings(stationConfigHome + QStringLiteral("/parlevox-station.ini"), &error),
            qPrintable(error));
        QVERIFY2(startBus(stationConfigHome, &error), qPrintable(error));
        QVERIFY2(!bus_.connect().interface()->isServiceRegistered(Service), "a station runs before Parlevox");
        QVERIFY(bus_.connect().connect(Service, QStringLiteral("/org/parlevox/EchoLink"), Service,
                                       QStringLiteral("ReceivingChanged"), &watch_, SLOT(changed(bool, QString))));

        const QProcessEnvironment env =
            e2e::ParlevoxProcess::environment(bus_.environment(), screen_.display(), speech_.address(), home_.path());
        QVERIFY(speech_.forbidAutoSpawn(home_.filePath(QStringLiteral("config"))));
        QVERIFY(e2e::writeFile(home_.filePath(QStringLiteral("config/parlevox.ini")),
                               "[SETTINGS]\r\nTEXT4=" + stationrig::NodeCall.toLatin1() + "\r\n"));
        app_ = std::make_unique<e2e::ParlevoxProcess>(env);
        QVERIFY2(app_->start(&error), qPrintable(error));
        window_ = screen_.findWindow(MainTitle, StartTimeoutMs);
        QVERIFY2(!window_.isEmpty(), qPrintable(app_->errors()));
        QVERIFY2(rig_->waitForStationLogin(0), qPrintable(rig_->logTails()));
    }

    void cleanup() {
        if (QTest::currentTestFailed()) {
            qInfo().noquote() << "spoken:" << spoken() << "\nparlevox stderr:" << (app_ ? app_->errors() : QString())
                              << '\n'
                              << rig_->logTails();
        }
    }

    // The bus's station outlives Parlevox and would outlive the bus.
    void cleanupTestCase() {
        app_.reset();
        const qint64 pid = stationPid();
        if (pid > 1) {
            ::kill(pid_t(pid), SIGTERM);
            if (!QTest::qWaitFor([&] { return ::kill(pid_t(pid), 0) != 0; }, 5000)) {
                ::kill(pid_t(pid), SIGKILL);
            }
        }
        rig_.reset();
    }

    void startedAlone_busStartsTheStationAndCaptionNamesIt() {
        const qint64 pid = stationPid();
        QVERIFY2(pid > 1, "nobody owns the station's name");
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath(),
                 QFileInfo(QStringLiteral(PARLEVOX_STATION_PATH)).canonicalFilePath());
        // The bus names itself in the environment of what it starts.
        QFile environment(QStringLiteral("/proc/%1/environ").arg(pid));
        QVERIFY(environment.open(QIODevice::ReadOnly));
        QVERIFY(environment.readAll().split('\0').contains("DBUS_STARTER_BUS_TYPE=session"));

        const QString expected = QStringLiteral("Parlevox    %1   v").arg(stationrig::StationCall);
        QVERIFY(QTest::qWaitFor([&] { return screen_.title(window_).startsWith(expected); }, StartTimeoutMs));
        QVERIFY2(!screen_.title(window_).contains(QStringLiteral("not available")), qPrintable(screen_.title(window_)));
    }

    void peerChats_parlevoxSpeaksTheLine() {
        peer_->send(QStringLiteral("connect ") + stationrig::StationAddress);
        QVERIFY(
            peer_->waitFor(QStringLiteral("STATE CONNECTED peer=127\\.0\\.0\\.8 remote_call=Q1PLX"), CallTimeoutMs));
        peer_->send(QStringLiteral("chat good evening through the station"));
        QVERIFY(waitForSpoken(QStringLiteral("Message from  Q1BBB: good evening through the station")));
    }

    void favouriteNodeClicked_stationConnectsItAndParlevoxAnnouncesIt() {
        QVERIFY(screen_.click(window_, Command4));
        QVERIFY(rig_->node().waitFor(QStringLiteral("(^|: )Q1PLX: EchoLink QSO state changed to CONNECTED$"),
                                     CallTimeoutMs));
        // A link is spoken without its suffix letter.
        QVERIFY(waitForSpoken(QStringLiteral("Q 1 A A A -  : Link Connected.")));
    }

    // A chat line that comes while a peer's tone is heard waits for the tone's end and a second more, and is
    // then spoken whole, once.
    void chatDuringTone_spokenWholeOnlyAfterToneAndGap() {
        // The node greets a new link on the air: the tone must be the only thing heard.
        const qint64 testStartMs = now();
        QVERIFY(QTest::qWaitFor(
            [&] {
                const bool idle = watch_.events.isEmpty() || !watch_.events.last().receiving;
                const qint64 since = watch_.events.isEmpty() ? testStartMs : watch_.events.last().atMs;
                return idle && now() - since >= QuietBeforeToneMs;
            },
            CallTimeoutMs));
        const qsizetype before = watch_.events.size();
        const QString line = QStringLiteral("Message from  Q1BBB: this waits for the tone");

        peer_->send(QStringLiteral("tone 1000 3"));
        QVERIFY(QTest::qWaitFor([&] { return watch_.events.size() > before; }, CallTimeoutMs));
        QVERIFY(watch_.events.at(before).receiving);
        QCOMPARE(watch_.events.at(before).callsign, QStringLiteral("Q1BBB"));
        QTest::qWait(500);
        peer_->send(QStringLiteral("chat this waits for the tone"));
        const qint64 chatSentMs = now();
        QVERIFY(peer_->waitFor(QStringLiteral(" TXAUDIO done$"), SpeechTimeoutMs));
        QVERIFY(QTest::qWaitFor([&] { return !watch_.events.last().receiving; }, CallTimeoutMs));
        QVERIFY(waitForSpoken(line));

        const QStringList done = peer_->lines().filter(QRegularExpression(QStringLiteral(" TXAUDIO done$")));
        const qint64 toneEndMs = peerLineTime(done.last());
        QVERIFY2(chatSentMs < toneEndMs, "the chat was sent after the tone; the test proves nothing");
        const qint64 speechMs = speech_.startedAtMs(line);
        const QString timing = QStringLiteral("speech began %1 ms after the tone's last packet, %2 ms after the "
                                              "station said it ended")
                                   .arg(speechMs - toneEndMs)
                                   .arg(speechMs - watch_.events.last().atMs);
        qInfo().noquote() << timing;
        QVERIFY2(speechMs >= toneEndMs + HeldAfterToneMs && speechMs >= watch_.events.last().atMs, qPrintable(timing));
        QCOMPARE(speech_.started().count(line), 1);
    }
};

QTEST_GUILESS_MAIN(StationE2ETest)
#include "StationE2ETest.moc"
