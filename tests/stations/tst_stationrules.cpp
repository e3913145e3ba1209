// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "StationRules.h"

#include <QTest>

using namespace stations;

Q_DECLARE_METATYPE(stations::StationKind)

class StationRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stationKind_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<StationKind>("kind");
        row("conference", "*IRELAND*", StationKind::Conference);
        row("conference without leading star", "EUROPE*", StationKind::Conference);
        row("lone star", "*", StationKind::Conference);
        row("star wins over link suffix", "N0CALL-L*", StationKind::Conference);
        row("star at the start only", "*IRELAND", StationKind::PlainStation);
        row("link", "N0CALL-L", StationKind::Link);
        row("link with dash inside", "N0-CALL-L", StationKind::Link);
        row("bare link suffix", "-L", StationKind::Link);
        row("repeater", "N0CALL-R", StationKind::Repeater);
        row("plain station", "N0CALL", StationKind::PlainStation);
        row("lower-case plain station", "n0call", StationKind::PlainStation);
        row("empty", "", StationKind::PlainStation);
        row("only spaces", "   ", StationKind::PlainStation);
        row("markup", "<b>N0CALL</b>", StationKind::PlainStation);
        row("lower-case link suffix", "N0CALL-l", StationKind::NotAnnounced);
        row("lower-case repeater suffix", "n0call-r", StationKind::NotAnnounced);
        row("other suffix", "N0CALL-1", StationKind::NotAnnounced);
        row("dash in the middle", "N0-CALL", StationKind::NotAnnounced);
        row("trailing dash", "N0CALL-", StationKind::NotAnnounced);
        row("lone dash", "-", StationKind::NotAnnounced);
        row("suffix then space", "N0CALL-L ", StationKind::NotAnnounced);
    }
    void stationKind() {
        QFETCH(QString, callsign);
        QFETCH(StationKind, kind);
        QCOMPARE(stations::stationKind(callsign), kind);
    }

    void fixedConference_onlyExactNames() {
        for (const char* other : {"*ireland*", "IRELAND*", "*IRELAND* ", "*EUROPE*", "", "N0CALL"}) {
            QVERIFY2(!fixedConferenceAnnouncement(QString::fromLatin1(other), ConnectionChange::Connected), other);
            QVERIFY2(!fixedConferenceAnnouncement(QString::fromLatin1(other), ConnectionChange::Disconnected), other);
        }
    }

    void historyLine_data() {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("line");
        row("evening link", QTime(21, 5), "N0CALL-L", "9 05 PM - N0CALL-L");
        row("just after midnight", QTime(0, 30), "N0CALL", "12 30 AM - N0CALL");
        row("noon conference", QTime(12, 0), "*IRELAND*", "12 00 PM - *IRELAND*");
        row("morning, empty callsign", QTime(9, 59), "", "9 59 AM - ");
        row("markup kept literally", QTime(13, 1), "<i>x</i>", "1 01 PM - <i>x</i>");
        QTest::newRow("line break cannot forge a line")
            << QTime(13, 1) << "N0\n1 00 PM - FAKE" << QStringLiteral("1 01 PM - N0\uFFFD1 00 PM - FAKE");
    }
    void historyLine() {
        QFETCH(QTime, time);
        QFETCH(QString, callsign);
        QFETCH(QString, line);
        QCOMPARE(stations::historyLine(time, callsign), line);
    }

    void plainDisplayText_replacesOnlyHiddenControls() {
        QCOMPARE(plainDisplayText(QStringLiteral("N0CALL Jo <b>&amp;</b> Ä")),
                 QStringLiteral("N0CALL Jo <b>&amp;</b> Ä"));
        QCOMPARE(plainDisplayText(QStringLiteral("A\tB\rC\x1b[2JD\u007fE\u0085F")),
                 QStringLiteral("A\uFFFDB\uFFFDC\uFFFD[2JD\uFFFDE\uFFFDF"));
        QCOMPARE(plainDisplayText(QStringLiteral("a\u2028b\u2029c\u202Ad\u2066e\u202Ef")),
                 QStringLiteral("a\uFFFDb\uFFFDc\uFFFDd\uFFFDe\uFFFDf"));
        QCOMPARE(plainDisplayText(QString()), QString());
    }
};

QTEST_APPLESS_MAIN(StationRulesTest)
#include "tst_stationrules.moc"
