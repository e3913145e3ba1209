// SPDX-License-Identifier: GPL-3.0-or-later
#include "ClockFixture.h"
#include "Controls.h"

#include <QRegularExpression>
#include <QTest>

namespace {
const QRegularExpression NotAnswering(QStringLiteral("^Status refresh: EchoLink is not answering"));
const QRegularExpression AnsweringAgain(QStringLiteral("^Status refresh: EchoLink is answering again$"));
} // namespace

class StatusRefreshTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every warning a test does not expect is a failure.
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void tick_showsTimeCountAndTransmitting() {
        ClockFixture f;
        f.echoLink.count = 3;
        f.echoLink.transmitting = true;
        f.tickAt(QTime(21, 5, 7));
        QCOMPARE(f.control("ShowTime")->text(), QStringLiteral("21:05:07"));
        QCOMPARE(f.control("ShowTime")->accessibleName(), QStringLiteral("Time: 21:05:07"));
        QCOMPARE(f.control("NumStations")->text(), QStringLiteral("3"));
        QCOMPARE(f.label1()->text(), TransmittingText);
        QCOMPARE(f.label1Colour(), Red);
        QVERIFY(f.label1()->autoFillBackground());
        QCOMPARE(f.transmit->TransmitFlag(), 1);
    }

    void tick_whileReceiving_putsGreenLookBack() {
        ClockFixture f;
        f.echoLink.transmitting = true;
        f.tickAt(QTime(21, 5, 7));
        f.echoLink.transmitting = false;
        f.tickAt(QTime(21, 5, 8));
        QCOMPARE(f.label1()->text(), ReceivingText);
        QCOMPARE(f.label1Colour(), Green);
        QCOMPARE(f.label1()->accessibleName(), QStringLiteral("Transmit state: ") + ReceivingText);
        QCOMPARE(f.transmit->TransmitFlag(), 0);
    }

    void twelveHourFormat_showsItsOwnClock_andStillAnnounces() {
        ClockFixture f(QTime(20, 59, 59, 400), QLocale(QStringLiteral("en_US")));
        controls::setCheckValue(f.control<QCheckBox>("OnHour"), 1);
        f.tickAt(QTime(21, 0, 0, 400));
        const QString shown = f.control("ShowTime")->text();
        QVERIFY2(shown.startsWith(QStringLiteral("9:00:00")) && shown.endsWith(QStringLiteral("PM")),
                 qPrintable(shown));
        QCOMPARE(f.voice.spoken, QStringList{QStringLiteral("The Time Is9 PM")});
        QCOMPARE(f.speaker.TextToSpeak, QStringLiteral("The Time Is9 PM"));
    }

    void eachBox_gatesItsOwnSlot_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("value");
        QTest::addColumn<QTime>("boundary");
        QTest::addColumn<QStringList>("expected");
        const QTime hour(21, 0);
        const QTime quarter(21, 15);
        const QTime half(0, 30);
        QTest::newRow("On The Hour ticked") << "OnHour" << 1 << hour << QStringList{"The Time Is9 PM"};
        QTest::newRow("On The Hour greyed") << "OnHour" << 2 << hour << QStringList{};
        QTest::newRow("Quarter ticked") << "QuarterHour" << 1 << quarter << QStringList{"The Time Is9 15 PM"};
        QTest::newRow("Quarter at the hour") << "QuarterHour" << 1 << hour << QStringList{};
        QTest::newRow("Half ticked") << "HalfHour" << 1 << half << QStringList{"The Time Is12 30 AM"};
        QTest::newRow("Half greyed") << "HalfHour" << 2 << half << QStringList{};
        QTest::newRow("Half at a quarter") << "HalfHour" << 1 << quarter << QStringList{};
    }
    void eachBox_gatesItsOwnSlot() {
        QFETCH(QString, box);
        QFETCH(int, value);
        QFETCH(QTime, boundary);
        QFETCH(QStringList, expected);
        ClockFixture f(boundary.addSecs(-2));
        controls::setCheckValue(f.window.findChild<QCheckBox*>(box), value);
        for (int s = -1; s <= 2; ++s) { // two ticks land in the boundary's second
            f.tickAt(boundary.addMSecs(s * 1000 + 100));
            f.tickAt(boundary.addMSecs(s * 1000 + 800));
        }
        QCOMPARE(f.voice.spoken, expected);
    }

    void lateTick_stillAnnouncesOnce() {
        ClockFixture f(QTime(9, 59, 58));
        controls::setCheckValue(f.control<QCheckBox>("OnHour"), 1);
        f.tickAt(QTime(9, 59, 59, 900));
        f.tickAt(QTime(10, 0, 2, 500));
        f.tickAt(QTime(10, 0, 3, 500));
        QCOMPARE(f.voice.spoken, QStringList{QStringLiteral("The Time Is10 AM")});
    }

    void sayTheTime_speaksNowWithoutAnyBox() {
        ClockFixture f(QTime(21, 5, 40));
        QTest::mouseClick(f.control<QPushButton>("TheTime"), Qt::LeftButton);
        QCOMPARE(f.voice.spoken, QStringList{QStringLiteral("The Time Is9 05PM")});
        f.clock.set(0, 5);
        f.control<QPushButton>("TheTime")->click();
        QCOMPARE(f.voice.spoken.last(), QStringLiteral("The Time Is12 05AM"));
    }

    void failingStation_keepsDisplays_reportsOncePerOutage() {
        ClockFixture f;
        f.echoLink.count = 2;
        f.echoLink.transmitting = true;
        f.tickAt(QTime(9, 5, 1));

        f.echoLink.failing = {QStringLiteral("ConnectedCount")};
        f.echoLink.count = 5;
        f.echoLink.transmitting = false;
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        f.tickAt(QTime(9, 5, 2));
        f.tickAt(QTime(9, 5, 3));
        f.echoLink.failing = {QStringLiteral("IsTransmitting")}; // still the same outage
        f.tickAt(QTime(9, 5, 4));
        QCOMPARE(f.control("ShowTime")->text(), QStringLiteral("09:05:04"));
        QCOMPARE(f.control("NumStations")->text(), QStringLiteral("5"));
        QCOMPARE(f.label1()->text(), TransmittingText);
        QCOMPARE(f.transmit->TransmitFlag(), 1);

        f.echoLink.failing.clear();
        QTest::ignoreMessage(QtWarningMsg, AnsweringAgain);
        f.tickAt(QTime(9, 5, 5));
        f.tickAt(QTime(9, 5, 6));
        QCOMPARE(f.label1()->text(), ReceivingText);

        f.echoLink.failing = {QStringLiteral("ConnectedCount")}; // a new outage is reported again
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        f.tickAt(QTime(9, 5, 7));
    }

    void stationGone_noCallsPileUp_butClockAndAnnouncementsGoOn() {
        ClockFixture f(QTime(9, 44, 59));
        controls::setCheckValue(f.control<QCheckBox>("QuarterHour"), 1);
        f.echoLink.available = false;
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        f.tickAt(QTime(9, 45, 0, 200));
        f.tickAt(QTime(9, 45, 1, 200));
        QVERIFY(f.echoLink.calls.isEmpty());
        QCOMPARE(f.control("ShowTime")->text(), QStringLiteral("09:45:01"));
        QCOMPARE(f.control("NumStations")->text(), QStringLiteral("0"));
        QCOMPARE(f.voice.spoken, QStringList{QStringLiteral("The Time Is9 45 AM")});
    }

    void voiceFailure_isReportedAndNothingElseBreaks() {
        ClockFixture f;
        f.voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, "Could not speak the time: the voice is not available");
        f.control<QPushButton>("TheTime")->click();
        QCOMPARE(f.speaker.TextToSpeak, QStringLiteral("The Time Is9 05AM"));
    }
};

QTEST_MAIN(StatusRefreshTest)
#include "tst_statusrefresh.moc"
