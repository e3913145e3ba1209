// SPDX-License-Identifier: GPL-3.0-or-later
#include "stations/CallsignConnection.h"
#include "DataRow.h"
#include "stations/FavouriteStations.h"
#include "MainWindowRig.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace {
// The typed-callsign box (slot 0), "Disconnect All" and the five favourite slots (1..5).
struct Window : MainWindowRig {
    CallsignConnection::Widgets w = ui.stations.callsign;
    FavouriteStations::Widgets fw = ui.stations.favourites;
    CallsignConnection typed{w, echoLink, voice};
    FavouriteStations favourites{fw, echoLink, voice};

    QLineEdit* box(int slot) { return slot == 0 ? w.callsign : fw.rows.at(slot - 1).callsign; }
    void set(int slot, const QString& callsign, int stay) {
        box(slot)->setText(callsign);
        controls::setCheckValue(fw.rows.at(slot - 1).stayConnected, stay);
    }
    void click(int slot) { slot == 0 ? w.getCall->click() : fw.rows.at(slot - 1).toggle->click(); }
};
} // namespace

class StationConnectionsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // Each box's button toggles its station, text passed as typed; a refusal speaks that box's own text.
    void toggle_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("refusal");
        row("typed box", 0, " <b>-x*\t", "Unable to connect to call sign. ");
        row("slot 1", 1, "N0CALL-R", "Unable to connect to call sign. ");
        row("slot 4 has two full stops", 4, "  ", "Unable to connect to call sign.. ");
        row("slot 5", 5, "N0CALL", "Unable to connect to call sign. ");
    }
    void toggle() {
        QFETCH(int, slot);
        QFETCH(QString, callsign);
        Window t;
        t.box(slot)->setText(callsign);
        t.click(slot);
        t.click(slot);
        t.echoLink.refused.insert(callsign);
        t.click(slot);
        const QString on = QStringLiteral("IsConnected(%1)").arg(callsign),
                      connect = QStringLiteral("Connect(%1,-1)").arg(callsign);
        QCOMPARE(t.echoLink.calls,
                 (QStringList{on, connect, on, QStringLiteral("Disconnect(%1)").arg(callsign), on, connect}));
        QTEST(t.voice.spoken.join(QString()), "refusal");
        QCOMPARE(t.box(slot)->text(), callsign);
        t.box(slot)->clear();
        t.click(slot);
        QCOMPARE(t.echoLink.calls.size(), 6);
        QTest::keyClicks(t.box(slot), QStringLiteral("n0call-l"));
        QCOMPARE(t.box(slot)->text(), QStringLiteral("N0CALL-L"));
    }

    // Every failure is written to standard error only, and the click ends there.
    void failedToggle_endsClickWithAWarningOnly() {
        Window t;
        t.set(1, QStringLiteral("N0CALL"), 0);
        t.echoLink.failing.insert(QStringLiteral("IsConnected"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("N0CALL.*no answer")));
        t.click(1);
        t.echoLink.failing = {QStringLiteral("Disconnect")};
        t.echoLink.connected.insert(QStringLiteral("N0CALL"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("disconnect.*N0CALL.*disconnect failed")));
        t.click(1);
        t.echoLink.refused.insert(QStringLiteral("NOBODY"));
        t.set(2, QStringLiteral("NOBODY"), 0);
        t.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not speak.*Unable to connect")));
        t.click(2);
        QCOMPARE(t.echoLink.calls.last(), QStringLiteral("Connect(NOBODY,-1)"));
    }

    // The sweep connects ticked slots not connected, silently, every slot visited; greyed counts as unticked.
    // Disconnect All is sent even with nothing connected and leaves the ticks for the sweep.
    void sweepAndDisconnectAll() {
        Window t;
        for (int slot = 1; slot <= 5; ++slot) {
            t.set(slot, QStringLiteral("S%1").arg(slot), slot == 4 ? 2 : 1);
        }
        t.echoLink.connected.insert(QStringLiteral("S3"));
        t.echoLink.refused.insert(QStringLiteral("S2"));
        t.favourites.Timer4_Timer();
        QCOMPARE(t.echoLink.callsTo(QStringLiteral("Connect(")).join(u' '),
                 QStringLiteral("Connect(S1,-1) Connect(S2,-1) Connect(S5,-1)"));
        t.echoLink.failing.insert(QStringLiteral("IsConnected"));
        t.echoLink.calls.clear();
        t.favourites.Timer4_Timer();
        QCOMPARE(t.echoLink.calls.size(), 4);
        t.echoLink.failing = {QStringLiteral("DisconnectAll")};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Disconnect All.*disconnect all failed")));
        t.w.disconnectAll->click();
        t.echoLink.failing.clear();
        t.w.disconnectAll->click();
        QVERIFY(t.echoLink.connected.isEmpty() && t.voice.spoken.isEmpty());
        t.echoLink.calls.clear();
        t.favourites.Timer4_Timer();
        QCOMPARE(t.echoLink.callsTo(QStringLiteral("Connect(")).join(u' '),
                 QStringLiteral("Connect(S1,-1) Connect(S2,-1) Connect(S3,-1) Connect(S5,-1)"));
    }
};

QTEST_MAIN(StationConnectionsTest)
#include "tst_stationconnections.moc"
