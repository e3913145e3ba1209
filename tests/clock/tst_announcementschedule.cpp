// SPDX-License-Identifier: GPL-3.0-or-later
#include "AnnouncementSchedule.h"

#include <QTest>

namespace {
const QDate Day(2026, 12, 6);

QDateTime at(int h, int m, int s = 0, int ms = 0) {
    return {Day, QTime(h, m, s, ms)};
}

constexpr AnnouncementSchedule::Wanted All{true, true, true};
constexpr AnnouncementSchedule::Wanted None{};
} // namespace

class AnnouncementScheduleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void boundary_data() {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<bool>("onHour");
        QTest::addColumn<bool>("quarter");
        QTest::addColumn<bool>("half");
        QTest::addColumn<QString>("expected");
        QTest::newRow("hour ticked") << QTime(21, 0) << true << false << false << "The Time Is9 PM";
        QTest::newRow("hour unticked") << QTime(21, 0) << false << true << true << "";
        QTest::newRow("midnight") << QTime(0, 0) << true << false << false << "The Time Is12 AM";
        QTest::newRow("noon") << QTime(12, 0) << true << false << false << "The Time Is12 PM";
        QTest::newRow("10:00") << QTime(10, 0) << true << false << false << "The Time Is10 AM";
        QTest::newRow("quarter past ticked") << QTime(21, 15) << false << true << false << "The Time Is9 15 PM";
        QTest::newRow("quarter to ticked") << QTime(9, 45) << false << true << false << "The Time Is9 45 AM";
        QTest::newRow("quarter unticked") << QTime(21, 15) << true << false << true << "";
        QTest::newRow("half ticked") << QTime(21, 30) << false << false << true << "The Time Is9 30 PM";
        QTest::newRow("half past midnight") << QTime(0, 30) << false << false << true << "The Time Is12 30 AM";
        QTest::newRow("half unticked") << QTime(21, 30) << true << true << false << "";
        QTest::newRow("no boundary") << QTime(21, 5) << true << true << true << "";
    }
    // The tick just after each boundary speaks it when its own box is ticked.
    void boundary() {
        QFETCH(QTime, time);
        QFETCH(bool, onHour);
        QFETCH(bool, quarter);
        QFETCH(bool, half);
        QFETCH(QString, expected);
        const QDateTime boundary(Day, time);
        AnnouncementSchedule schedule(boundary.addMSecs(-700));
        QCOMPARE(schedule.tick(boundary.addMSecs(300), {onHour, quarter, half}), expected);
    }

    void twoTicksInOneSecond_announceOnce() {
        AnnouncementSchedule schedule(at(9, 59, 59, 100));
        QCOMPARE(schedule.tick(at(10, 0, 0, 100), All), QStringLiteral("The Time Is10 AM"));
        QCOMPARE(schedule.tick(at(10, 0, 0, 900), All), QString());
        QCOMPARE(schedule.tick(at(10, 0, 1, 900), All), QString());
    }

    void lateTick_withinGrace_stillAnnounces() {
        AnnouncementSchedule schedule(at(9, 59, 59, 500));
        QCOMPARE(schedule.tick(at(10, 0, 4, 900), All), QStringLiteral("The Time Is10 AM"));
    }

    void tickPastGrace_staysSilent() {
        AnnouncementSchedule schedule(at(9, 59, 59));
        QCOMPARE(schedule.tick(at(10, 0, 6), All), QString());
        QCOMPARE(schedule.tick(at(10, 0, 7), All), QString());
    }

    // A machine that wakes up long after a boundary does not speak times that have gone by.
    void resumedFromSleep_announcesNothingStale_thenCarriesOn() {
        AnnouncementSchedule schedule(at(9, 40));
        QCOMPARE(schedule.tick(at(11, 0, 30), All), QString());
        QCOMPARE(schedule.tick(at(11, 0, 31), All), QString());
        QCOMPARE(schedule.tick(at(11, 14, 59, 600), All), QString());
        QCOMPARE(schedule.tick(at(11, 15, 0, 600), All), QStringLiteral("The Time Is11 15 AM"));
    }

    void wakingJustAfterBoundary_announcesTheCurrentTime() {
        AnnouncementSchedule schedule(at(9, 40));
        QCOMPARE(schedule.tick(at(11, 0, 2), All), QStringLiteral("The Time Is11 AM"));
    }

    void startedAfterBoundary_doesNotOweIt() {
        AnnouncementSchedule schedule(at(10, 0, 1));
        QCOMPARE(schedule.tick(at(10, 0, 2), All), QString());
    }

    void startedJustBeforeBoundary_announcesIt() {
        AnnouncementSchedule schedule(at(9, 59, 59, 600));
        QCOMPARE(schedule.tick(at(10, 0, 0, 600), All), QStringLiteral("The Time Is10 AM"));
    }

    void noStartReading_firstTickOnlyReads() {
        AnnouncementSchedule schedule{QDateTime()};
        QCOMPARE(schedule.tick(at(10, 0, 0, 200), All), QString());
        QCOMPARE(schedule.tick(at(10, 0, 1, 200), All), QString());
        QCOMPARE(schedule.tick(at(10, 15, 0, 200), All), QStringLiteral("The Time Is10 15 AM"));
    }

    void boxTickedAfterBoundaryPassed_isNotSpokenLate() {
        AnnouncementSchedule schedule(at(9, 59, 59, 500));
        QCOMPARE(schedule.tick(at(10, 0, 0, 500), None), QString());
        QCOMPARE(schedule.tick(at(10, 0, 1, 500), All), QString());
    }

    void clockSteppedBackOverSpokenBoundary_doesNotRepeatIt() {
        AnnouncementSchedule schedule(at(9, 59, 59, 500));
        QCOMPARE(schedule.tick(at(10, 0, 0, 500), All), QStringLiteral("The Time Is10 AM"));
        QCOMPARE(schedule.tick(at(10, 0, 1, 500), All), QString());
        QCOMPARE(schedule.tick(at(9, 59, 59, 800), All), QString());
        QCOMPARE(schedule.tick(at(10, 0, 0, 800), All), QString());
    }

    // When summer time ends the wall clock shows 02:00 to 02:59 twice; each showing is announced.
    void clockBackAnHour_repeatedHourAnnouncedAgain() {
        const AnnouncementSchedule::Wanted hourOnly{true, false, false};
        AnnouncementSchedule schedule(at(1, 59, 59, 500));
        QCOMPARE(schedule.tick(at(2, 0, 0, 500), hourOnly), QStringLiteral("The Time Is2 AM"));
        QCOMPARE(schedule.tick(at(2, 59, 59, 500), hourOnly), QString());
        QCOMPARE(schedule.tick(at(2, 0, 0, 500), hourOnly), QStringLiteral("The Time Is2 AM"));
        QCOMPARE(schedule.tick(at(2, 0, 1, 500), hourOnly), QString());
    }

    void acrossMidnight_announcesTwelveAm() {
        AnnouncementSchedule schedule(at(23, 59, 59, 500));
        QCOMPARE(schedule.tick(QDateTime(Day.addDays(1), QTime(0, 0, 0, 500)), All),
                 QStringLiteral("The Time Is12 AM"));
    }

    void everySecondOfAnHour_announcesEachSlotOnce() {
        AnnouncementSchedule schedule(at(8, 59, 59, 250));
        QStringList spoken;
        for (QDateTime t = at(9, 0, 0, 250); t < at(10, 0); t = t.addMSecs(1000)) {
            const QString text = schedule.tick(t, All);
            if (!text.isEmpty()) {
                spoken << text;
            }
        }
        const QStringList expected{QStringLiteral("The Time Is9 AM"), QStringLiteral("The Time Is9 15 AM"),
                                   QStringLiteral("The Time Is9 30 AM"), QStringLiteral("The Time Is9 45 AM")};
        QCOMPARE(spoken, expected);
    }
};

QTEST_APPLESS_MAIN(AnnouncementScheduleTest)
#include "tst_announcementschedule.moc"
