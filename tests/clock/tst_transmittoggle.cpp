// SPDX-License-Identifier: GPL-3.0-or-later
#include "ClockFixture.h"

#include <QTest>

class TransmitToggleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void noStations_doesNothing_evenWhileTransmitting() {
        ClockFixture f;
        f.echoLink.count = 0;
        f.echoLink.transmitting = true;
        f.tickAt(QTime(9, 5, 1));
        f.echoLink.calls.clear();
        QTest::mouseClick(f.control<QPushButton>("TxRx"), Qt::LeftButton);
        QVERIFY(f.echoLink.calls.isEmpty());
        QCOMPARE(f.transmit->TransmitFlag(), 1);
        QCOMPARE(f.label1()->text(), TransmittingText);
    }

    void unreadableCount_countsAsNoStations() {
        ClockFixture f;
        f.control("NumStations")->setText(QStringLiteral("?"));
        f.toggle->TxRx_Click();
        QVERIFY(f.echoLink.calls.isEmpty());
    }

    void receiving_click_keysAndShowsRedAtOnce() {
        ClockFixture f;
        f.echoLink.count = 1;
        f.tickAt(QTime(9, 5, 1));
        f.echoLink.calls.clear();
        f.control<QPushButton>("TxRx")->click();
        QCOMPARE(f.echoLink.calls, QStringList{QStringLiteral("SetTransmit(true)")});
        QCOMPARE(f.transmit->TransmitFlag(), 1);
        QCOMPARE(f.label1()->text(), TransmittingText);
        QCOMPARE(f.label1Colour(), Red);
    }

    void transmitting_click_unkeysAndShowsGreen() {
        ClockFixture f;
        f.echoLink.count = 1;
        f.echoLink.transmitting = true;
        f.tickAt(QTime(9, 5, 1));
        f.echoLink.calls.clear();
        f.toggle->TxRx_Click();
        QCOMPARE(f.echoLink.calls, QStringList{QStringLiteral("SetTransmit(false)")});
        QCOMPARE(f.transmit->TransmitFlag(), 0);
        QCOMPARE(f.label1()->text(), ReceivingText);
        QCOMPARE(f.label1Colour(), Green);
    }

    void twoClicksBetweenTicks_keyThenUnkey() {
        ClockFixture f;
        f.echoLink.count = 2;
        f.tickAt(QTime(9, 5, 1));
        f.echoLink.calls.clear();
        f.toggle->TxRx_Click();
        f.toggle->TxRx_Click();
        const QStringList expected{QStringLiteral("SetTransmit(true)"), QStringLiteral("SetTransmit(false)")};
        QCOMPARE(f.echoLink.calls, expected);
        QCOMPARE(f.label1()->text(), ReceivingText);
    }

    // The click acts on the state of the last refresh, not on what EchoLink has done since.
    void stationKeyedByItself_clickStillKeys() {
        ClockFixture f;
        f.echoLink.count = 1;
        f.tickAt(QTime(9, 5, 1));
        f.echoLink.transmitting = true;
        f.echoLink.calls.clear();
        f.toggle->TxRx_Click();
        QCOMPARE(f.echoLink.calls, QStringList{QStringLiteral("SetTransmit(true)")});
    }

    void failingSetTransmit_labelFollowsClick_nextTickShowsTruth() {
        ClockFixture f;
        f.echoLink.count = 1;
        f.tickAt(QTime(9, 5, 1));
        f.echoLink.failing = {QStringLiteral("SetTransmit")};
        QTest::ignoreMessage(QtWarningMsg, "Could not key the transmitter: transmit failed");
        f.toggle->TxRx_Click();
        QCOMPARE(f.transmit->TransmitFlag(), 1);
        QCOMPARE(f.label1()->text(), TransmittingText);
        f.tickAt(QTime(9, 5, 2));
        QCOMPARE(f.transmit->TransmitFlag(), 0);
        QCOMPARE(f.label1()->text(), ReceivingText);
        QCOMPARE(f.label1Colour(), Green);
    }
};

QTEST_MAIN(TransmitToggleTest)
#include "tst_transmittoggle.moc"
