// SPDX-License-Identifier: GPL-3.0-or-later
#include "CallsignConnection.h"
#include "DataRow.h"
#include "FavouriteStations.h"
#include "MainWindowRig.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace {

// The typed-callsign box, "Disconnect All" and the five favourite slots, with their handlers.
struct Window : MainWindowRig {
    CallsignConnection::Widgets w = ui.stations.callsign;
    FavouriteStations::Widgets fw = ui.stations.favourites;
    std::unique_ptr<CallsignConnection> typed = std::make_unique<CallsignConnection>(w, echoLink, voice);
    std::unique_ptr<FavouriteStations> favourites = std::make_unique<FavouriteStations>(fw, echoLink, voice);

    // slot is 1..5, as the user counts them.
    void set(int slot, const QString& callsign, bool stay = false) {
        fw.rows.at(slot - 1).callsign->setText(callsign);
        controls::setCheckValue(fw.rows.at(slot - 1).stayConnected, stay ? 1 : 0);
    }
    void click(int slot) { fw.rows.at(slot - 1).toggle->click(); }
    QStringList connects() const { return echoLink.callsTo(QStringLiteral("Connect(")); }
};

QStringList toggleCalls(const QString& callsign, const QString& action) {
    return {QStringLiteral("IsConnected(%1)").arg(callsign), action.arg(callsign)};
}
const QString Connect = QStringLiteral("Connect(%1,-1)");
const QString Disconnect = QStringLiteral("Disconnect(%1)");

} // namespace

class StationConnectionsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void getCall_togglesTheTypedStationBothWays() {
        Window t;
        t.w.callsign->setText(QStringLiteral("N0CALL-R"));
        t.w.getCall->click();
        t.w.getCall->click();
        QCOMPARE(t.echoLink.calls, toggleCalls(QStringLiteral("N0CALL-R"), Connect) +
                                       toggleCalls(QStringLiteral("N0CALL-R"), Disconnect));
        QVERIFY(t.voice.spoken.isEmpty());
    }

    void refusedConnect_speaksTheBoxsFailureTextAndKeepsItsText_data() {
        QTest::addColumn<int>("slot"); // 0: the typed-callsign box
        QTest::addColumn<QString>("failureText");
        row("typed callsign", 0, "Unable to connect to call sign. ");
        row("slot 1", 1, "Unable to connect to call sign. ");
        row("slot 2", 2, "Unable to connect to call sign. ");
        row("slot 3", 3, "Unable to connect to call sign. ");
        row("slot 4 has two full stops", 4, "Unable to connect to call sign.. ");
        row("slot 5", 5, "Unable to connect to call sign. ");
    }
    void refusedConnect_speaksTheBoxsFailureTextAndKeepsItsText() {
        QFETCH(int, slot);
        QFETCH(QString, failureText);
        Window t;
        t.echoLink.refused.insert(QStringLiteral("N0CALL"));
        QLineEdit* box = slot == 0 ? t.w.callsign : t.fw.rows.at(slot - 1).callsign;
        box->setText(QStringLiteral("N0CALL"));
        if (slot == 0) {
            t.w.getCall->click();
        } else {
            t.click(slot);
        }
        QCOMPARE(t.echoLink.calls, toggleCalls(QStringLiteral("N0CALL"), Connect));
        QCOMPARE(t.voice.spoken, QStringList{failureText});
        QCOMPARE(box->text(), QStringLiteral("N0CALL"));
    }

    void emptyBoxesIgnored_spacesAndStrangeTextPassedUnchanged() {
        Window t;
        t.set(1, QString(), true);
        t.click(1);
        t.w.getCall->click();
        QVERIFY(t.echoLink.calls.isEmpty());
        t.set(3, QStringLiteral("  "));
        t.click(3);
        t.w.callsign->setText(QStringLiteral(" <b>-x*\t"));
        t.w.getCall->click();
        QCOMPARE(t.connects(),
                 (QStringList{Connect.arg(QStringLiteral("  ")), Connect.arg(QStringLiteral(" <b>-x*\t"))}));
        QVERIFY(t.voice.spoken.isEmpty());
    }

    void lowerCaseTyped_showsAsCapitalsAndReachesStationSo() {
        Window t;
        for (QLineEdit* box : {t.w.callsign, t.fw.rows.at(0).callsign, t.fw.rows.at(1).callsign,
                               t.fw.rows.at(2).callsign, t.fw.rows.at(3).callsign, t.fw.rows.at(4).callsign}) {
            box->clear();
            QTest::keyClicks(box, QStringLiteral("n0call-l"));
            QCOMPARE(box->text(), QStringLiteral("N0CALL-L"));
        }
        t.click(5);
        QCOMPARE(t.connects(), QStringList{QStringLiteral("Connect(N0CALL-L,-1)")});
    }

    // Every failure is written to standard error only, and the click ends there.
    void failedToggle_endsClickSilently() {
        Window t;
        t.w.callsign->setText(QStringLiteral("N0CALL"));
        t.echoLink.failing.insert(QStringLiteral("IsConnected"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("N0CALL.*no answer")));
        t.w.getCall->click();
        QCOMPARE(t.echoLink.calls, QStringList{QStringLiteral("IsConnected(N0CALL)")});

        t.echoLink.failing = {QStringLiteral("Disconnect")};
        t.echoLink.connected.insert(QStringLiteral("N0CALL"));
        t.set(4, QStringLiteral("N0CALL"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("disconnect.*N0CALL.*disconnect failed")));
        t.click(4);
        QCOMPARE(t.echoLink.calls.last(), QStringLiteral("Disconnect(N0CALL)"));

        t.set(1, QStringLiteral("NOBODY"));
        t.echoLink.refused.insert(QStringLiteral("NOBODY"));
        t.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not speak.*Unable to connect")));
        t.click(1);
        QCOMPARE(t.echoLink.calls.last(), QStringLiteral("Connect(NOBODY,-1)"));
        QVERIFY(t.voice.spoken.isEmpty());
    }

    void sweep_connectsTickedSlotsNotConnected() {
        Window t;
        t.set(1, QStringLiteral("TICKED"), true);
        t.set(2, QStringLiteral("UNTICKED"), false);
        t.set(3, QStringLiteral("CONNECTED"), true);
        t.set(4, QString(), true);
        t.set(5, QStringLiteral("  "), true);
        t.echoLink.connected.insert(QStringLiteral("CONNECTED"));
        t.favourites->Timer4_Timer();
        QCOMPARE(t.echoLink.calls, toggleCalls(QStringLiteral("TICKED"), Connect)
                                       << QStringLiteral("IsConnected(CONNECTED)")
                                       << toggleCalls(QStringLiteral("  "), Connect));
        QVERIFY(t.voice.spoken.isEmpty());

        // The ticked ones are connected now; a greyed tick counts as unticked.
        controls::setCheckValue(t.fw.rows.at(1).stayConnected, 2);
        t.echoLink.calls.clear();
        t.favourites->Timer4_Timer();
        QVERIFY(t.connects().isEmpty());
    }

    void sweep_refusalOrNoAnswerMidSweepIsSilentAndOtherSlotsStillVisited() {
        Window t;
        QStringList all;
        for (int slot = 1; slot <= 5; ++slot) {
            t.set(slot, QStringLiteral("S%1").arg(slot), true);
            all << Connect.arg(QStringLiteral("S%1").arg(slot));
        }
        t.echoLink.refused.insert(QStringLiteral("S2"));
        t.favourites->Timer4_Timer();
        QCOMPARE(t.connects(), all);
        QVERIFY(t.voice.spoken.isEmpty());

        // With no answer to IsConnected every slot is still asked, and nothing is connected on that tick.
        t.echoLink.calls.clear();
        t.echoLink.failing.insert(QStringLiteral("IsConnected"));
        t.favourites->Timer4_Timer();
        QCOMPARE(t.echoLink.calls.size(), 5);
        QVERIFY(t.connects().isEmpty());

        // The refused slot is asked again on the next tick; the others are connected.
        t.echoLink.failing.clear();
        t.favourites->Timer4_Timer();
        QCOMPARE(t.connects(), QStringList{QStringLiteral("Connect(S2,-1)")});
    }

    // Sent even with nothing connected, a failure only written to standard error; the sweep after it
    // reconnects the stay-connected favourites only.
    void disconnectAll_thenSweepReconnectsStayConnectedFavouritesOnly() {
        Window t;
        t.w.disconnectAll->click();
        t.echoLink.failing.insert(QStringLiteral("DisconnectAll"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Disconnect All.*disconnect all failed")));
        t.w.disconnectAll->click();
        QCOMPARE(t.echoLink.calls, QStringList(2, QStringLiteral("DisconnectAll()")));
        QVERIFY(t.voice.spoken.isEmpty());
        t.echoLink.failing.clear();
        t.set(1, QStringLiteral("FAV1"), true);
        t.set(2, QStringLiteral("FAV2"), false);
        t.w.callsign->setText(QStringLiteral("TYPED"));
        t.echoLink.connected = {QStringLiteral("FAV1"), QStringLiteral("FAV2"), QStringLiteral("TYPED")};

        t.w.disconnectAll->click();
        QVERIFY(t.echoLink.connected.isEmpty());
        QCOMPARE(t.fw.rows.at(0).stayConnected->checkState(), Qt::Checked);

        t.favourites->Timer4_Timer();
        QCOMPARE(t.connects(), QStringList{QStringLiteral("Connect(FAV1,-1)")});
        QCOMPARE(t.echoLink.connected, QSet<QString>{QStringLiteral("FAV1")});
    }
};

QTEST_MAIN(StationConnectionsTest)
#include "tst_stationconnections.moc"
