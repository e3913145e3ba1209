// SPDX-License-Identifier: GPL-3.0-or-later
// Parlevox started alone, the bus starting parlevox-station, beside a svxlink node and a libecholib peer with the
// fake directory, all in a private network namespace: what a user hears.
#include "ParlevoxHarness.h"
#include "StationRig.h"

#include <QDBusConnectionInterface>
#include <QDateTime>

class StationE2ETest : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    e2e::ParlevoxWorld world_;
    stationrig::Rig rig_{work_.path()};
    stationrig::LoggedProcess* peer_ = nullptr;

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(stationrig::onlyLoopback(&error) && rig_.startDirectory(&error) &&
                     (peer_ = rig_.startPeer(QStringLiteral("Q1BBB"), 0, &error)) && rig_.startNode(&error) &&
                     QDir(work_.path()).mkpath(QStringLiteral("station")) &&
                     stationrig::Rig::writeStationSettings(
                         work_.filePath(QStringLiteral("station/parlevox-station.ini")), &error),
                 qPrintable(error));
        // What the bus starts gets the station's settings folder and the private sound server (a null sink).
        error = world_.start(
            QStringLiteral(STATION_SERVICE_DIR),
            e2e::withVariables(QProcessEnvironment::systemEnvironment(),
                               QStringLiteral("XDG_CONFIG_HOME=%1/station PULSE_SERVER=unix:%2")
                                   .arg(work_.path(), world_.speech.path(QStringLiteral("run/pulse/native")))));
        QVERIFY2(error.isEmpty() && e2e::writeFile(world_.home.filePath(QStringLiteral("config/parlevox.ini")),
                                                   "[SETTINGS]\r\nTEXT4=" + stationrig::NodeCall.toLatin1() + "\r\n"),
                 qPrintable(error));
        QVERIFY2(world_.startApp(&error) && rig_.waitForStationLogin(0), qPrintable(error + rig_.logTails()));
    }

    void cleanupTestCase() { // the bus's station would outlive the bus
        world_.app.reset();
        const QDBusReply<uint> pid =
            world_.bus.connect().interface()->servicePid(QStringLiteral("org.parlevox.EchoLink"));
        QVERIFY(pid.isValid() && ::kill(pid_t(pid.value()), SIGTERM) == 0);
    }

    // The caption names the station; a peer's chat is spoken, but only after the tone it sends; the favourite node
    // clicked is connected by the station and announced without its suffix.
    void startedAlone_chatHeldForTheTone_favouriteNodeAnnounced() {
        QCOMPARE(world_.screen.findWindow(QStringLiteral("^Parlevox    Q1PLX   v"), 60000), world_.window);
        peer_->send(QStringLiteral("connect ") + stationrig::StationAddress);
        QVERIFY(peer_->waitFor(QStringLiteral("STATE CONNECTED peer=127\\.0\\.0\\.8 remote_call=Q1PLX"), 40000));
        peer_->send(QStringLiteral("chat good evening"));
        QVERIFY(world_.waitForSpoken(QStringLiteral("Message from  Q1BBB: good evening")));
        peer_->send(QStringLiteral("tone 1000 3"));
        QTest::qWait(1000);
        peer_->send(QStringLiteral("chat after the tone"));
        QVERIFY(peer_->waitFor(QStringLiteral(" TXAUDIO done$"), 30000));
        const qint64 toneEndMs = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(world_.waitForSpoken(QStringLiteral("Message from  Q1BBB: after the tone")));
        QVERIFY(world_.speech.startedTimes().constLast().first >= toneEndMs);
        QVERIFY(world_.click(1440, 360, 855, 255));
        QVERIFY(rig_.node().waitFor(QStringLiteral("(^|: )Q1PLX: EchoLink QSO state changed to CONNECTED$"), 40000));
        QVERIFY(world_.waitForSpoken(QStringLiteral("Q 1 A A A -  : Link Connected.")));
    }
};

QTEST_GUILESS_MAIN(StationE2ETest)
#include "StationE2ETest.moc"
