// SPDX-License-Identifier: GPL-3.0-or-later
#include "TimeTexts.h"

#include <QTest>

class TimeTextsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sayTheTime_data() {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        QTest::newRow("00:05 is twelve in the morning") << QTime(0, 5) << "The Time Is12 05AM";
        QTest::newRow("00:30") << QTime(0, 30) << "The Time Is12 30AM";
        QTest::newRow("09:00 drops the leading zero") << QTime(9, 0) << "The Time Is9 00AM";
        QTest::newRow("10:00 keeps both digits") << QTime(10, 0) << "The Time Is10 00AM";
        QTest::newRow("12:00 is noon") << QTime(12, 0) << "The Time Is12 00PM";
        QTest::newRow("21:05") << QTime(21, 5, 59) << "The Time Is9 05PM";
    }
    void sayTheTime() {
        QFETCH(QTime, time);
        QFETCH(QString, expected);
        QCOMPARE(timetexts::sayTheTime(time), expected);
    }

    void announcements_hourHasNoMinutes_othersDo() {
        QCOMPARE(timetexts::hourAnnouncement(QTime(21, 0)), QStringLiteral("The Time Is9 PM"));
        QCOMPARE(timetexts::hourAnnouncement(QTime(0, 0)), QStringLiteral("The Time Is12 AM"));
        QCOMPARE(timetexts::hourAnnouncement(QTime(12, 0)), QStringLiteral("The Time Is12 PM"));
        QCOMPARE(timetexts::minuteAnnouncement(QTime(21, 15)), QStringLiteral("The Time Is9 15 PM"));
        QCOMPARE(timetexts::minuteAnnouncement(QTime(0, 30)), QStringLiteral("The Time Is12 30 AM"));
    }

    void clockText_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        QTest::newRow("C") << "C"
                           << "21:05:07";
        QTest::newRow("German") << "de_DE"
                                << "21:05:07";
        QTest::newRow("Finnish dots") << "fi_FI"
                                      << "21.05.07";
        QTest::newRow("zone first in Chinese") << "zh_CN"
                                               << "21:05:07";
    }
    // The clock shows hours, minutes and seconds in the locale's own way, and never a time zone.
    void clockText() {
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QCOMPARE(timetexts::clockText(QLocale(locale), QTime(21, 5, 7)), expected);
    }
    void clockText_twelveHourLocale_keepsSecondsAndDesignator() {
        const QString text = timetexts::clockText(QLocale(QStringLiteral("en_US")), QTime(21, 5, 7));
        QVERIFY2(text.startsWith(QStringLiteral("9:05:07")), qPrintable(text));
        QVERIFY2(text.endsWith(QStringLiteral("PM")), qPrintable(text));
        const QString albanian = timetexts::clockFormat(QLocale(QStringLiteral("sq_AL")));
        QVERIFY2(!albanian.endsWith(QLatin1Char(',')) && !albanian.contains(QLatin1Char('t')), qPrintable(albanian));
    }
    void clockFormat_keepsQuotedLetters() {
        // Bulgarian writes a quoted abbreviation after the time; its letters are not format letters.
        const QString format = timetexts::clockFormat(QLocale(QStringLiteral("bg_BG")));
        QVERIFY2(format.startsWith(QStringLiteral("H:mm:ss")), qPrintable(format));
        QVERIFY2(format.contains(QStringLiteral("'ч'")), qPrintable(format));
    }
};

QTEST_APPLESS_MAIN(TimeTextsTest)
#include "tst_timetexts.moc"
