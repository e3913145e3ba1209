// SPDX-License-Identifier: GPL-3.0-or-later
#include "InternetRules.h"

#include <QTest>

using namespace internet;

class TestInternetRules : public QObject {
    Q_OBJECT

private slots:
    void caption_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("caption");
        QTest::newRow("callsign") << "N0CALL"
                                  << "Parlevox    N0CALL   v1.2   Internet Option";
        QTest::newRow("no callsign") << ""
                                     << "Parlevox       v1.2   Internet Option";
    }
    void caption() {
        QFETCH(QString, callsign);
        QFETCH(QString, caption);
        QCOMPARE(windowCaption(callsign), caption);
    }

    void sitePage_joinsWithOneSlash() {
        QCOMPARE(sitePage(QStringLiteral("https://www.echolink.org"), QStringLiteral("/logins.jsp")),
                 QStringLiteral("https://www.echolink.org/logins.jsp"));
        QCOMPARE(sitePage(QStringLiteral("https://www.echolink.org/"), QStringLiteral("/proxylist.jsp")),
                 QStringLiteral("https://www.echolink.org/proxylist.jsp"));
    }
};

QTEST_GUILESS_MAIN(TestInternetRules)
#include "tst_internetrules.moc"
