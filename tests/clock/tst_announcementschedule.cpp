// SPDX-License-Identifier: GPL-3.0-or-later
#include "AnnouncementSchedule.h"
#include "DataRow.h"

#include <QTest>

namespace {
const QDate Day(2026, 12, 6);
constexpr AnnouncementSchedule::Wanted All{true, true, true};

// "H:mm:ss.zzz" on the test day; a leading '+' means the day after.
QDateTime at(QString text) {
    const bool nextDay = text.startsWith(QLatin1Char('+'));
    const QTime time = QTime::fromString(text.remove(QLatin1Char('+')), QStringLiteral("H:mm:ss.zzz"));
    return {nextDay ? Day.addDays(1) : Day, time};
}
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
        row("hour ticked", QTime(21, 0), true, false, false, "The Time Is9 PM");
        row("hour unticked", QTime(21, 0), false, true, true, "");
        row("midnight", QTime(0, 0), true, false, false, "The Time Is12 AM");
        row("noon", QTime(12, 0), true, false, false, "The Time Is12 PM");
        row("10:00", QTime(10, 0), true, false, false, "The Time Is10 AM");
        row("quarter past ticked", QTime(21, 15), false, true, false, "The Time Is9 15 PM");
        row("quarter to ticked", QTime(9, 45), false, true, false, "The Time Is9 45 AM");
        row("quarter unticked", QTime(21, 15), true, false, true, "");
        row("half ticked", QTime(21, 30), false, false, true, "The Time Is9 30 PM");
        row("half past midnight", QTime(0, 30), false, false, true, "The Time Is12 30 AM");
        row("half unticked", QTime(21, 30), true, true, false, "");
        row("no boundary", QTime(21, 5), true, true, true, "");
    }
    // The tick just after each boundary speaks it when its own box is ticked.
    void boundary() {
        QFETCH(QTime, time);
        QFETCH(bool, onHour);
        QFETCH(bool, quarter);
        QFETCH(bool, half);
        const QDateTime boundary(Day, time);
        AnnouncementSchedule schedule(boundary.addMSecs(-700));
        QTEST(schedule.tick(boundary.addMSecs(300), {onHour, quarter, half}), "expected");
    }

    // Runs of ticks, every box ticked unless a tick is marked "-" (no box ticked at that tick).
    void sequence_data() {
        QTest::addColumn<QString>("start"); // empty: no reading before the first tick
        QTest::addColumn<QStringList>("ticks");
        QTest::addColumn<QStringList>("spoken");
        const QStringList tenAm{QStringLiteral("The Time Is10 AM")};
        QTest::newRow("two ticks in one second announce once")
            << "9:59:59.100"
            << QStringList{QStringLiteral("10:00:00.100"), QStringLiteral("10:00:00.900"),
                           QStringLiteral("10:00:01.900")}
            << tenAm;
        QTest::newRow("late tick within grace still announces")
            << "9:59:59.500" << QStringList{QStringLiteral("10:00:04.900"), QStringLiteral("10:00:05.900")} << tenAm;
        QTest::newRow("tick past grace stays silent")
            << "9:59:59.000" << QStringList{QStringLiteral("10:00:06.000"), QStringLiteral("10:00:07.000")}
            << QStringList{};
        QTest::newRow("resumed from sleep: nothing stale, then carries on")
            << "9:40:00.000"
            << QStringList{QStringLiteral("11:00:30.000"), QStringLiteral("11:00:31.000"),
                           QStringLiteral("11:14:59.600"), QStringLiteral("11:15:00.600")}
            << QStringList{QStringLiteral("The Time Is11 15 AM")};
        QTest::newRow("waking just after a boundary announces it")
            << "9:40:00.000" << QStringList{QStringLiteral("11:00:02.000")}
            << QStringList{QStringLiteral("The Time Is11 AM")};
        QTest::newRow("started after the boundary does not owe it")
            << "10:00:01.000" << QStringList{QStringLiteral("10:00:02.000")} << QStringList{};
        QTest::newRow("started just before the boundary announces it")
            << "9:59:59.600" << QStringList{QStringLiteral("10:00:00.600")} << tenAm;
        QTest::newRow("no start reading: first tick only reads")
            << ""
            << QStringList{QStringLiteral("10:00:00.200"), QStringLiteral("10:00:01.200"),
                           QStringLiteral("10:15:00.200")}
            << QStringList{QStringLiteral("The Time Is10 15 AM")};
        QTest::newRow("box ticked after the boundary is not spoken late")
            << "9:59:59.500" << QStringList{QStringLiteral("10:00:00.500-"), QStringLiteral("10:00:01.500")}
            << QStringList{};
        QTest::newRow("clock stepped back over a spoken boundary does not repeat it")
            << "9:59:59.500"
            << QStringList{QStringLiteral("10:00:00.500"), QStringLiteral("10:00:01.500"),
                           QStringLiteral("9:59:59.800"), QStringLiteral("10:00:00.800")}
            << tenAm;
        // When summer time ends the wall clock shows 02:00 to 02:59 twice; each showing is announced.
        QTest::newRow("clock back an hour announces the repeated hour again")
            << "1:59:59.500"
            << QStringList{QStringLiteral("2:00:00.500"), QStringLiteral("2:59:59.500"), QStringLiteral("2:00:00.500"),
                           QStringLiteral("2:00:01.500")}
            << QStringList{QStringLiteral("The Time Is2 AM"), QStringLiteral("The Time Is2 AM")};
        QTest::newRow("across midnight") << "23:59:59.500" << QStringList{QStringLiteral("+0:00:00.500")}
                                         << QStringList{QStringLiteral("The Time Is12 AM")};
    }
    void sequence() {
        QFETCH(QString, start);
        QFETCH(QStringList, ticks);
        QFETCH(QStringList, spoken);
        AnnouncementSchedule schedule(start.isEmpty() ? QDateTime() : at(start));
        QStringList said;
        for (QString t : ticks) {
            const bool noBox = t.endsWith(QLatin1Char('-'));
            t.remove(QLatin1Char('-'));
            const QString text = schedule.tick(at(t), noBox ? AnnouncementSchedule::Wanted{} : All);
            if (!text.isEmpty()) {
                said << text;
            }
        }
        QCOMPARE(said, spoken);
    }

    void everySecondOfAnHour_announcesEachSlotOnce() {
        AnnouncementSchedule schedule(at(QStringLiteral("8:59:59.250")));
        QStringList spoken;
        for (QDateTime t = at(QStringLiteral("9:00:00.250")); t.time().hour() == 9; t = t.addMSecs(1000)) {
            const QString text = schedule.tick(t, All);
            if (!text.isEmpty()) {
                spoken << text;
            }
        }
        QCOMPARE(spoken, (QStringList{QStringLiteral("The Time Is9 AM"), QStringLiteral("The Time Is9 15 AM"),
                                      QStringLiteral("The Time Is9 30 AM"), QStringLiteral("The Time Is9 45 AM")}));
    }
};

QTEST_APPLESS_MAIN(AnnouncementScheduleTest)
#include "tst_announcementschedule.moc"
