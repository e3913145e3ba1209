// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "InternetRules.h"

#include <QTest>

// The caption is tested through the window (tst_internetwindow).
class TestInternetRules : public QObject {
    Q_OBJECT

private slots:
    void sitePage_joinsWithOneSlash_data() {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("page");
        row("site without slash", "https://site.example", "https://site.example/logins.jsp");
        row("site with slash", "https://site.example/", "https://site.example/logins.jsp");
    }
    void sitePage_joinsWithOneSlash() {
        QFETCH(QString, site);
        QFETCH(QString, page);
        QCOMPARE(internet::sitePage(site, QStringLiteral("/logins.jsp")), page);
    }
};

QTEST_GUILESS_MAIN(TestInternetRules)
#include "tst_internetrules.moc"
