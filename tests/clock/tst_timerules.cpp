// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "TimePatterns.h"
#include "TimeTexts.h"

#include <QTest>

class TimeRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void format_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        row("evening hour", "h AM/PM", QTime(21, 5), "9 PM");
        row("two-digit 12h", "hh mm AM/PM", QTime(21, 5), "09 05 PM");
        row("24h midnight", "hh mm", QTime(0, 7), "00 07");
        row("designator only", "AM/PM", QTime(9, 5), "AM");
        row("history prefix", "h mm AM/PM - ", QTime(21, 5), "9 05 PM - ");
        row("other text copied", "at h:mm!", QTime(13, 45), "at 13:45!");
    }
    void format() {
        QFETCH(QString, pattern);
        QFETCH(QTime, time);
        QTEST(timepatterns::format(pattern, time), "expected");
    }
    void stamp24_padsHourAndMinutes() { QCOMPARE(timepatterns::stamp24(QTime(9, 5)), QStringLiteral("09:05")); }

    // "Say the Time": the 12-hour patterns at the times that go wrong most easily.
    void sayTheTime_data() {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        row("00:05 is twelve in the morning", QTime(0, 5), "The Time Is12 05AM");
        row("00:30", QTime(0, 30), "The Time Is12 30AM");
        row("09:00 drops the leading zero", QTime(9, 0), "The Time Is9 00AM");
        row("10:00 keeps both digits", QTime(10, 0), "The Time Is10 00AM");
        row("12:00 is noon", QTime(12, 0), "The Time Is12 00PM");
        row("21:05 ignores seconds", QTime(21, 5, 59), "The Time Is9 05PM");
    }
    void sayTheTime() {
        QFETCH(QTime, time);
        QTEST(timetexts::sayTheTime(time), "expected");
    }

    // The clock shows hours, minutes and seconds in the locale's own way, and never a time zone.
    void clockText_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        row("C", "C", "21:05:07");
        row("Finnish dots", "fi_FI", "21.05.07");
        row("zone first in Chinese", "zh_CN", "21:05:07");
    }
    void clockText() {
        QFETCH(QString, locale);
        QTEST(timetexts::clockText(QLocale(locale), QTime(21, 5, 7)), "expected");
    }
    void clockText_twelveHourLocales_keepSecondsDesignatorAndQuotedLetters() {
        const QString text = timetexts::clockText(QLocale(QStringLiteral("en_US")), QTime(21, 5, 7));
        QVERIFY2(text.startsWith(QStringLiteral("9:05:07")) && text.endsWith(QStringLiteral("PM")), qPrintable(text));
        const QString albanian = timetexts::clockFormat(QLocale(QStringLiteral("sq_AL")));
        QVERIFY2(!albanian.endsWith(QLatin1Char(',')) && !albanian.contains(QLatin1Char('t')), qPrintable(albanian));
        // Bulgarian writes a quoted abbreviation after the time; its letters are not format letters.
        const QString bulgarian = timetexts::clockFormat(QLocale(QStringLiteral("bg_BG")));
        QVERIFY2(bulgarian.startsWith(QStringLiteral("H:mm:ss")) && bulgarian.contains(QStringLiteral("'ч'")),
                 qPrintable(bulgarian));
    }
};

QTEST_APPLESS_MAIN(TimeRulesTest)
#include "tst_timerules.moc"
