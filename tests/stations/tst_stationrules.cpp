// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "platform/QrzAddress.h"
#include "stations/StationRules.h"

#include <QTest>
#include <QUrl>

using namespace stations;
Q_DECLARE_METATYPE(stations::StationKind)

namespace {
const QString Root = QStringLiteral("https://lookup.example/db/");
}

class StationRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stationKind_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<StationKind>("kind");
        row("conference", "*EU*", StationKind::Conference);
        row("conference by trailing star", "N0CALL-L*", StationKind::Conference);
        row("star at the start only", "*IRELAND", StationKind::PlainStation);
        row("link", "N0-CALL-L", StationKind::Link);
        row("bare link suffix", "-L", StationKind::Link);
        row("repeater", "N0CALL-R", StationKind::Repeater);
        row("empty", "", StationKind::PlainStation);
        row("lower-case suffix", "N0CALL-l", StationKind::NotAnnounced);
        row("other suffix", "N0CALL-1", StationKind::NotAnnounced);
        row("trailing dash", "N0CALL-", StationKind::NotAnnounced);
        row("suffix then space", "N0CALL-L ", StationKind::NotAnnounced);
    }
    void stationKind() {
        QFETCH(QString, callsign);
        QTEST(stations::stationKind(callsign), "kind");
        QVERIFY(!fixedConferenceAnnouncement(callsign, ConnectionChange::Connected));
    }

    // time 0: plainDisplayText; else the history line at that hour and minute.
    void displayText_data() {
        QTest::addColumn<int>("time");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        row("evening", 2105, "N0CALL-L", "9 05 PM - N0CALL-L");
        row("after midnight", 30, "N0", "12 30 AM - N0");
        row("noon", 1200, "", "12 00 PM - ");
        row("line break cannot forge a line", 1301, "N0\n1 00 PM - X", QStringLiteral("1 01 PM - N0\uFFFD1 00 PM - X"));
        row("markup and letters kept", 0, "Jo <b>&amp;</b> Ä", "Jo <b>&amp;</b> Ä");
        row("hidden controls replaced", 0,
            "A\tB\rC\x1b[D\x7f"
            "E\u0085F",
            QStringLiteral("A\uFFFDB\uFFFDC\uFFFD[D\uFFFDE\uFFFDF"));
        row("separators and direction marks", 0, QStringLiteral("a\u2028b\u2029c\u202Ad\u2066e\u202Ef\u2069"),
            QStringLiteral("a\uFFFDb\uFFFDc\uFFFDd\uFFFDe\uFFFDf\uFFFD"));
    }
    void displayText() {
        QFETCH(int, time);
        QFETCH(QString, text);
        QTEST(time ? historyLine(QTime(time / 100, time % 100), text) : plainDisplayText(text), "shown");
    }

    // Whatever a stranger's callsign holds, the look-up stays one segment under the root of the look-up site.
    void qrzAddress_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("segment");
        row("station", "N0CALL-", "N0CALL-");
        row("unreserved kept", "a.B_C~D", "a.B_C~D");
        row("dot segments give root", "..", "");
        row("slash", "../../evil", "..%2F..%2Fevil");
        row("query and fragment", "A?b=1#c", "A%3Fb%3D1%23c");
        row("percent", "%2e%2e", "%252e%252e");
        row("markup, star, space", "<b>* ", "%3Cb%3E%2A%20");
        row("controls", "\r\n\t\x01", "%0D%0A%09%01");
        row("backslash and at sign", "\\u@h", "%5Cu%40h");
        row("scheme", "http://x", "http%3A%2F%2Fx");
        row("non-latin as UTF-8", "Ä", "%C3%84");
        row("many slashes", QString(300, u'/'), QStringLiteral("%2F").repeated(300));
    }
    void qrzAddress() {
        QFETCH(QString, callsign);
        const QUrl url(qrzLookupAddress(Root, callsign), QUrl::StrictMode);
        QFETCH(QString, segment);
        QCOMPARE(qrzLookupAddress(Root, callsign), Root + segment);
        QVERIFY(url.isValid() && url.host() == QStringLiteral("lookup.example") && !url.hasQuery() &&
                !url.hasFragment());
        QCOMPARE(url.adjusted(QUrl::NormalizePathSegments), url);
    }
};

QTEST_APPLESS_MAIN(StationRulesTest)
#include "tst_stationrules.moc"
