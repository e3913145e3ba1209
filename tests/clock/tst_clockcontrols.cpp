// SPDX-License-Identifier: GPL-3.0-or-later
// Status refresh and the transmit toggle on the main window's controls, wired as the main window wires them.
#include "DataRow.h"
#include "MainWindowRig.h"
#include "StatusRefresh.h"
#include "TransmitState.h"
#include "TransmitToggle.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

namespace {
const QRegularExpression NotAnswering(QStringLiteral("^Status refresh: EchoLink is not answering"));
const QString TransmittingText = QStringLiteral("Transmitting Transmitting");
const QString ReceivingText = QStringLiteral("  Receiving       Mode");
const QString SetTransmitOn = QStringLiteral("SetTransmit(true)");
const QString SetTransmitOff = QStringLiteral("SetTransmit(false)");

struct Fixture : MainWindowRig {
    explicit Fixture(const QTime& start = QTime(9, 5), const QLocale& locale = QLocale(QLocale::C)) {
        clock.time.setTime(start);
        transmit = new TransmitState(ui.clock.transmitLabel, &window);
        refresh = new StatusRefresh(ui.clock.refresh, echoLink, voice, clock, *transmit, locale, &window);
        toggle = new TransmitToggle(ui.clock.transmit, echoLink, *transmit, &window);
    }
    QString shown(const char* name) { return control<QLabel>(name)->text(); }
    void tickAt(const QTime& time) {
        clock.time.setTime(time);
        refresh->Timer1_Timer();
    }
    // One refresh with the station in the given state, then the calls it made are forgotten.
    void refreshWith(int count, bool transmitting) {
        echoLink.count = count;
        echoLink.transmitting = transmitting;
        tickAt(QTime(9, 5, 1));
        echoLink.calls.clear();
    }
    void box(const char* name, int value) { controls::setCheckValue(control<QCheckBox>(name), value); }

    TransmitState* transmit = nullptr;
    StatusRefresh* refresh = nullptr;
    TransmitToggle* toggle = nullptr;
};

// Label1's two looks, and the flag behind them.
void verifyLook(Fixture& f, bool transmitting) {
    QLabel* label1 = f.control<QLabel>("Label1");
    QCOMPARE(label1->text(), transmitting ? TransmittingText : ReceivingText);
    QCOMPARE(label1->palette().color(QPalette::Window), transmitting ? QColor(255, 0, 0) : QColor(0, 255, 0));
    QVERIFY(label1->autoFillBackground());
    QCOMPARE(label1->accessibleName(), QStringLiteral("Transmit state: ") + label1->text());
    QCOMPARE(f.transmit->TransmitFlag(), transmitting ? 1 : 0);
}
} // namespace

class ClockControlsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every warning a test does not expect is a failure.
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void tick_showsTimeAndCount() {
        Fixture f;
        f.echoLink.count = 3;
        f.tickAt(QTime(21, 5, 7));
        QCOMPARE(f.shown("ShowTime"), QStringLiteral("21:05:07"));
        QCOMPARE(f.control<QLabel>("ShowTime")->accessibleName(), QStringLiteral("Time: 21:05:07"));
        QCOMPARE(f.shown("NumStations"), QStringLiteral("3"));
    }

    void label1_followsStation_clickFlipsIt_nextTickFollowsStationAgain_data() {
        QTest::addColumn<bool>("transmitting");
        QTest::newRow("receiving: click keys") << false;
        QTest::newRow("transmitting: click unkeys") << true;
    }
    void label1_followsStation_clickFlipsIt_nextTickFollowsStationAgain() {
        QFETCH(bool, transmitting);
        Fixture f;
        f.refreshWith(1, transmitting);
        verifyLook(f, transmitting);
        QTest::mouseClick(f.control<QPushButton>("TxRx"), Qt::LeftButton);
        QCOMPARE(f.echoLink.calls, QStringList{transmitting ? SetTransmitOff : SetTransmitOn});
        verifyLook(f, !transmitting); // at once, before the station says so
        f.echoLink.transmitting = transmitting;
        f.tickAt(QTime(9, 5, 2));
        verifyLook(f, transmitting);
    }

    void noStationsOrUnreadableCount_clickDoesNothing_data() {
        QTest::addColumn<QString>("count");
        row("no stations", "0");
        row("unreadable count", "?");
    }
    void noStationsOrUnreadableCount_clickDoesNothing() {
        QFETCH(QString, count);
        Fixture f;
        f.refreshWith(0, true);
        f.control<QLabel>("NumStations")->setText(count);
        f.toggle->TxRx_Click();
        QVERIFY(f.echoLink.calls.isEmpty());
        verifyLook(f, true);
    }

    // A click acts on the state of the last refresh or click, not on what EchoLink has done since.
    void twoClicksBetweenTicks_keyThenUnkey_whateverTheStationDidMeanwhile() {
        Fixture f;
        f.refreshWith(2, false);
        f.echoLink.transmitting = true;
        f.toggle->TxRx_Click();
        f.toggle->TxRx_Click();
        QCOMPARE(f.echoLink.calls, (QStringList{SetTransmitOn, SetTransmitOff}));
        verifyLook(f, false);
    }

    void failingSetTransmit_labelFollowsClick_nextTickShowsTruth() {
        Fixture f;
        f.refreshWith(1, false);
        f.echoLink.failing = {QStringLiteral("SetTransmit")};
        QTest::ignoreMessage(QtWarningMsg, "Could not key the transmitter: transmit failed");
        f.toggle->TxRx_Click();
        verifyLook(f, true);
        f.tickAt(QTime(9, 5, 2));
        verifyLook(f, false);
    }

    void eachBox_gatesItsOwnSlot_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("value");
        QTest::addColumn<QTime>("boundary");
        QTest::addColumn<QStringList>("expected");
        const QTime hour(21, 0);
        const QTime quarter(21, 15);
        const QTime half(0, 30);
        QTest::newRow("On The Hour ticked") << "OnHour" << 1 << hour << QStringList{QStringLiteral("The Time Is9 PM")};
        QTest::newRow("On The Hour greyed") << "OnHour" << 2 << hour << QStringList{};
        QTest::newRow("Quarter ticked") << "QuarterHour" << 1 << quarter
                                        << QStringList{QStringLiteral("The Time Is9 15 PM")};
        QTest::newRow("Quarter at the hour") << "QuarterHour" << 1 << hour << QStringList{};
        QTest::newRow("Half ticked") << "HalfHour" << 1 << half << QStringList{QStringLiteral("The Time Is12 30 AM")};
        QTest::newRow("Half at a quarter") << "HalfHour" << 1 << quarter << QStringList{};
    }
    // Two ticks land in each second, as they do when the timer runs a little fast.
    void eachBox_gatesItsOwnSlot() {
        QFETCH(QString, box);
        QFETCH(int, value);
        QFETCH(QTime, boundary);
        QFETCH(QStringList, expected);
        Fixture f(boundary.addSecs(-2));
        controls::setCheckValue(f.window.findChild<QCheckBox*>(box), value);
        for (int s = -1; s <= 2; ++s) {
            f.tickAt(boundary.addMSecs(s * 1000 + 100));
            f.tickAt(boundary.addMSecs(s * 1000 + 800));
        }
        QCOMPARE(f.voice.spoken, expected);
    }

    void twelveHourFormat_showsItsOwnClock_andStillAnnounces() {
        Fixture f(QTime(20, 59, 59, 400), QLocale(QStringLiteral("en_US")));
        f.box("OnHour", 1);
        f.tickAt(QTime(21, 0, 0, 400));
        const QString shown = f.shown("ShowTime");
        QVERIFY2(shown.startsWith(QStringLiteral("9:00:00")) && shown.endsWith(QStringLiteral("PM")),
                 qPrintable(shown));
        QCOMPARE(f.voice.spoken, QStringList{QStringLiteral("The Time Is9 PM")});
    }

    void sayTheTime_speaksNowWithoutAnyBox_andKeepsTheText() {
        Fixture f(QTime(21, 5, 40));
        QTest::mouseClick(f.control<QPushButton>("TheTime"), Qt::LeftButton);
        QCOMPARE(f.voice.spoken, QStringList{QStringLiteral("The Time Is9 05PM")});
        QCOMPARE(f.voice.last, QStringLiteral("The Time Is9 05PM"));
        f.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, "Could not speak the time: the voice is not available");
        f.clock.set(0, 5);
        f.control<QPushButton>("TheTime")->click();
        QCOMPARE(f.voice.last, QStringLiteral("The Time Is12 05AM"));
    }

    void failingStation_keepsDisplays_reportsOncePerOutage() {
        Fixture f;
        f.refreshWith(2, true);
        f.echoLink.failing = {QStringLiteral("ConnectedCount")};
        f.echoLink.count = 5;
        f.echoLink.transmitting = false;
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        f.tickAt(QTime(9, 5, 2));
        f.tickAt(QTime(9, 5, 3));
        f.echoLink.failing = {QStringLiteral("IsTransmitting")}; // still the same outage
        f.tickAt(QTime(9, 5, 4));
        QCOMPARE(f.shown("ShowTime"), QStringLiteral("09:05:04"));
        QCOMPARE(f.shown("NumStations"), QStringLiteral("5"));
        verifyLook(f, true);

        f.echoLink.failing.clear();
        QTest::ignoreMessage(QtWarningMsg, "Status refresh: EchoLink is answering again");
        f.tickAt(QTime(9, 5, 5));
        f.tickAt(QTime(9, 5, 6));
        verifyLook(f, false);

        f.echoLink.failing = {QStringLiteral("IsTransmitting")}; // a new outage is reported again, whatever fails
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        f.tickAt(QTime(9, 5, 7));
    }

    void stationGone_noCallsPileUp_butClockAndAnnouncementsGoOn() {
        Fixture f(QTime(9, 44, 59));
        f.box("QuarterHour", 1);
        f.echoLink.available = false;
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        f.tickAt(QTime(9, 45, 0, 200));
        f.tickAt(QTime(9, 45, 1, 200));
        QVERIFY(f.echoLink.calls.isEmpty());
        QCOMPARE(f.shown("ShowTime"), QStringLiteral("09:45:01"));
        QCOMPARE(f.shown("NumStations"), QStringLiteral("0"));
        QCOMPARE(f.voice.spoken, QStringList{QStringLiteral("The Time Is9 45 AM")});
    }
};

QTEST_MAIN(ClockControlsTest)
#include "tst_clockcontrols.moc"
