// SPDX-License-Identifier: GPL-3.0-or-later
#include "StationRules.h"

#include <QTest>

using namespace stations;

Q_DECLARE_METATYPE(stations::StationKind)
Q_DECLARE_METATYPE(stations::ConnectionChange)

namespace {
// Adds a data row of texts, one per column.
template <typename... Texts> void row(const char* name, const Texts*... texts) {
    (QTest::newRow(name) << ... << QString::fromUtf8(texts));
}
} // namespace

class StationRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stationKind_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<StationKind>("kind");
        QTest::newRow("conference") << "*IRELAND*" << StationKind::Conference;
        QTest::newRow("conference without leading star") << "EUROPE*" << StationKind::Conference;
        QTest::newRow("lone star") << "*" << StationKind::Conference;
        QTest::newRow("star wins over link suffix") << "N0CALL-L*" << StationKind::Conference;
        QTest::newRow("star at the start only") << "*IRELAND" << StationKind::PlainStation;
        QTest::newRow("link") << "N0CALL-L" << StationKind::Link;
        QTest::newRow("link with dash inside") << "N0-CALL-L" << StationKind::Link;
        QTest::newRow("bare link suffix") << "-L" << StationKind::Link;
        QTest::newRow("repeater") << "N0CALL-R" << StationKind::Repeater;
        QTest::newRow("plain station") << "N0CALL" << StationKind::PlainStation;
        QTest::newRow("lower-case plain station") << "n0call" << StationKind::PlainStation;
        QTest::newRow("empty") << "" << StationKind::PlainStation;
        QTest::newRow("only spaces") << "   " << StationKind::PlainStation;
        QTest::newRow("markup") << "<b>N0CALL</b>" << StationKind::PlainStation;
        QTest::newRow("lower-case link suffix") << "N0CALL-l" << StationKind::NotAnnounced;
        QTest::newRow("lower-case repeater suffix") << "n0call-r" << StationKind::NotAnnounced;
        QTest::newRow("other suffix") << "N0CALL-1" << StationKind::NotAnnounced;
        QTest::newRow("dash in the middle") << "N0-CALL" << StationKind::NotAnnounced;
        QTest::newRow("trailing dash") << "N0CALL-" << StationKind::NotAnnounced;
        QTest::newRow("lone dash") << "-" << StationKind::NotAnnounced;
        QTest::newRow("suffix then space") << "N0CALL-L " << StationKind::NotAnnounced;
    }
    void stationKind() {
        QFETCH(QString, callsign);
        QFETCH(StationKind, kind);
        QCOMPARE(stations::stationKind(callsign), kind);
    }

    void splitCall_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("spaced");
        row("callsign", "N0CALL", "N 0 C A L L ");
        row("empty stays empty", "", "");
        row("space doubles", "A B", "A   B ");
        row("dash is a character", "N0CALL-", "N 0 C A L L - ");
        QTest::newRow("non-latin") << QStringLiteral("Ä€") << QStringLiteral("Ä € ");
    }
    void splitCall() {
        QFETCH(QString, text);
        QFETCH(QString, spaced);
        QCOMPARE(stations::splitCall(text), spaced);
        QCOMPARE(stations::splitCall(text).size(), text.size() * 2);
    }

    void announcedCallsign_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("announced");
        row("conference stars become spaces", "*EUROPE*", " EUROPE ");
        row("link keeps its dash", "N0CALL-L", "N0CALL-");
        row("repeater keeps its dash", "N0CALL-R", "N0CALL-");
        row("link cut at the first dash", "N0-CALL-L", "N0-");
        row("bare link suffix", "-L", "-");
        row("plain station unchanged", "n0call", "n0call");
        row("empty plain station", "", "");
        row("not announced", "N0CALL-1", "");
    }
    void announcedCallsign() {
        QFETCH(QString, callsign);
        QFETCH(QString, announced);
        QCOMPARE(stations::announcedCallsign(callsign, stations::stationKind(callsign)), announced);
    }

    void onlyStationsLinksAndRepeatersAreLookedUp() {
        QVERIFY(isLookedUp(StationKind::PlainStation));
        QVERIFY(isLookedUp(StationKind::Link));
        QVERIFY(isLookedUp(StationKind::Repeater));
        QVERIFY(!isLookedUp(StationKind::Conference));
        QVERIFY(!isLookedUp(StationKind::NotAnnounced));
    }

    void fixedConference_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("onConnect");
        QTest::addColumn<QString>("onDisconnect");
        row("Ireland", "*IRELAND*", "The Ireland  conference connected.", "The Ireland  conference disconnected.");
        row("England", "*ENGLAND*", "The England  conference connected.", "The England  conference disconnected.");
        row("test server", "*ECHOTEST*", "The EchoLink Test  Server Connected.",
            "The EchoLink Test  Server disconnected.");
    }
    void fixedConference() {
        QFETCH(QString, callsign);
        QFETCH(QString, onConnect);
        QFETCH(QString, onDisconnect);
        QCOMPARE(fixedConferenceAnnouncement(callsign, ConnectionChange::Connected), onConnect);
        QCOMPARE(fixedConferenceAnnouncement(callsign, ConnectionChange::Disconnected), onDisconnect);
    }

    void fixedConference_onlyExactNames() {
        for (const char* other : {"*ireland*", "IRELAND*", "*IRELAND* ", "*EUROPE*", "", "N0CALL"}) {
            QVERIFY2(!fixedConferenceAnnouncement(QString::fromLatin1(other), ConnectionChange::Connected), other);
            QVERIFY2(!fixedConferenceAnnouncement(QString::fromLatin1(other), ConnectionChange::Disconnected), other);
        }
    }

    void announcementText_data() {
        QTest::addColumn<StationKind>("kind");
        QTest::addColumn<ConnectionChange>("change");
        QTest::addColumn<QString>("text");
        QTest::newRow("conference connected")
            << StationKind::Conference << ConnectionChange::Connected << "The N 0   conference connected.";
        QTest::newRow("conference disconnected")
            << StationKind::Conference << ConnectionChange::Disconnected << "The N 0   conference disconnected.";
        QTest::newRow("link connected") << StationKind::Link << ConnectionChange::Connected << "N 0  : Link Connected.";
        QTest::newRow("link disconnected")
            << StationKind::Link << ConnectionChange::Disconnected << "N 0  : Link Disconnected.";
        QTest::newRow("repeater connected")
            << StationKind::Repeater << ConnectionChange::Connected << "N 0  : Repeater Connected.";
        QTest::newRow("repeater disconnected")
            << StationKind::Repeater << ConnectionChange::Disconnected << "N 0  : Repeater Disconnected.";
        QTest::newRow("station connected")
            << StationKind::PlainStation << ConnectionChange::Connected << "N 0  , Connected";
        QTest::newRow("station disconnected")
            << StationKind::PlainStation << ConnectionChange::Disconnected << "N 0  , Disconnected";
        QTest::newRow("not announced") << StationKind::NotAnnounced << ConnectionChange::Connected << "";
    }
    void announcementText() {
        QFETCH(StationKind, kind);
        QFETCH(ConnectionChange, change);
        QFETCH(QString, text);
        QCOMPARE(stations::announcementText(kind, QStringLiteral("N 0 "), change), text);
    }

    void historyLine_data() {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("line");
        QTest::newRow("evening link") << QTime(21, 5) << "N0CALL-L"
                                      << "9 05 PM - N0CALL-L";
        QTest::newRow("just after midnight") << QTime(0, 30) << "N0CALL"
                                             << "12 30 AM - N0CALL";
        QTest::newRow("noon conference") << QTime(12, 0) << "*IRELAND*"
                                         << "12 00 PM - *IRELAND*";
        QTest::newRow("morning, empty callsign") << QTime(9, 59) << ""
                                                 << "9 59 AM - ";
        QTest::newRow("markup kept literally") << QTime(13, 1) << "<i>x</i>"
                                               << "1 01 PM - <i>x</i>";
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
        QCOMPARE(plainDisplayText(QStringLiteral("a\u2028b\u2029c\u202Ed\u2066e")),
                 QStringLiteral("a\uFFFDb\uFFFDc\uFFFDd\uFFFDe"));
        QCOMPARE(plainDisplayText(QString()), QString());
    }
};

QTEST_APPLESS_MAIN(StationRulesTest)
#include "tst_stationrules.moc"
