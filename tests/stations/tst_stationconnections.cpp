// SPDX-License-Identifier: GPL-3.0-or-later
// What a connect or disconnect of a station says and shows, and the buttons and sweep that make them.
#include "DataRow.h"
#include "MainWindowRig.h"
#include "platform/QrzAddress.h"
#include "stations/CallsignConnection.h"
#include "stations/ConnectionAnnouncements.h"
#include "stations/FavouriteStations.h"
#include "stations/StationRules.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

using namespace stations;
Q_DECLARE_METATYPE(stations::StationKind)

namespace {
const QString Root = QStringLiteral("https://lookup.example/db/");

// The typed-callsign box (slot 0), "Disconnect All", the five favourite slots (1..5) and the announcements.
struct Window : MainWindowRig {
    CallsignConnection::Widgets w = ui.stations.callsign;
    FavouriteStations::Widgets fw = ui.stations.favourites;
    ConnectionAnnouncements::Widgets aw = ui.stations.announcements;
    CallsignConnection typed{w, echoLink, voice};
    FavouriteStations favourites{fw, echoLink, voice};
    ConnectionAnnouncements announcer{aw, internet, voice, clock, Root};

    QLineEdit* box(int slot) { return slot == 0 ? w.callsign : fw.rows.at(slot - 1).callsign; }
    void click(int slot) { slot == 0 ? w.getCall->click() : fw.rows.at(slot - 1).toggle->click(); }
    QString history() const { return logText(aw.callHistory); }
};
} // namespace

class StationConnectionsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // Each box's button toggles its station, text passed as typed; a refusal speaks that box's own text.
    void toggle_data() {
        columns<int, QString, QString>("slot", "callsign", "refusal");
        row("typed box", 0, " <b>-x*\t", "Unable to connect to call sign. ");
        row("slot 1", 1, "N0CALL-R", "Unable to connect to call sign. ");
        row("slot 4 has two full stops", 4, "  ", "Unable to connect to call sign.. ");
        row("slot 5", 5, "N0CALL", "Unable to connect to call sign. ");
    }
    void toggle() {
        QFETCH(int, slot);
        QFETCH(QString, callsign);
        Window t;
        t.click(slot); // an empty box asks nothing
        t.box(slot)->setText(callsign);
        t.click(slot);
        t.click(slot);
        t.echoLink.refused.insert(callsign);
        t.click(slot);
        QCOMPARE(t.echoLink.calls.join(u' '), QStringLiteral("IsConnected(%1) Connect(%1,-1) IsConnected(%1) "
                                                             "Disconnect(%1) IsConnected(%1) Connect(%1,-1)")
                                                  .arg(callsign));
        QTEST(t.voice.spoken.join(QString()), "refusal");
        t.box(slot)->clear();
        QTest::keyClicks(t.box(slot), QStringLiteral("n0call-l"));
        QCOMPARE(t.box(slot)->text(), QStringLiteral("N0CALL-L"));
    }

    // Every failure is written to standard error only, and the click ends there. A voice refusing announcements is
    // warned of once per run of refusals.
    void failures_endClickWithAWarningOnly_voiceWarnedOncePerRunOfRefusals() {
        Window t;
        t.box(1)->setText(QStringLiteral("N0CALL"));
        t.echoLink.failing.insert(QStringLiteral("IsConnected"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("N0CALL.*no answer")));
        t.click(1);
        t.echoLink.failing = {QStringLiteral("Disconnect")};
        t.echoLink.connected.insert(QStringLiteral("N0CALL"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("disconnect.*N0CALL.*disconnect failed")));
        t.click(1);
        t.echoLink.refused.insert(QStringLiteral("NOBODY"));
        t.box(2)->setText(QStringLiteral("NOBODY"));
        t.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not speak.*Unable to connect")));
        t.click(2);
        QCOMPARE(t.echoLink.calls.join(u' '),
                 QStringLiteral("IsConnected(N0CALL) IsConnected(N0CALL) "
                                "Disconnect(N0CALL) IsConnected(NOBODY) Connect(NOBODY,-1)"));
        controls::setCheckValue(t.aw.announce, 1);
        for (int i = 0; i < 5; ++i) {
            t.voice.failing = i != 2;
            if (i == 0 || i == 3) {
                QTest::ignoreMessage(QtWarningMsg,
                                     QRegularExpression(QStringLiteral("announcement.*N %1  , Connected").arg(i)));
            }
            t.announcer.Echolink_connected(QStringLiteral("N%1").arg(i), QString(), {});
        }
    }

    // The sweep connects ticked slots not connected, silently, every slot visited; greyed counts as unticked; a
    // station that does not answer is left alone. Disconnect All leaves the ticks for the next sweep.
    void sweepAndDisconnectAll() {
        Window t;
        for (int slot = 1; slot <= 5; ++slot) {
            t.box(slot)->setText(QStringLiteral("S%1").arg(slot));
            controls::setCheckValue(t.fw.rows.at(slot - 1).stayConnected, slot == 4 ? 2 : 1);
        }
        t.echoLink.connected.insert(QStringLiteral("S3"));
        t.echoLink.refused.insert(QStringLiteral("S2"));
        t.favourites.Timer4_Timer();
        t.echoLink.failing.insert(QStringLiteral("IsConnected"));
        t.favourites.Timer4_Timer();
        t.echoLink.failing = {QStringLiteral("DisconnectAll")};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Disconnect All.*disconnect all failed")));
        t.w.disconnectAll->click();
        t.echoLink.failing.clear();
        t.w.disconnectAll->click();
        t.favourites.Timer4_Timer();
        QCOMPARE(t.echoLink.calls.filter(QStringLiteral("Connect(")).join(u' '),
                 QStringLiteral("Connect(S1,-1) Connect(S2,-1) Connect(S5,-1) "
                                "Connect(S1,-1) Connect(S2,-1) Connect(S3,-1) Connect(S5,-1)"));
        QVERIFY(t.voice.spoken.isEmpty());
    }

    // Spoken on connect and disconnect by kind when Con/Disc is ticked (1); the look-up address opened on connect,
    // its root written "/", only while the internet options want it.
    void connectAndDisconnect_data() {
        columns<int, QString, QString, QString>("conDisc", "callsign", "spoken", "lookedUp");
        row("station", 1, "N0CALL", "N 0 C A L L  , Connected|N 0 C A L L  , Disconnected", "/N0CALL");
        row("link up to first dash", 1, "N0-CALL-L", "N 0 -  : Link Connected.|N 0 -  : Link Disconnected.", "/N0-");
        row("repeater", 1, "K1AB-R", "K 1 A B -  : Repeater Connected.|K 1 A B -  : Repeater Disconnected.", "/K1AB-");
        row("conference", 1, "*EU*", "The   E U     conference connected.|The   E U     conference disconnected.", "");
        row("Ireland", 1, "*IRELAND*", "The Ireland  conference connected.|The Ireland  conference disconnected.", "");
        row("England", 1, "*ENGLAND*", "The England  conference connected.|The England  conference disconnected.", "");
        row("test server", 1, "*ECHOTEST*",
            "The EchoLink Test  Server Connected.|The EchoLink Test  Server disconnected.", "");
        row("empty looked up at root", 1, "", " , Connected| , Disconnected", "/");
        row("other suffix silent", 1, "N0CALL-1", "", "");
        row("unticked: silent, no look-up", 0, "N0CALL", "", "");
        row("greyed: silent, no look-up", 2, "N0CALL", "", "");
    }
    void connectAndDisconnect() {
        QFETCH(int, conDisc);
        QFETCH(QString, callsign);
        Window s;
        controls::setCheckValue(s.aw.announce, conDisc);
        s.announcer.Echolink_connected(callsign, QStringLiteral("Jo"), QStringLiteral("10.0.0.1"));
        s.announcer.Echolink_Disconnected(callsign);
        QTEST(s.voice.spoken.join(u'|'), "spoken");
        s.internet.qrzInfo = false;
        s.announcer.Echolink_connected(callsign, QString(), {});
        QTEST(s.internet.addresses.join(u' ').replace(Root, QStringLiteral("/")), "lookedUp");
    }

    // Characters that break a line, move the caret or reorder the text become U+FFFD; markup stays text.
    void history_growsUntilCleared_strangersTextCannotForgeLinesOrMarkup() {
        Window s;
        QCOMPARE(s.aw.lastConnectedNode->text(), QStringLiteral("None"));
        s.clock.set(21, 5);
        s.announcer.Echolink_connected(QStringLiteral("<img src=x>"), QStringLiteral("a\tb"), {});
        s.clock.set(0, 7);
        s.announcer.Echolink_connected(
            QStringLiteral("N0\r\n9 00 AM - W1AW"),
            QStringLiteral("<b>Jo</b>\t\u001b[\u007f\u0085\u2028\u2029\u202A\u2066\u202E\u2069"), {});
        const QString node = QStringLiteral("N0\uFFFD\uFFFD9 00 AM - W1AW <b>Jo</b>\uFFFD\uFFFD[") +
                             QString(8, QChar::ReplacementCharacter);
        QCOMPARE(s.aw.lastConnectedNode->accessibleName(), QStringLiteral("Last connected node: ") + node);
        QCOMPARE(s.internet.lastConnectedNode, node);
        QCOMPARE(s.aw.lastConnectedNode->textFormat(), Qt::PlainText);
        QCOMPARE(s.history(), QStringLiteral("9 05 PM - <img src=x>\n12 07 AM - N0\uFFFD\uFFFD9 00 AM - W1AW\n"));
        s.aw.clearHistory->click();
        s.announcer.Echolink_connected(QStringLiteral("W1AW"), QString(), {});
        QCOMPARE(s.history(), QStringLiteral("12 07 AM - W1AW\n"));
    }

    // The plain kinds and a suffix not announced are in connectAndDisconnect.
    void stationKind_data() {
        columns<QString, StationKind>("callsign", "kind");
        row("conference by trailing star", "N0CALL-L*", StationKind::Conference);
        row("star at the start only", "*IRELAND", StationKind::PlainStation);
        row("lower-case suffix", "N0CALL-l", StationKind::NotAnnounced);
        row("suffix then space", "N0CALL-L ", StationKind::NotAnnounced);
    }
    void stationKind() {
        QFETCH(QString, callsign);
        QTEST(stations::stationKind(callsign), "kind");
    }

    // Whatever a stranger's callsign holds, the look-up stays one segment under the root of the look-up site.
    void qrzAddress_data() {
        columns<QString, QString>("callsign", "segment");
        row("unreserved kept", "a.B_C~D-", "a.B_C~D-");
        row("dot segments give root", "..", "");
        // Slashes, query, fragment, escapes, markup, controls, scheme, user: each byte of the UTF-8 text escaped.
        row("every other byte escaped", "../?b=1#c%2e<b>* \r\n\t\x01\\u@h:Ä",
            "..%2F%3Fb%3D1%23c%252e%3Cb%3E%2A%20%0D%0A%09%01%5Cu%40h%3A%C3%84");
    }
    void qrzAddress() {
        QFETCH(QString, callsign);
        QFETCH(QString, segment);
        QCOMPARE(qrzLookupAddress(Root, callsign), Root + segment);
    }
};

QTEST_MAIN(StationConnectionsTest)
#include "tst_stationconnections.moc"
