// SPDX-License-Identifier: GPL-3.0-or-later
#include "QrzAddress.h"

#include <QTest>
#include <QUrl>

namespace {
const QString root = QStringLiteral("https://lookup.example/db/");

// Adds a data row of texts, one per column.
template <typename... Texts> void row(const char* name, const Texts*... texts) {
    (QTest::newRow(name) << ... << QString::fromUtf8(texts));
}
} // namespace

class QrzAddressTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ordinaryCallsigns_appendedUnchanged_data() {
        QTest::addColumn<QString>("callsign");
        row("station", "N0CALL");
        row("link or repeater part", "N0CALL-");
        row("lower case", "n0call");
        row("dots and tilde", "A.B_C~D");
        row("three dots", "...");
    }
    void ordinaryCallsigns_appendedUnchanged() {
        QFETCH(QString, callsign);
        QCOMPARE(qrzLookupAddress(root, callsign), root + callsign);
    }

    void emptyCallsign_givesRoot() { QCOMPARE(qrzLookupAddress(root, QString()), root); }

    void dotSegments_giveRoot() {
        QCOMPARE(qrzLookupAddress(root, QStringLiteral(".")), root);
        QCOMPARE(qrzLookupAddress(root, QStringLiteral("..")), root);
    }

    void specialCharacters_escaped_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("segment");
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
    void specialCharacters_escaped() {
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
