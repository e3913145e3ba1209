// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "platform/TimePatterns.h"
#include "clock/TimeTexts.h"

#include <QTest>

class TimeRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // pattern: a pattern for timepatterns::format, "say" for Say the Time, or a locale name for the clock's text.
    void text_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        row("evening hour", "h AM/PM", QTime(21, 5), "9 PM");
        row("two-digit 12h", "hh mm AM/PM", QTime(21, 5), "09 05 PM");
        row("24h midnight", "hh mm", QTime(0, 7), "00 07");
        row("other text copied", "at h:mm!", QTime(13, 45), "at 13:45!");
        row("say 00:05 is twelve", "say", QTime(0, 5), "The Time Is12 05AM");
        row("say 09:00 drops the zero", "say", QTime(9, 0), "The Time Is9 00AM");
        row("say 12:00 is noon", "say", QTime(12, 0), "The Time Is12 00PM");
        row("say ignores seconds", "say", QTime(21, 5, 59), "The Time Is9 05PM");
        row("C clock", "C", QTime(21, 5, 7), "21:05:07");
        row("Finnish dots", "fi_FI", QTime(21, 5, 7), "21.05.07");
        row("no zone in Chinese", "zh_CN", QTime(21, 5, 7), "21:05:07");
        row("12h keeps seconds", "en_US", QTime(21, 5, 7), QStringLiteral("9:05:07\u202FPM"));
    }
    void text() {
        QFETCH(QString, pattern);
        QFETCH(QTime, time);
        const bool locale = pattern.size() == 1 || pattern.contains(u'_');
        QTEST(pattern == QStringLiteral("say") ? timetexts::sayTheTime(time)
              : locale ? timetexts::clockText(QLocale(pattern), time).replace(u' ', QChar(0x202F))
                       : timepatterns::format(pattern, time),
              "expected");
    }
    void clockFormat_dropsZoneAndTrailingSeparator_keepsQuotedLetters() {
        QCOMPARE(timepatterns::stamp24(QTime(9, 5)), QStringLiteral("09:05"));
        const QString albanian = timetexts::clockFormat(QLocale(QStringLiteral("sq_AL")));
        QVERIFY2(!albanian.endsWith(u',') && !albanian.contains(u't'), qPrintable(albanian));
        const QString bulgarian = timetexts::clockFormat(QLocale(QStringLiteral("bg_BG")));
        QVERIFY2(bulgarian.startsWith(QStringLiteral("H:mm:ss")) && bulgarian.contains(QStringLiteral("'ч'")),
                 qPrintable(bulgarian));
    }
};

QTEST_APPLESS_MAIN(TimeRulesTest)
#include "tst_timerules.moc"
