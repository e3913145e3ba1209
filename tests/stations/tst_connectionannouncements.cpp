// SPDX-License-Identifier: GPL-3.0-or-later
#include "stations/ConnectionAnnouncements.h"
#include "DataRow.h"
#include "MainWindowRig.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

namespace {
const QString Root = QStringLiteral("https://lookup.example/db/");

struct Station : MainWindowRig {
    ConnectionAnnouncements::Widgets w = ui.stations.announcements;
    std::unique_ptr<ConnectionAnnouncements> announcer =
        std::make_unique<ConnectionAnnouncements>(w, internet, voice, clock, Root);
    QString history() const { return logText(w.callHistory); }
};
} // namespace

class ConnectionAnnouncementsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // Spoken on connect and disconnect by kind when Con/Disc is ticked (1); looked up on connect (none: "-").
    void connectAndDisconnect_data() {
        QTest::addColumn<int>("conDisc");
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("onConnect");
        QTest::addColumn<QString>("onDisconnect");
        QTest::addColumn<QString>("lookedUp");
        row("station", 1, "N0CALL", "N 0 C A L L  , Connected", "N 0 C A L L  , Disconnected", "N0CALL");
        row("link up to first dash", 1, "N0-CALL-L", "N 0 -  : Link Connected.", "N 0 -  : Link Disconnected.", "N0-");
        row("repeater", 1, "K1AB-R", "K 1 A B -  : Repeater Connected.", "K 1 A B -  : Repeater Disconnected.",
            "K1AB-");
        row("conference", 1, "*EU*", "The   E U     conference connected.", "The   E U     conference disconnected.",
            "-");
        row("Ireland", 1, "*IRELAND*", "The Ireland  conference connected.", "The Ireland  conference disconnected.",
            "-");
        row("England", 1, "*ENGLAND*", "The England  conference connected.", "The England  conference disconnected.",
            "-");
        row("test server", 1, "*ECHOTEST*", "The EchoLink Test  Server Connected.",
            "The EchoLink Test  Server disconnected.", "-");
        row("empty looked up at root", 1, "", " , Connected", " , Disconnected", "");
        row("other suffix silent", 1, "N0CALL-1", "", "", "-");
        row("unticked: silent, no look-up", 0, "N0CALL", "", "", "-");
        row("greyed: silent, no look-up", 2, "N0CALL", "", "", "-");
    }
    void connectAndDisconnect() {
        QFETCH(int, conDisc);
        QFETCH(QString, callsign);
        QFETCH(QString, onConnect);
        QFETCH(QString, onDisconnect);
        QFETCH(QString, lookedUp);
        Station s;
        controls::setCheckValue(s.w.announce, conDisc);
        s.announcer->Echolink_connected(callsign, QStringLiteral("Jo"), QStringLiteral("10.0.0.1"));
        s.announcer->Echolink_Disconnected(callsign);
        QCOMPARE(s.voice.spoken, (onConnect.isEmpty() ? QStringList{} : QStringList{onConnect, onDisconnect}));
        QCOMPARE(s.internet.addresses, lookedUp == QStringLiteral("-") ? QStringList{} : QStringList{Root + lookedUp});
        QCOMPARE(s.w.lastConnectedNode->text(), callsign + QStringLiteral(" Jo"));
        QCOMPARE(s.internet.lastConnectedNode, callsign + QStringLiteral(" Jo"));
        QCOMPARE(s.history(), QStringLiteral("9 05 AM - ") + callsign + u'\n');
        s.internet.qrzInfo = false;
        s.announcer->Echolink_connected(callsign, QString(), {});
        QCOMPARE(s.internet.addresses.size(), lookedUp == QStringLiteral("-") ? 0 : 1);
    }

    void history_growsUntilCleared_strangersTextCannotForgeLinesOrMarkup() {
        Station s;
        QCOMPARE(s.w.lastConnectedNode->text(), QStringLiteral("None"));
        s.clock.set(21, 5);
        s.announcer->Echolink_connected(QStringLiteral("<img src=x>"), QStringLiteral("a\tb"), {});
        s.clock.set(0, 7);
        s.announcer->Echolink_connected(QStringLiteral("N0\r\n9 00 AM - W1AW"), QStringLiteral("<b>Jo</b>"), {});
        QCOMPARE(s.w.lastConnectedNode->accessibleName(),
                 QStringLiteral("Last connected node: N0\uFFFD\uFFFD9 00 AM - W1AW <b>Jo</b>"));
        QCOMPARE(s.w.lastConnectedNode->textFormat(), Qt::PlainText);
        QCOMPARE(s.history(), QStringLiteral("9 05 PM - <img src=x>\n12 07 AM - N0\uFFFD\uFFFD9 00 AM - W1AW\n"));
        s.w.clearHistory->click();
        s.announcer->Echolink_connected(QStringLiteral("W1AW"), QString(), {});
        QCOMPARE(s.history(), QStringLiteral("12 07 AM - W1AW\n"));
    }

    void voiceFailure_warnedOncePerRunOfRefusals() {
        Station s;
        controls::setCheckValue(s.w.announce, 1);
        for (int i = 0; i < 5; ++i) {
            s.voice.failing = i != 2;
            if (i == 0 || i == 3) {
                QTest::ignoreMessage(QtWarningMsg,
                                     QRegularExpression(QStringLiteral("announcement.*N %1  , Connected").arg(i)));
            }
            s.announcer->Echolink_connected(QStringLiteral("N%1").arg(i), QString(), {});
        }
        QCOMPARE(s.voice.spoken, QStringList{QStringLiteral("N 2  , Connected")});
    }
};

QTEST_MAIN(ConnectionAnnouncementsTest)
#include "tst_connectionannouncements.moc"
