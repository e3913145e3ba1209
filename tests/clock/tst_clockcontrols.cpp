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

    // The clock's text in that locale, its spaces made narrow.
    void text_data() {
        columns<QString, QTime, QString>("locale", "time", "expected");
        row("no zone in Chinese", "zh_CN", QTime(21, 5, 7), "21:05:07");
        row("no zone nor trailing comma", "sq_AL", QTime(21, 5, 7), QStringLiteral("9:05:07\u202FE\u202FPASDITES"));
        row("Bulgarian hour sign kept", "bg_BG", QTime(21, 5, 7), QStringLiteral("21:05:07\u202F\u0447."));
    }
    void text() {
        QFETCH(QString, locale);
        QFETCH(QTime, time);
        QTEST(timetexts::clockText(QLocale(locale), time).replace(u' ', u'\u202F'), "expected");
    }

    // Readings in ms from a boundary on a fixed day: the clock when the refresh starts ("" no reading), then one a
    // tick; "boxes" are the values of the hour, quarter and half-hour boxes (2 greyed), none ticked at a tick ending in
    // "-". The station is away; the clock goes on. Spoken texts without their "The Time Is" joined by "|".
    void ticks_data() {
        columns<QTime, QString, QString, QString, QString>("boundary", "start", "ticks", "boxes", "spoken");
        row("hour box alone, midnight, day before", QTime(0, 0), "-700", "300", "100", "12 AM");
        row("hour box greyed", QTime(21, 0), "-700", "300", "211", "");
        row("quarter box alone", QTime(21, 15), "-700", "300", "010", "9 15 PM");
        row("half-hour box alone", QTime(0, 30), "-700", "300", "001", "12 30 AM");
        row("half-hour box at a quarter", QTime(21, 15), "-700", "300", "001", "");
        row("half unticked", QTime(21, 30), "-700", "300", "110", "");
        row("no quarter boundary", QTime(21, 5), "-700", "300", "111", "");
        row("two ticks in a second once", QTime(10, 0), "-900", "100 900 1900", "111", "10 AM");
        row("late within grace", QTime(10, 0), "-500", "4900 5900", "111", "10 AM");
        row("past grace silent", QTime(10, 0), "-1000", "6000 7000", "111", "");
        row("after sleep nothing stale", QTime(11, 0), "-1200000", "30000 899600 900600", "111", "11 15 AM");
        row("no start: first tick reads", QTime(10, 0), "", "200 1200 900200", "111", "10 15 AM");
        row("ticked late not spoken late", QTime(10, 0), "-500", "500- 1500", "111", "");
        row("stepped back no repeat", QTime(10, 0), "-500", "500 1500 -200 800", "111", "10 AM");
        // When summer time ends the wall clock shows 02:00 to 02:59 twice; each showing is announced.
        row("hour shown twice", QTime(2, 0), "-500", "500 3599500 500 1500", "111", "2 AM|2 AM");
    }
    void ticks() {
        QFETCH(QTime, boundary);
        QFETCH(QString, start);
        QFETCH(QString, ticks);
        QFETCH(QString, boxes);
        const QDateTime at(QDate(2026, 12, 6), boundary);
        Fixture f;
        f.clock.time = start.isEmpty() ? QDateTime() : at.addMSecs(start.toInt());
        const StatusRefresh::Widgets& w = f.ui.clock.refresh;
        StatusRefresh refresh{w, f.echoLink, f.voice, f.clock, f.transmit, QLocale(QLocale::C)}; // from that start
        f.echoLink.available = false;
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        for (const QString& tick : ticks.split(u' ')) {
            const bool none = tick.endsWith(u'-');
            int i = 0;
            for (QCheckBox* box : {w.OnHour, w.QuarterHour, w.HalfHour}) {
                controls::setCheckValue(box, none ? 0 : boxes.at(i++).digitValue());
            }
            f.clock.time = at.addMSecs(tick.chopped(none).toInt());
            refresh.Timer1_Timer();
        }
        QTEST(f.voice.spoken.join(u'|').remove(QStringLiteral("The Time Is")), "spoken");
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
        QTEST(f.echoLink.calls.filter(QStringLiteral("SetTransmit")).join(u' '), "calls");
        QCOMPARE(f.look(), (count > 0) != transmitting ? Transmitting : Receiving);
        f.echoLink.transmitting = transmitting;
        f.tickAt(QTime(21, 5, 8));
        QCOMPARE(f.look(), transmitting ? Transmitting : Receiving);
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
        f.clock.set(12, 0);
        f.control<QPushButton>("TheTime")->click();
        QCOMPARE(f.voice.spoken.join(u'|'), QStringLiteral("The Time Is9 05PM|The Time Is12 00PM"));
        f.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, "Could not speak the time: the voice is not available");
        f.control<QPushButton>("TheTime")->click();
    }
};

QTEST_MAIN(ClockControlsTest)
#include "tst_clockcontrols.moc"
