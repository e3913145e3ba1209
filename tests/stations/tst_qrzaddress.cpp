// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "QrzAddress.h"

#include <QTest>
#include <QUrl>

namespace {
const QString root = QStringLiteral("https://lookup.example/db/");
} // namespace

class QrzAddressTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lookUpAddress_isRootPlusEscapedCallsign_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("segment");
        row("station", "N0CALL", "N0CALL");
        row("link or repeater part", "N0CALL-", "N0CALL-");
        row("lower case", "n0call", "n0call");
        row("dots and tilde", "A.B_C~D", "A.B_C~D");
        row("three dots", "...", "...");
        row("empty gives root", "", "");
        row("dot segment gives root", ".", "");
        row("dot-dot segment gives root", "..", "");
        row("slash", "../../evil", "..%2F..%2Fevil");
        row("query and fragment", "A?b=1#c", "A%3Fb%3D1%23c");
        row("percent", "%2F", "%252F");
        row("spaces", "  ", "%20%20");
        row("markup", "<b>", "%3Cb%3E");
        row("star", "*X*", "%2AX%2A");
        row("control character", "A\nB", "A%0AB");
        QTest::newRow("non-latin as UTF-8") << QStringLiteral("Ä") << "%C3%84";
        row("backslash", "\\host", "%5Chost");
        row("at sign", "user@host", "user%40host");
    }
    void lookUpAddress_isRootPlusEscapedCallsign() {
        QFETCH(QString, callsign);
        QFETCH(QString, segment);
        QCOMPARE(qrzLookupAddress(root, callsign), root + segment);
    }

    // Whatever a stranger's callsign holds, the address stays on the look-up site, one segment under its root.
    void hostileText_staysOneSegmentUnderRoot() {
        const QStringList hostile{QStringLiteral("//other.example/x"),
                                  QStringLiteral("..\\.."),
                                  QStringLiteral("http://other.example"),
                                  QStringLiteral("x/../../y"),
                                  QStringLiteral("%2e%2e"),
                                  QStringLiteral("?q"),
                                  QStringLiteral("#f"),
                                  QString(300, QLatin1Char('/')),
                                  QStringLiteral("\r\n\t\x01"),
                                  QStringLiteral("javascript:alert(1)")};
        for (const QString& callsign : hostile) {
            const QUrl url(qrzLookupAddress(root, callsign), QUrl::StrictMode);
            QVERIFY2(url.isValid(), qPrintable(callsign));
            QCOMPARE(url.host(), QStringLiteral("lookup.example"));
            QCOMPARE(url.scheme(), QStringLiteral("https"));
            QVERIFY(!url.hasQuery());
            QVERIFY(!url.hasFragment());
            const QString path = url.path(QUrl::FullyEncoded);
            QVERIFY2(path.startsWith(QStringLiteral("/db/")), qPrintable(path));
            QVERIFY2(!path.mid(4).contains(QLatin1Char('/')), qPrintable(path));
            QVERIFY2(url.adjusted(QUrl::NormalizePathSegments) == url, qPrintable(path));
        }
    }
};

QTEST_APPLESS_MAIN(QrzAddressTest)
#include "tst_qrzaddress.moc"
