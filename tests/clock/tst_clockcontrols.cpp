// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "MainWindowRig.h"
#include "clock/StatusRefresh.h"
#include "ui/TransmitState.h"
#include "clock/TransmitToggle.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

namespace {
const QRegularExpression NotAnswering(QStringLiteral("^Status refresh: EchoLink is not answering"));

// Wired as the main window wires them; the clock starts at 09:05.
struct Fixture : MainWindowRig {
    TransmitState transmit{ui.clock.transmitLabel};
    StatusRefresh refresh{ui.clock.refresh, echoLink, voice, clock, transmit, QLocale(QLocale::C)};
    TransmitToggle toggle{ui.clock.transmit, echoLink, transmit};

    QString shown(const char* name) { return control<QLabel>(name)->text(); }
    void tickAt(const QTime& time) {
        clock.time.setTime(time);
        refresh.Timer1_Timer();
    }
    void verifyLook(bool on) {
        QLabel* label = control<QLabel>("Label1");
        QCOMPARE(label->accessibleName(), on ? QStringLiteral("Transmit state: Transmitting Transmitting")
                                             : QStringLiteral("Transmit state:   Receiving       Mode"));
        QCOMPARE(label->palette().color(QPalette::Window), on ? QColor(255, 0, 0) : QColor(0, 255, 0));
        QVERIFY(label->autoFillBackground() && label->text() == label->accessibleName().mid(16));
        QCOMPARE(transmit.TransmitFlag(), on ? 1 : 0);
    }
};
} // namespace

class ClockControlsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // A click acts on the last refresh, not on what the station did since, and shows at once; a tick shows the truth.
    void click_flipsTransmitAtOnce_nextTickFollowsStation_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("transmitting");
        QTest::addColumn<bool>("setFails");
        QTest::addColumn<QStringList>("calls");
        row("receiving: click keys", 1, false, false, QStringList{QStringLiteral("SetTransmit(true)")});
        row("transmitting: click unkeys", 3, true, false, QStringList{QStringLiteral("SetTransmit(false)")});
        row("refused: label still flips", 1, false, true, QStringList{QStringLiteral("SetTransmit(true)")});
        row("no stations: nothing", 0, true, false, QStringList{});
    }
    void click_flipsTransmitAtOnce_nextTickFollowsStation() {
        QFETCH(int, count);
        QFETCH(bool, transmitting);
        Fixture f;
        f.echoLink.count = count;
        f.echoLink.transmitting = transmitting;
        f.tickAt(QTime(21, 5, 7));
        QCOMPARE(f.shown("ShowTime") + u' ' + f.shown("NumStations"), QStringLiteral("21:05:07 %1").arg(count));
        f.verifyLook(transmitting);
        f.echoLink.calls.clear();
        if (QFETCH(bool, setFails); setFails) {
            f.echoLink.failing = {QStringLiteral("SetTransmit")};
            QTest::ignoreMessage(QtWarningMsg, "Could not key the transmitter: transmit failed");
        }
        f.echoLink.transmitting = !transmitting;
        QTest::mouseClick(f.control<QPushButton>("TxRx"), Qt::LeftButton);
        QTEST(f.echoLink.calls, "calls");
        f.verifyLook(count > 0 ? !transmitting : transmitting);
        f.echoLink.transmitting = transmitting;
        f.tickAt(QTime(21, 5, 8));
        f.verifyLook(transmitting);
    }

    // Each box speaks its own slot, greyed counts as unticked; two ticks land in some seconds.
    void eachBox_gatesItsOwnSlot_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("value");
        QTest::addColumn<QTime>("boundary");
        QTest::addColumn<QStringList>("expected");
        row("hour", "OnHour", 1, QTime(21, 0), QStringList{QStringLiteral("The Time Is9 PM")});
        row("hour greyed", "OnHour", 2, QTime(21, 0), QStringList{});
        row("quarter", "QuarterHour", 1, QTime(21, 15), QStringList{QStringLiteral("The Time Is9 15 PM")});
        row("half", "HalfHour", 1, QTime(0, 30), QStringList{QStringLiteral("The Time Is12 30 AM")});
        row("half at a quarter", "HalfHour", 1, QTime(21, 15), QStringList{});
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
        QTEST(f.voice.spoken, "expected");
        QCOMPARE(f.shown("ShowTime"), boundary.addSecs(1).toString(QStringLiteral("HH:mm:ss")));
        QVERIFY(f.echoLink.available || f.echoLink.calls.isEmpty());
    }

    void sayTheTime_speaksNowWithoutAnyBox_failureOnlyWarned() {
        Fixture f;
        f.clock.set(21, 5, 40);
        QTest::mouseClick(f.control<QPushButton>("TheTime"), Qt::LeftButton);
        QCOMPARE(f.voice.spoken, QStringList{QStringLiteral("The Time Is9 05PM")});
        f.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, "Could not speak the time: the voice is not available");
        f.control<QPushButton>("TheTime")->click();
    }

    // Displays are kept through an outage, which is reported once whatever fails, and again after it ends.
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
        QCOMPARE(f.shown("ShowTime") + f.shown("NumStations"), QStringLiteral("09:05:035"));
        f.verifyLook(true);
        QTest::ignoreMessage(QtWarningMsg, "Status refresh: EchoLink is answering again");
        f.echoLink.failing.clear();
        f.tickAt(QTime(9, 5, 4));
        f.verifyLook(false);
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        f.echoLink.failing = {QStringLiteral("IsTransmitting")};
        f.tickAt(QTime(9, 5, 5));
    }
};

QTEST_MAIN(ClockControlsTest)
#include "tst_clockcontrols.moc"
