// SPDX-License-Identifier: GPL-3.0-or-later
// The clock: its texts, the announcement schedule, and the status refresh and transmit toggle on the main window.
#include "DataRow.h"
#include "MainWindowRig.h"
#include "clock/TimeTexts.h"
#include "ui/TransmitState.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

namespace {
const QRegularExpression NotAnswering(QStringLiteral("^Status refresh: EchoLink is not answering"));
const QString Receiving = QStringLiteral("  Receiving       Mode #00ff00");
const QString Transmitting = QStringLiteral("Transmitting Transmitting #ff0000");

// Wired as the main window wires them; the clock starts at 09:05.
struct Fixture : MainWindowRig {
    TransmitState transmit{ui.clock.transmitLabel};
    StatusRefresh refresh{ui.clock.refresh, echoLink, voice, clock, transmit, QLocale(QLocale::C)};
    TransmitToggle toggle{ui.clock.transmit, echoLink, transmit};

    QString shown(const char* name) { return control<QLabel>(name)->text(); }
    QString look() {
        QLabel* label = control<QLabel>("Label1");
        return label->text() + u' ' +
               (label->autoFillBackground() ? label->palette().window().color().name() : QString());
    }
    void tickAt(const QTime& time) {
        clock.time.setTime(time);
        refresh.Timer1_Timer();
    }
};
} // namespace

class ClockControlsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // locale: the clock's text in that locale, its spaces made narrow, or "say" for Say the Time.
    void text_data() {
        columns<QString, QTime, QString>("locale", "time", "expected");
        row("say 09:00 drops the zero", "say", QTime(9, 0), "The Time Is9 00AM");
        row("say 12:00 is noon", "say", QTime(12, 0), "The Time Is12 00PM");
        row("no zone in Chinese", "zh_CN", QTime(21, 5, 7), "21:05:07");
        row("12h keeps seconds", "en_US", QTime(21, 5, 7), QStringLiteral("9:05:07\u202FPM"));
        row("no zone nor trailing comma", "sq_AL", QTime(21, 5, 7), QStringLiteral("9:05:07\u202FE\u202FPASDITES"));
        row("Bulgarian hour sign kept", "bg_BG", QTime(21, 5, 7), QStringLiteral("21:05:07\u202F\u0447."));
    }
    void text() {
        QFETCH(QString, locale);
        QFETCH(QTime, time);
        QTEST(locale == QStringLiteral("say") ? timetexts::sayTheTime(time)
                                              : timetexts::clockText(QLocale(locale), time).replace(u' ', u'\u202F'),
              "expected");
    }

    // Readings in ms from a boundary on a fixed day; start "" is no reading. Boxes: "h"our, "q"uarter, "f" half;
    // a tick ending in "-" has none ticked. Spoken texts without their "The Time Is" joined by "|".
    void ticks_data() {
        columns<QTime, QString, QString, QString, QString>("boundary", "start", "ticks", "boxes", "spoken");
        row("hour unticked", QTime(21, 0), "-700", "300", "qf", "");
        row("midnight, day before", QTime(0, 0), "-700", "300", "h", "12 AM");
        row("quarter unticked", QTime(9, 45), "-700", "300", "hf", "");
        row("half unticked", QTime(21, 30), "-700", "300", "hq", "");
        row("no quarter boundary", QTime(21, 5), "-700", "300", "hqf", "");
        row("two ticks in a second once", QTime(10, 0), "-900", "100 900 1900", "hqf", "10 AM");
        row("late within grace", QTime(10, 0), "-500", "4900 5900", "hqf", "10 AM");
        row("past grace silent", QTime(10, 0), "-1000", "6000 7000", "hqf", "");
        row("after sleep nothing stale", QTime(11, 0), "-1200000", "30000 899600 900600", "hqf", "11 15 AM");
        row("waking just after", QTime(11, 0), "-1200000", "2000", "hqf", "11 AM");
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
        for (const QString& tick : ticks.split(u' ')) {
            const bool none = tick.endsWith(u'-');
            said << schedule.tick(at.addMSecs(tick.chopped(none).toInt()),
                                  none ? AnnouncementSchedule::Wanted{} : wanted);
        }
        said.removeAll(QString());
        QTEST(said.join(u'|').remove(QStringLiteral("The Time Is")), "spoken");
    }

    // A click acts on the last refresh, not on what the station did since, and shows at once; a tick shows the truth.
    void click_flipsTransmitAtOnce_nextTickFollowsStation_data() {
        columns<int, bool, bool, QString>("count", "transmitting", "setFails", "calls");
        row("receiving: click keys", 1, false, false, "SetTransmit(true)");
        row("transmitting: click unkeys", 3, true, false, "SetTransmit(false)");
        row("refused: label still flips", 1, false, true, "SetTransmit(true)");
        row("no stations: nothing", 0, true, false, "");
    }
    void click_flipsTransmitAtOnce_nextTickFollowsStation() {
        QFETCH(int, count);
        QFETCH(bool, transmitting);
        Fixture f;
        f.echoLink.count = count;
        f.echoLink.transmitting = transmitting;
        f.tickAt(QTime(21, 5, 7));
        if (QFETCH(bool, setFails); setFails) {
            f.echoLink.failing = {QStringLiteral("SetTransmit")};
            QTest::ignoreMessage(QtWarningMsg, "Could not key the transmitter: transmit failed");
        }
        f.echoLink.transmitting = !transmitting;
        QTest::mouseClick(f.control<QPushButton>("TxRx"), Qt::LeftButton);
        QTEST(f.echoLink.callsTo(QStringLiteral("SetTransmit")).join(u' '), "calls");
        QCOMPARE(f.look(), (count > 0) != transmitting ? Transmitting : Receiving);
        f.echoLink.transmitting = transmitting;
        f.tickAt(QTime(21, 5, 8));
        QCOMPARE(f.look(), transmitting ? Transmitting : Receiving);
    }

    // Each box speaks its own slot, greyed counts as unticked; two ticks land in some seconds.
    void eachBox_gatesItsOwnSlot_data() {
        columns<QString, int, QTime, QString>("box", "value", "boundary", "expected");
        row("hour", "OnHour", 1, QTime(21, 0), "The Time Is9 PM");
        row("hour greyed", "OnHour", 2, QTime(21, 0), "");
        row("quarter", "QuarterHour", 1, QTime(21, 15), "The Time Is9 15 PM");
        row("half", "HalfHour", 1, QTime(0, 30), "The Time Is12 30 AM");
        row("half at a quarter", "HalfHour", 1, QTime(21, 15), "");
    }
    void eachBox_gatesItsOwnSlot() {
        QFETCH(QString, box);
        QFETCH(int, value);
        QFETCH(QTime, boundary);
        Fixture f;
        f.clock.time.setTime(boundary.addSecs(-2));
        controls::setCheckValue(f.window.findChild<QCheckBox*>(box), value);
        f.echoLink.available = box != QStringLiteral("HalfHour"); // and without the station
        if (!f.echoLink.available) {
            QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        }
        for (int ms = -900; ms <= 2000; ms += 700) {
            f.tickAt(boundary.addMSecs(ms));
        }
        QTEST(f.voice.spoken.join(u'|'), "expected");
    }

    // Displays are kept through an outage, which is reported once whatever fails, and again after it ends. Say the
    // Time speaks the time without any box ticked, and a voice that fails is only warned of.
    void failingStation_keepsDisplays_reportsOncePerOutage() {
        Fixture f;
        f.echoLink.count = 2;
        f.echoLink.transmitting = true;
        f.tickAt(QTime(9, 5, 1));
        f.echoLink.count = 5;
        f.echoLink.transmitting = false;
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        f.echoLink.failing = {QStringLiteral("ConnectedCount")};
        f.tickAt(QTime(9, 5, 2));
        QCOMPARE(f.shown("NumStations"), QStringLiteral("2"));
        f.echoLink.failing = {QStringLiteral("IsTransmitting")};
        f.tickAt(QTime(9, 5, 3));
        QCOMPARE(f.shown("ShowTime") + f.shown("NumStations") + f.look(), QStringLiteral("09:05:035") + Transmitting);
        QTest::ignoreMessage(QtWarningMsg, "Status refresh: EchoLink is answering again");
        f.echoLink.failing.clear();
        f.tickAt(QTime(9, 5, 4));
        QCOMPARE(f.look(), Receiving);
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        f.echoLink.failing = {QStringLiteral("IsTransmitting")};
        f.tickAt(QTime(21, 5, 40));
        f.control<QPushButton>("TheTime")->click();
        QCOMPARE(f.voice.spoken, QStringList{QStringLiteral("The Time Is9 05PM")});
        f.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, "Could not speak the time: the voice is not available");
        f.control<QPushButton>("TheTime")->click();
    }
};

QTEST_MAIN(ClockControlsTest)
#include "tst_clockcontrols.moc"
