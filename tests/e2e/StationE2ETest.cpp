// SPDX-License-Identifier: GPL-3.0-or-later
// Parlevox on our own station program, parlevox-station, among existing EchoLink programs: a svxlink node
// and a peer on Debian's EchoLink library, with the fake directory, all in a private network namespace.
// What a user hears when a peer chats, and when a favourite node is clicked.
#include "ParlevoxHarness.h"
#include "SpeechHarness.h"
#include "StationHarness.h"
#include "StationRig.h"

#include <QDBusConnectionInterface>
#include <QTemporaryDir>
#include <memory>

namespace {

constexpr int StartTimeoutMs = 60000;  // a slow machine starting the web engine
constexpr int SpeechTimeoutMs = 30000; // each text takes the speech script a moment
// The node ignores a caller that logged in after it last fetched the list, and answers its retry.
constexpr int CallTimeoutMs = 40000;

const QString MainTitle = QStringLiteral("^Parlevox    ");
// Command4 of the main window, the favourite TEXT4 (see ParlevoxTest).
constexpr QPoint Command4 = {(120 + 1320 + 855 / 2) / 15, (120 + 240 + 255 / 2) / 15};

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

    bool waitForSpoken(const QString& text) const {
        return QTest::qWaitFor([&] { return speech_.spoken().contains(text); }, SpeechTimeoutMs);
    }
    QString spoken() const { return speech_.spoken().join(QStringLiteral(" | ")); }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(stationrig::onlyLoopback(&error), qPrintable(error));
        QVERIFY(work_.isValid() && home_.isValid());
        QVERIFY2(bus_.start(&error), qPrintable(error));
        QVERIFY2(screen_.start(&error), qPrintable(error));
        const QString problem = speech_.start();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));

        rig_ = std::make_unique<stationrig::Rig>(work_.path());
        QVERIFY2(rig_->startDirectory(&error), qPrintable(error));
        peer_ = rig_->startPeer(QStringLiteral("Q1BBB"), 0, &error);
        QVERIFY2(peer_, qPrintable(error));
        QVERIFY2(rig_->startNode(&error), qPrintable(error));
        QVERIFY2(rig_->startStation(bus_.environment(), &error), qPrintable(error));
        const QDBusConnection client = bus_.connect();
        QVERIFY(QTest::qWaitFor(
            [&] { return client.interface()->isServiceRegistered(QStringLiteral("org.parlevox.EchoLink")); }));

        const QProcessEnvironment env =
            e2e::ParlevoxProcess::environment(bus_.environment(), screen_.display(), speech_.address(), home_.path());
        QVERIFY(speech_.forbidAutoSpawn(home_.filePath(QStringLiteral("config"))));
        QVERIFY(e2e::writeFile(home_.filePath(QStringLiteral("config/parlevox.ini")),
                               "[SETTINGS]\r\nTEXT4=" + stationrig::NodeCall.toLatin1() + "\r\n"));
        app_ = std::make_unique<e2e::ParlevoxProcess>(env);
        QVERIFY2(app_->start(&error), qPrintable(error));
        QVERIFY2(!screen_.findWindow(MainTitle, StartTimeoutMs).isEmpty(), qPrintable(app_->errors()));
    }

    void cleanup() {
        if (QTest::currentTestFailed()) {
            qInfo().noquote() << "spoken:" << spoken() << "\nparlevox stderr:" << (app_ ? app_->errors() : QString())
                              << '\n'
                              << rig_->logTails();
        }
    }

    void cleanupTestCase() {
        app_.reset();
        rig_.reset();
    }

    void peerChats_parlevoxSpeaksTheLine() {
        peer_->send(QStringLiteral("connect ") + stationrig::StationAddress);
        QVERIFY(
            peer_->waitFor(QStringLiteral("STATE CONNECTED peer=127\\.0\\.0\\.8 remote_call=Q1PLX"), CallTimeoutMs));
        peer_->send(QStringLiteral("chat good evening through the station"));
        QVERIFY(waitForSpoken(QStringLiteral("Message from  Q1BBB: good evening through the station")));
    }

    void favouriteNodeClicked_stationConnectsItAndParlevoxAnnouncesIt() {
        const QString window = screen_.findWindow(MainTitle);
        QVERIFY(!window.isEmpty());
        QVERIFY(screen_.click(window, Command4));
        QVERIFY(rig_->node().waitFor(QStringLiteral("(^|: )Q1PLX: EchoLink QSO state changed to CONNECTED$"),
                                     CallTimeoutMs));
        // A link is spoken without its suffix letter.
        QVERIFY(waitForSpoken(QStringLiteral("Q 1 A A A -  : Link Connected.")));
    }
};

QTEST_GUILESS_MAIN(StationE2ETest)
#include "StationE2ETest.moc"
