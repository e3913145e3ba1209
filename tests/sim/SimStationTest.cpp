// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in station's state and behaviour, without a bus.
#include "EchoLinkBus.h"
#include "Station.h"

#include <QSignalSpy>
#include <QTest>

class SimStationTest : public QObject {
    Q_OBJECT

private:
    QStringList log_;
    std::unique_ptr<Station> station_;

    static SimCommand command(SimCommand::Kind kind, const QString& callsign = {}, const QString& text = {}) {
        SimCommand c;
        c.kind = kind;
        c.callsign = callsign;
        c.text = text;
        return c;
    }

private Q_SLOTS:
    void init() {
        log_.clear();
        station_ = std::make_unique<Station>(QStringLiteral("QA1TST"), [this](const QString& l) { log_ << l; });
        station_->setConnectDelayMs(10);
    }

    void connectRequest_isAcceptedAtOnceAndConnectsAMomentLater() {
        QSignalSpy connected(station_.get(), &Station::Connected);
        QVERIFY(station_->connectTo(QStringLiteral("qa2fnv-l"), -1).ok);
        QVERIFY(!station_->isConnected(QStringLiteral("QA2FNV-L"))); // not yet: the other side answers later
        QCOMPARE(connected.size(), 0);
        QTRY_COMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(0).toString(), QStringLiteral("QA2FNV-L"));
        QCOMPARE(connected.at(0).at(1).toString(), inventName(QStringLiteral("QA2FNV-L")));
        QCOMPARE(connected.at(0).at(2).toString(), inventAddress(QStringLiteral("QA2FNV-L")));
        QVERIFY(station_->isConnected(QStringLiteral("qa2fnv-l")));
        QCOMPARE(station_->connectedCount(), 1);
        QVERIFY(log_.last().startsWith(QStringLiteral("< Connected QA2FNV-L \"")));
    }

    void connectRequest_ofKnownStation_reportsItsNameAndAddress() {
        station_->addKnown(
            {{QStringLiteral("QC3LNB-R"), QStringLiteral("Lantern Bay repeater"), QStringLiteral("192.0.2.9")}});
        QSignalSpy connected(station_.get(), &Station::Connected);
        QVERIFY(station_->connectTo(QStringLiteral("QC3LNB-R"), -1).ok);
        QTRY_COMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(1).toString(), QStringLiteral("Lantern Bay repeater"));
        QCOMPARE(connected.at(0).at(2).toString(), QStringLiteral("192.0.2.9"));
    }

    void connectRequest_twice_connectsOnce() {
        QSignalSpy connected(station_.get(), &Station::Connected);
        QVERIFY(station_->connectTo(QStringLiteral("QA5TWO"), -1).ok);
        QVERIFY(station_->connectTo(QStringLiteral("QA5TWO"), -1).ok);
        QTRY_COMPARE(connected.size(), 1);
        QVERIFY(station_->connectTo(QStringLiteral("QA5TWO"), -1).ok);
        QTest::qWait(50);
        QCOMPARE(connected.size(), 1);
    }

    void disconnectBeforeTheAnswer_cancelsTheConnection() {
        QSignalSpy connected(station_.get(), &Station::Connected);
        QVERIFY(station_->connectTo(QStringLiteral("QA5CXL"), -1).ok);
        QVERIFY(station_->disconnect(QStringLiteral("QA5CXL")).ok);
        QTest::qWait(50);
        QCOMPARE(connected.size(), 0);
        QVERIFY(!station_->isConnected(QStringLiteral("QA5CXL")));
    }

    void refusedCallsign_getsRefusedError_untilAccepted() {
        station_->apply(command(SimCommand::Kind::Refuse, QStringLiteral("QA1BAD")));
        const StationReply refused = station_->connectTo(QStringLiteral("qa1bad"), -1);
        QVERIFY(!refused.ok);
        QCOMPARE(refused.errorName, QLatin1String(EchoLinkBus::ErrorRefused));
        QVERIFY(refused.message.contains(QStringLiteral("QA1BAD")));
        station_->apply(command(SimCommand::Kind::Accept, QStringLiteral("QA1BAD")));
        QVERIFY(station_->connectTo(QStringLiteral("QA1BAD"), -1).ok);
    }

    void connectRequest_withoutCallsign_isInvalid() {
        QCOMPARE(station_->connectTo(QStringLiteral("  "), -1).errorName,
                 QLatin1String(EchoLinkBus::ErrorInvalidArgument));
        QCOMPARE(station_->connectTo(QStringLiteral("QA1 QA2"), -1).errorName,
                 QLatin1String(EchoLinkBus::ErrorInvalidArgument));
    }

    void disconnect_ofStationNotConnected_isNotConnectedError() {
        const StationReply reply = station_->disconnect(QStringLiteral("QA9NON"));
        QVERIFY(!reply.ok);
        QCOMPARE(reply.errorName, QLatin1String(EchoLinkBus::ErrorNotConnected));
    }

    void disconnectAll_dropsEveryStationInTheOrderTheyCame() {
        station_->apply(command(SimCommand::Kind::Connect, QStringLiteral("QB1")));
        station_->apply(command(SimCommand::Kind::Connect, QStringLiteral("*NET*")));
        station_->apply(command(SimCommand::Kind::Connect, QStringLiteral("QB3-L")));
        QSignalSpy disconnected(station_.get(), &Station::Disconnected);
        QVERIFY(station_->disconnectAll().ok);
        QCOMPARE(disconnected.size(), 3);
        QCOMPARE(disconnected.at(0).at(0).toString(), QStringLiteral("QB1"));
        QCOMPARE(disconnected.at(1).at(0).toString(), QStringLiteral("*NET*"));
        QCOMPARE(disconnected.at(2).at(0).toString(), QStringLiteral("QB3-L"));
        QCOMPARE(station_->connectedCount(), 0);
    }

    void stationCommands_changeStateAndSendEvents() {
        QSignalSpy connected(station_.get(), &Station::Connected);
        QSignalSpy disconnected(station_.get(), &Station::Disconnected);
        QSignalSpy chat(station_.get(), &Station::ChatTextReceived);
        station_->apply(command(SimCommand::Kind::Connect, QStringLiteral("QA1BRK"), QStringLiteral("Home")));
        station_->apply(command(SimCommand::Kind::Connect, QStringLiteral("QA1BRK"))); // already there: no event
        station_->apply(command(SimCommand::Kind::Chat, {}, QStringLiteral("QA1BRK>a\rb")));
        station_->apply(command(SimCommand::Kind::Drop, QStringLiteral("QA1BRK")));
        station_->apply(command(SimCommand::Kind::Drop, QStringLiteral("QA1BRK"))); // gone: no event
        QCOMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(1).toString(), QStringLiteral("Home"));
        QCOMPARE(chat.size(), 1);
        QCOMPARE(chat.at(0).at(0).toString(), QStringLiteral("QA1BRK>a\rb"));
        QCOMPARE(disconnected.size(), 1);
        QVERIFY(log_.contains(QStringLiteral("< ChatTextReceived QA1BRK>a\\rb")));

        station_->apply(command(SimCommand::Kind::Key));
        QVERIFY(station_->isTransmitting());
        station_->apply(command(SimCommand::Kind::Unkey));
        QVERIFY(!station_->isTransmitting());
    }

    void burst_sendsNumberedTextsInOrder_andSumsUpWhenAllRepliesCame() {
        QSignalSpy chat(station_.get(), &Station::ChatTextReceived);
        SimCommand burst = command(SimCommand::Kind::Burst, {}, QStringLiteral("QA1BRK>/ver/"));
        burst.count = 3;
        QVERIFY(station_->apply(burst));
        QCOMPARE(chat.size(), 3);
        QCOMPARE(chat.at(0).at(0).toString(), QStringLiteral("QA1BRK>/ver/ #1"));
        QCOMPARE(chat.at(2).at(0).toString(), QStringLiteral("QA1BRK>/ver/ #3"));
        QVERIFY(station_->countingReplies());
        for (int i = 1; i <= 3; ++i) {
            QVERIFY(station_->sendChatText(QStringLiteral("re: QA1BRK>/ver/ #%1").arg(i)).ok);
        }
        QVERIFY(!station_->countingReplies());
        const QString summary = log_.last();
        QVERIFY2(summary.startsWith(QStringLiteral("# burst done: sent=3 ")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral(" replies=3 ")), qPrintable(summary));
        QVERIFY2(summary.endsWith(QStringLiteral(" lost=0 numbered=3 out_of_order=0")), qPrintable(summary));
    }

    void burst_countsRepliesOutOfOrderAndUnnumbered() {
        SimCommand burst = command(SimCommand::Kind::Burst, {}, QStringLiteral("A>/ver/"));
        burst.count = 4;
        station_->apply(burst);
        station_->sendChatText(QStringLiteral("x #2"));
        station_->sendChatText(QStringLiteral("x #1"));
        station_->sendChatText(QStringLiteral("Parlevox  v1.2"));
        station_->sendChatText(QStringLiteral("x #3"));
        QVERIFY2(log_.last().endsWith(QStringLiteral(" lost=0 numbered=3 out_of_order=1")), qPrintable(log_.last()));
    }

    void burst_withMissingReplies_sumsUpAfterTheTimeOut() {
        station_->setBurstTimeoutMs(50);
        SimCommand burst = command(SimCommand::Kind::Burst, {}, QStringLiteral("A>/ver/"));
        burst.count = 5;
        station_->apply(burst);
        station_->sendChatText(QStringLiteral("x #1"));
        QVERIFY(station_->countingReplies());
        QTRY_VERIFY(!station_->countingReplies());
        QVERIFY2(log_.last().contains(QStringLiteral(" replies=1 ")), qPrintable(log_.last()));
        QVERIFY2(log_.last().contains(QStringLiteral(" lost=4 ")), qPrintable(log_.last()));
        // Later replies are ordinary requests again.
        const qsizetype lines = log_.size();
        station_->sendChatText(QStringLiteral("x #2"));
        QCOMPARE(log_.size(), lines);
    }

    void storm_connectsThenDropsEveryStationOnce_andLogsOneLine() {
        station_->apply(command(SimCommand::Kind::Connect, QStringLiteral("QS2")));
        QSignalSpy connected(station_.get(), &Station::Connected);
        QSignalSpy disconnected(station_.get(), &Station::Disconnected);
        const qsizetype lines = log_.size();
        SimCommand storm = command(SimCommand::Kind::Storm);
        storm.count = 3;
        QVERIFY(station_->apply(storm));
        QStringList order;
        for (const auto& args : connected) {
            order << QStringLiteral("+") + args.at(0).toString();
        }
        for (const auto& args : disconnected) {
            order << QStringLiteral("-") + args.at(0).toString();
        }
        // QS2 was on before the storm and stays.
        QCOMPARE(order, QStringList({"+QS1", "+QS3", "-QS1", "-QS3"}));
        QCOMPARE(station_->connectedCount(), 1);
        QCOMPARE(log_.size(), lines + 1);
        QVERIFY2(log_.last().startsWith(QStringLiteral("# storm done: connects=2 drops=2 ")), qPrintable(log_.last()));
    }

    void inventedNamesAndAddresses_fitTheKindAndStayTheSame() {
        QCOMPARE(inventName(QStringLiteral("*ECHOTEST*")), QStringLiteral("ECHOTEST conference"));
        QVERIFY(inventName(QStringLiteral("QA1XYZ-L")).endsWith(QStringLiteral("link")));
        QVERIFY(inventName(QStringLiteral("QA1XYZ-R")).endsWith(QStringLiteral("repeater")));
        QVERIFY(inventName(QStringLiteral("QA1XYZ")).startsWith(QStringLiteral("Operator in ")));
        QCOMPARE(inventAddress(QStringLiteral("QA1XYZ")), inventAddress(QStringLiteral("QA1XYZ")));
        const QString address = inventAddress(QStringLiteral("QA1XYZ"));
        QVERIFY2(address.startsWith(QStringLiteral("192.0.2.")) || address.startsWith(QStringLiteral("198.51.100.")) ||
                     address.startsWith(QStringLiteral("203.0.113.")),
                 qPrintable(address));
    }
};

QTEST_GUILESS_MAIN(SimStationTest)
#include "SimStationTest.moc"
