// SPDX-License-Identifier: GPL-3.0-or-later
#include "Controls.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "FavouriteStations.h"
#include "MainLayout.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <memory>

namespace {

// The main window's favourite slots with their handlers.
struct Favourites {
    QWidget window;
    FakeEchoLinkClient echoLink;
    FakeVoice voice;
    FavouriteStations::Widgets w;
    std::unique_ptr<FavouriteStations> favourites;

    Favourites() {
        buildMainLayout(&window);
        w = FavouriteStations::Widgets::find(&window);
        favourites = std::make_unique<FavouriteStations>(w, echoLink, voice);
    }
    // slot is 1..5, as the user counts them.
    void set(int slot, const QString& callsign, bool stay = false) {
        w.rows.at(slot - 1).callsign->setText(callsign);
        controls::setCheckValue(w.rows.at(slot - 1).stayConnected, stay ? 1 : 0);
    }
    void click(int slot) { w.rows.at(slot - 1).toggle->click(); }
};

} // namespace

class FavouriteStationsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void refusedConnect_speaksTheSlotsFailureText_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("failureText");
        QTest::newRow("slot 1") << 1 << "Unable to connect to call sign. ";
        QTest::newRow("slot 2") << 2 << "Unable to connect to call sign. ";
        QTest::newRow("slot 3") << 3 << "Unable to connect to call sign. ";
        QTest::newRow("slot 4 has two full stops") << 4 << "Unable to connect to call sign.. ";
        QTest::newRow("slot 5") << 5 << "Unable to connect to call sign. ";
    }
    void refusedConnect_speaksTheSlotsFailureText() {
        QFETCH(int, slot);
        QFETCH(QString, failureText);
        Favourites f;
        f.set(slot, QStringLiteral("N0CALL"));
        f.echoLink.refused.insert(QStringLiteral("N0CALL"));
        f.click(slot);
        QCOMPARE(f.echoLink.calls,
                 (QStringList{QStringLiteral("IsConnected(N0CALL)"), QStringLiteral("Connect(N0CALL,-1)")}));
        QCOMPARE(f.voice.spoken, QStringList{failureText});
        QCOMPARE(f.w.rows.at(slot - 1).callsign->text(), QStringLiteral("N0CALL"));
    }

    void namedHandlers_actOnTheirOwnSlot() {
        Favourites f;
        for (int slot = 1; slot <= 5; ++slot) {
            f.set(slot, QStringLiteral("S%1").arg(slot));
        }
        f.favourites->Command4_Click();
        f.favourites->Command5_Click();
        f.favourites->Command6_Click();
        f.favourites->Command7_Click();
        f.favourites->Command8_Click();
        QCOMPARE(f.echoLink.callsTo(QStringLiteral("Connect(")),
                 (QStringList{QStringLiteral("Connect(S1,-1)"), QStringLiteral("Connect(S2,-1)"),
                              QStringLiteral("Connect(S3,-1)"), QStringLiteral("Connect(S4,-1)"),
                              QStringLiteral("Connect(S5,-1)")}));
    }

    void click_togglesConnection() {
        Favourites f;
        f.set(2, QStringLiteral("N0CALL-L"));
        f.click(2);
        QCOMPARE(f.echoLink.calls,
                 (QStringList{QStringLiteral("IsConnected(N0CALL-L)"), QStringLiteral("Connect(N0CALL-L,-1)")}));
        f.echoLink.calls.clear();
        f.click(2);
        QCOMPARE(f.echoLink.calls,
                 (QStringList{QStringLiteral("IsConnected(N0CALL-L)"), QStringLiteral("Disconnect(N0CALL-L)")}));
        QVERIFY(f.voice.spoken.isEmpty());
    }

    void emptySlot_clickDoesNothing() {
        Favourites f;
        f.set(1, QString(), true);
        f.click(1);
        QVERIFY(f.echoLink.calls.isEmpty());
        QVERIFY(f.voice.spoken.isEmpty());
    }

    void slotOfSpaces_passedUnchanged() {
        Favourites f;
        f.set(3, QStringLiteral("  "));
        f.click(3);
        QCOMPARE(f.echoLink.calls, (QStringList{QStringLiteral("IsConnected(  )"), QStringLiteral("Connect(  ,-1)")}));
    }

    void isConnectedFailure_endsClickSilently() {
        Favourites f;
        f.set(1, QStringLiteral("N0CALL"));
        f.echoLink.failing.insert(QStringLiteral("IsConnected"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("N0CALL.*no answer")));
        f.click(1);
        QCOMPARE(f.echoLink.calls, QStringList{QStringLiteral("IsConnected(N0CALL)")});
        QVERIFY(f.voice.spoken.isEmpty());
    }

    void disconnectFailure_endsClickSilently() {
        Favourites f;
        f.set(4, QStringLiteral("N0CALL"));
        f.echoLink.connected.insert(QStringLiteral("N0CALL"));
        f.echoLink.failing.insert(QStringLiteral("Disconnect"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("disconnect.*N0CALL.*disconnect failed")));
        f.click(4);
        QCOMPARE(f.echoLink.calls,
                 (QStringList{QStringLiteral("IsConnected(N0CALL)"), QStringLiteral("Disconnect(N0CALL)")}));
        QVERIFY(f.voice.spoken.isEmpty());
    }

    void failureTextNotSpoken_writtenToStandardError() {
        Favourites f;
        f.set(1, QStringLiteral("N0CALL"));
        f.echoLink.refused.insert(QStringLiteral("N0CALL"));
        f.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not speak.*Unable to connect")));
        f.click(1);
        QCOMPARE(f.echoLink.calls.size(), 2);
    }

    void lowerCaseTyped_showsAsCapitalAndReachesStationSo() {
        Favourites f;
        for (const FavouriteSlot& slot : f.w.rows) {
            slot.callsign->clear();
            QTest::keyClicks(slot.callsign, QStringLiteral("n0call-l"));
            QCOMPARE(slot.callsign->text(), QStringLiteral("N0CALL-L"));
        }
        f.click(5);
        QCOMPARE(f.echoLink.callsTo(QStringLiteral("Connect(")), QStringList{QStringLiteral("Connect(N0CALL-L,-1)")});
    }

    void sweep_connectsTickedSlotsNotConnected() {
        Favourites f;
        f.set(1, QStringLiteral("TICKED"), true);
        f.set(2, QStringLiteral("UNTICKED"), false);
        f.set(3, QStringLiteral("CONNECTED"), true);
        f.set(4, QString(), true);
        f.set(5, QStringLiteral("  "), true);
        f.echoLink.connected.insert(QStringLiteral("CONNECTED"));
        f.favourites->Timer4_Timer();
        QCOMPARE(f.echoLink.calls,
                 (QStringList{QStringLiteral("IsConnected(TICKED)"), QStringLiteral("Connect(TICKED,-1)"),
                              QStringLiteral("IsConnected(CONNECTED)"), QStringLiteral("IsConnected(  )"),
                              QStringLiteral("Connect(  ,-1)")}));
        QVERIFY(f.voice.spoken.isEmpty());

        f.echoLink.calls.clear();
        f.favourites->Timer4_Timer();
        QVERIFY(f.echoLink.callsTo(QStringLiteral("Connect(")).isEmpty());
    }

    void sweep_greyedStayConIsNotTicked() {
        Favourites f;
        f.set(1, QStringLiteral("N0CALL"));
        controls::setCheckValue(f.w.rows.at(0).stayConnected, 2);
        f.favourites->Timer4_Timer();
        QVERIFY(f.echoLink.calls.isEmpty());
    }

    void sweep_refusalMidSweepIsSilentAndOtherSlotsStillVisited() {
        Favourites f;
        for (int slot = 1; slot <= 5; ++slot) {
            f.set(slot, QStringLiteral("S%1").arg(slot), true);
        }
        f.echoLink.refused.insert(QStringLiteral("S2"));
        f.favourites->Timer4_Timer();
        QCOMPARE(f.echoLink.callsTo(QStringLiteral("Connect(")),
                 (QStringList{QStringLiteral("Connect(S1,-1)"), QStringLiteral("Connect(S2,-1)"),
                              QStringLiteral("Connect(S3,-1)"), QStringLiteral("Connect(S4,-1)"),
                              QStringLiteral("Connect(S5,-1)")}));
        QVERIFY(f.voice.spoken.isEmpty());

        // The refused slot is asked again on every tick; the others are now connected.
        f.echoLink.calls.clear();
        f.favourites->Timer4_Timer();
        QCOMPARE(f.echoLink.callsTo(QStringLiteral("Connect(")), QStringList{QStringLiteral("Connect(S2,-1)")});
    }

    void sweep_isConnectedFailureAbandonsOnlyThatTick() {
        Favourites f;
        for (int slot = 1; slot <= 5; ++slot) {
            f.set(slot, QStringLiteral("S%1").arg(slot), true);
        }
        f.echoLink.failing.insert(QStringLiteral("IsConnected"));
        f.favourites->Timer4_Timer();
        QCOMPARE(f.echoLink.callsTo(QStringLiteral("IsConnected(")).size(), 5);
        QVERIFY(f.echoLink.callsTo(QStringLiteral("Connect(")).isEmpty());
    }

    void sweep_sameCallsignInTwoSlotsHandledIndependently() {
        Favourites f;
        f.set(2, QStringLiteral("N0CALL"), true);
        f.set(5, QStringLiteral("N0CALL"), true);
        f.echoLink.refused.insert(QStringLiteral("N0CALL"));
        f.favourites->Timer4_Timer();
        QCOMPARE(f.echoLink.callsTo(QStringLiteral("Connect(")),
                 (QStringList{QStringLiteral("Connect(N0CALL,-1)"), QStringLiteral("Connect(N0CALL,-1)")}));
    }

    void disconnectClickThenSweep_reconnectsStayConnectedSlot() {
        Favourites f;
        f.set(1, QStringLiteral("N0CALL"), true);
        f.echoLink.connected.insert(QStringLiteral("N0CALL"));
        f.click(1);
        QVERIFY(!f.echoLink.connected.contains(QStringLiteral("N0CALL")));
        f.favourites->Timer4_Timer();
        QVERIFY(f.echoLink.connected.contains(QStringLiteral("N0CALL")));
        QCOMPARE(f.echoLink.calls.last(), QStringLiteral("Connect(N0CALL,-1)"));
    }
};

QTEST_MAIN(FavouriteStationsTest)
#include "tst_favouritestations.moc"
