// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/AnnouncementSchedule.h"
#include "DataRow.h"

#include <QTest>

class AnnouncementScheduleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Readings in ms from a boundary on a fixed day; start "" is no reading. Boxes: "h"our, "q"uarter, "f" half;
    // a tick ending in "-" has none ticked. Spoken texts without their "The Time Is" joined by "|".
    void ticks_data() {
        QTest::addColumn<QTime>("boundary");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("ticks");
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<QString>("spoken");
        row("hour", QTime(21, 0), "-700", "300", "h", "9 PM");
        row("hour unticked", QTime(21, 0), "-700", "300", "qf", "");
        row("midnight, day before", QTime(0, 0), "-700", "300", "h", "12 AM");
        row("noon", QTime(12, 0), "-700", "300", "h", "12 PM");
        row("quarter past", QTime(21, 15), "-700", "300", "q", "9 15 PM");
        row("quarter unticked", QTime(9, 45), "-700", "300", "hf", "");
        row("half past midnight", QTime(0, 30), "-700", "300", "f", "12 30 AM");
        row("half unticked", QTime(21, 30), "-700", "300", "hq", "");
        row("no boundary", QTime(21, 5, 1), "-700", "300", "hqf", "");
        row("two ticks in a second once", QTime(10, 0), "-900", "100 900 1900", "hqf", "10 AM");
        row("late within grace", QTime(10, 0), "-500", "4900 5900", "hqf", "10 AM");
        row("past grace silent", QTime(10, 0), "-1000", "6000 7000", "hqf", "");
        row("after sleep nothing stale", QTime(11, 0), "-1200000", "30000 899600 900600", "hqf", "11 15 AM");
        row("waking just after", QTime(11, 0), "-1200000", "2000", "hqf", "11 AM");
        row("started after owes nothing", QTime(10, 0), "1000", "2000", "hqf", "");
        row("no start: first tick reads", QTime(10, 0), "", "200 1200 900200", "hqf", "10 15 AM");
        row("ticked late not spoken late", QTime(10, 0), "-500", "500- 1500", "hqf", "");
        row("stepped back no repeat", QTime(10, 0), "-500", "500 1500 -200 800", "hqf", "10 AM");
        // When summer time ends the wall clock shows 02:00 to 02:59 twice; each showing is announced.
        row("hour shown twice", QTime(2, 0), "-500", "500 3599500 500 1500", "hqf", "2 AM|2 AM");
    }
    void ticks() {
        QFETCH(QTime, boundary);
        QFETCH(QString, start);
        QFETCH(QString, ticks);
        QFETCH(QString, boxes);
        const QDateTime at(QDate(2026, 12, 6), boundary);
        AnnouncementSchedule schedule(start.isEmpty() ? QDateTime() : at.addMSecs(start.toInt()));
        const AnnouncementSchedule::Wanted wanted{boxes.contains(u'h'), boxes.contains(u'q'), boxes.contains(u'f')};
        QStringList said;
        for (QString tick : ticks.split(u' ')) {
            const bool none = tick.endsWith(u'-');
            said << schedule.tick(at.addMSecs(tick.remove(u'-').toInt()),
                                  none ? AnnouncementSchedule::Wanted{} : wanted);
        }
        said.removeAll(QString());
        QTEST(said.join(u'|').remove(QStringLiteral("The Time Is")), "spoken");
    }
    void everySecondOfAnHour_announcesEachSlotOnce() {
        QDateTime t(QDate(2026, 12, 6), QTime(8, 59, 59, 250));
        AnnouncementSchedule schedule(t);
        QStringList said;
        for (t = t.addSecs(1); t.time().hour() == 9; t = t.addSecs(1)) {
            said << schedule.tick(t, {true, true, true});
        }
        said.removeAll(QString());
        QCOMPARE(said.join(u'|'),
                 QStringLiteral("The Time Is9 AM|The Time Is9 15 AM|The Time Is9 30 AM|The Time Is9 45 AM"));
    }
};

QTEST_APPLESS_MAIN(AnnouncementScheduleTest)
#include "tst_announcementschedule.moc"
