// SPDX-License-Identifier: GPL-3.0-or-later
#include "TimePatterns.h"

#include <QTest>

class TimePatternsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void format_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        QTest::newRow("evening hour") << "h AM/PM" << QTime(21, 5) << "9 PM";
        QTest::newRow("morning minutes") << "h mm AM/PM" << QTime(9, 5) << "9 05 AM";
        QTest::newRow("two-digit 12h") << "hh mm AM/PM" << QTime(21, 5) << "09 05 PM";
        QTest::newRow("24h") << "hh mm" << QTime(21, 5) << "21 05";
        QTest::newRow("designator only") << "AM/PM" << QTime(9, 5) << "AM";
        QTest::newRow("midnight is 12 AM") << "h mm AM/PM" << QTime(0, 30) << "12 30 AM";
        QTest::newRow("noon is 12 PM") << "h AM/PM" << QTime(12, 0) << "12 PM";
        QTest::newRow("history prefix") << "h mm AM/PM - " << QTime(21, 5) << "9 05 PM - ";
        QTest::newRow("24h midnight") << "hh mm" << QTime(0, 7) << "00 07";
        QTest::newRow("other text copied") << "at h:mm!" << QTime(13, 45) << "at 13:45!";
    }
    void format() {
        QFETCH(QString, pattern);
        QFETCH(QTime, time);
        QFETCH(QString, expected);
        QCOMPARE(timepatterns::format(pattern, time), expected);
    }
    void stamp24_padsHourAndMinutes() {
        QCOMPARE(timepatterns::stamp24(QTime(9, 5)), QStringLiteral("09:05"));
        QCOMPARE(timepatterns::stamp24(QTime(17, 40)), QStringLiteral("17:40"));
        QCOMPARE(timepatterns::stamp24(QTime(0, 0)), QStringLiteral("00:00"));
    }
};

QTEST_APPLESS_MAIN(TimePatternsTest)
#include "tst_timepatterns.moc"
