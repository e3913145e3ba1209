// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConnectionAnnouncements.h"
#include "DataRow.h"
#include "MainWindowRig.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

namespace {

const QString root = QStringLiteral("https://lookup.example/db/");

// The announcer on the main window's controls, "Stations When Con/Disc" ticked.
struct Station : MainWindowRig {
    ConnectionAnnouncements::Widgets w = ui.stations.announcements;
    std::unique_ptr<ConnectionAnnouncements> announcer;

    Station() {
        controls::setCheckValue(w.announce, 1);
        announcer = std::make_unique<ConnectionAnnouncements>(w, internet, voice, clock, root);
    }
    QString label() const { return w.lastConnectedNode->text(); }
    QString history() const { return logText(w.callHistory); }
};

} // namespace

class ConnectionAnnouncementsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void connectAndDisconnect_speakByKindAndLookUpOnConnectOnly_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("onConnect"); // empty: silent
        QTest::addColumn<QString>("onDisconnect");
        QTest::addColumn<QString>("lookedUp"); // the address after the root, or "none"
        row("plain station", "N0CALL", "N 0 C A L L  , Connected", "N 0 C A L L  , Disconnected", "N0CALL");
        row("link by the part up to the dash", "N0CALL-L", "N 0 C A L L -  : Link Connected.",
            "N 0 C A L L -  : Link Disconnected.", "N0CALL-");
        row("link cut at the first dash", "N0-CALL-L", "N 0 -  : Link Connected.", "N 0 -  : Link Disconnected.",
            "N0-");
        row("repeater by the part up to the dash", "K1AB-R", "K 1 A B -  : Repeater Connected.",
            "K 1 A B -  : Repeater Disconnected.", "K1AB-");
        row("conference", "*EU*", "The   E U     conference connected.", "The   E U     conference disconnected.",
            "none");
        row("lower-case Ireland is an ordinary conference", "*ireland*",
            "The   i r e l a n d     conference connected.", "The   i r e l a n d     conference disconnected.",
            "none");
        row("Ireland", "*IRELAND*", "The Ireland  conference connected.", "The Ireland  conference disconnected.",
            "none");
        row("England", "*ENGLAND*", "The England  conference connected.", "The England  conference disconnected.",
            "none");
        row("test server", "*ECHOTEST*", "The EchoLink Test  Server Connected.",
            "The EchoLink Test  Server disconnected.", "none");
        row("only spaces", "  ", "     , Connected", "     , Disconnected", "%20%20");
        row("empty callsign looked up at the root", "", " , Connected", " , Disconnected", "");
        row("other suffix is silent", "N0CALL-1", "", "", "none");
        row("lower-case suffix is silent", "n0call-l", "", "", "none");
    }
    void connectAndDisconnect_speakByKindAndLookUpOnConnectOnly() {
        QFETCH(QString, callsign);
        QFETCH(QString, onConnect);
        QFETCH(QString, onDisconnect);
        QFETCH(QString, lookedUp);
        const QStringList addresses = lookedUp == QStringLiteral("none") ? QStringList{} : QStringList{root + lookedUp};
        Station s;
        s.announcer->Echolink_connected(callsign, QStringLiteral("Jo"), QStringLiteral("10.0.0.1"));
        QCOMPARE(s.internet.addresses, addresses);
        QCOMPARE(s.history(), QStringLiteral("9 05 AM - ") + callsign + QLatin1Char('\n'));
        s.announcer->Echolink_Disconnected(callsign); // changes no display and looks nothing up
        QCOMPARE(s.voice.spoken, (onConnect.isEmpty() ? QStringList{} : QStringList{onConnect, onDisconnect}));
        QCOMPARE(s.voice.last, onConnect.isEmpty() ? QString() : onDisconnect);
        QCOMPARE(s.label(), callsign + QStringLiteral(" Jo"));
        QCOMPARE(s.internet.lastConnectedNode, callsign + QStringLiteral(" Jo"));
        QCOMPARE(s.history(), QStringLiteral("9 05 AM - ") + callsign + QLatin1Char('\n'));
        QCOMPARE(s.internet.addresses, addresses);
    }

    void connect_setsBothLabelsAndAppendsHistoryLineUntilCleared() {
        Station s;
        QCOMPARE(s.label(), QStringLiteral("None"));
        s.clock.set(21, 5);
        s.announcer->Echolink_connected(QStringLiteral("N0CALL-L"), QStringLiteral("Jo Smith"), {});
        s.clock.set(0, 7);
        s.announcer->Echolink_connected(QStringLiteral("*IRELAND*"), QStringLiteral("Dublin"), {});
        QCOMPARE(s.label(), QStringLiteral("*IRELAND* Dublin"));
        QCOMPARE(s.internet.lastConnectedNode, QStringLiteral("*IRELAND* Dublin"));
        QCOMPARE(s.w.lastConnectedNode->accessibleName(), QStringLiteral("Last connected node: *IRELAND* Dublin"));
        QCOMPARE(s.history(), QStringLiteral("9 05 PM - N0CALL-L\n12 07 AM - *IRELAND*\n"));

        // Clearing empties only the history; the next connection starts it afresh.
        s.w.clearHistory->click();
        QCOMPARE(s.label(), QStringLiteral("*IRELAND* Dublin"));
        s.announcer->Echolink_connected(QStringLiteral("W1AW"), QString(), {});
        QCOMPARE(s.history(), QStringLiteral("12 07 AM - W1AW\n"));
    }

    // Con/Disc unticked or greyed: displays change, nothing spoken or looked up; "Show QRZ info" off: no look-up.
    void conDiscOrQrzInfoOff_silencesWhatTheyGate() {
        for (const int conDisc : {0, 2, 1}) {
            Station s;
            controls::setCheckValue(s.w.announce, conDisc);
            s.internet.qrzInfo = conDisc != 1;
            s.announcer->Echolink_connected(QStringLiteral("N0CALL-R"), QStringLiteral("Jo"), {});
            s.announcer->Echolink_Disconnected(QStringLiteral("N0CALL-R"));
            QCOMPARE(s.label(), QStringLiteral("N0CALL-R Jo"));
            QCOMPARE(s.history(), QStringLiteral("9 05 AM - N0CALL-R\n"));
            QCOMPARE(s.voice.spoken.size(), conDisc == 1 ? 2 : 0);
            QVERIFY(s.internet.addresses.isEmpty());
        }
    }

    void strangersText_shownLiterallyAndLookedUpSafely() {
        Station s;
        const QString markup = QStringLiteral("<img src=x>");
        s.announcer->Echolink_connected(markup, QStringLiteral("<b>Jo</b>"), {});
        QCOMPARE(s.label(), QStringLiteral("<img src=x> <b>Jo</b>"));
        QCOMPARE(s.w.lastConnectedNode->textFormat(), Qt::PlainText);
        QCOMPARE(s.internet.addresses, QStringList{root + QStringLiteral("%3Cimg%20src%3Dx%3E")});

        const QString forged = QStringLiteral("N0\r\n9 00 AM - W1AW");
        s.announcer->Echolink_connected(forged, QStringLiteral("a\tb"), {});
        QCOMPARE(s.label(), QStringLiteral("N0\uFFFD\uFFFD9 00 AM - W1AW a\uFFFDb"));
        controls::flushLog(s.w.callHistory);
        QCOMPARE(s.w.callHistory->document()->blockCount(), 3); // two lines and the empty one after them

        const QString longCall = QString(5000, QLatin1Char('W'));
        s.announcer->Echolink_connected(longCall, QString(), {});
        QCOMPARE(s.voice.spoken.last(), QStringLiteral("W ").repeated(5000) + QStringLiteral(" , Connected"));
        QCOMPARE(s.internet.addresses.last(), root + longCall);
    }

    void newestHistoryLine_keptInView() {
        Station s;
        s.window.show();
        for (int i = 0; i < 200; ++i) {
            s.announcer->Echolink_connected(QStringLiteral("N%1").arg(i), QString(), {});
        }
        QPlainTextEdit* history = s.w.callHistory;
        logText(history);
        const auto lineRect = [history](int line) {
            return history->cursorRect(QTextCursor(history->document()->findBlockByNumber(line)));
        };
        const int newest = history->document()->blockCount() - 2; // the last line is the empty one after it
        QCOMPARE(history->document()->findBlockByNumber(newest).text(), QStringLiteral("9 05 AM - N199"));
        QVERIFY(history->viewport()->rect().contains(lineRect(newest)));
        QVERIFY(!history->viewport()->rect().intersects(lineRect(0)));
    }

    void voiceFailure_writtenToStandardErrorOncePerRunOfRefusals() {
        Station s;
        s.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("announcement.*N 0  , Connected")));
        s.announcer->Echolink_connected(QStringLiteral("N0"), QString(), {});
        s.announcer->Echolink_connected(QStringLiteral("N1"), QString(), {}); // same run: not reported again
        QCOMPARE(s.history(), QStringLiteral("9 05 AM - N0\n9 05 AM - N1\n"));
        s.voice.failing = false;
        s.announcer->Echolink_connected(QStringLiteral("N2"), QString(), {});
        s.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("announcement.*N 3  , Connected")));
        s.announcer->Echolink_connected(QStringLiteral("N3"), QString(), {});
    }
};

QTEST_MAIN(ConnectionAnnouncementsTest)
#include "tst_connectionannouncements.moc"
