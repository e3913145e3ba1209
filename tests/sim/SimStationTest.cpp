// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in station's state and behaviour, without a bus.
#include "EchoLinkBus.h"
#include "Station.h"

#include <QSignalSpy>
#include <QTest>

namespace {
QStringList firstArguments(const QSignalSpy& spy, const QString& prefix = {}) {
    QStringList out;
    for (const auto& args : spy) {
        out << prefix + args.at(0).toString();
    }
    return out;
}
} // namespace

class SimStationTest : public QObject {
    Q_OBJECT

private:
    QStringList log_;
    std::unique_ptr<Station> station_;

    // One line of the sim's command language, as its standard input gives it.
    void run(const QString& line) {
        QString error;
        const auto c = parseSimCommand(line, &error);
        QVERIFY2(c, qPrintable(error));
        if (c->kind == SimCommand::Kind::Close) {
            station_->close();
        } else {
            QVERIFY(station_->apply(*c));
        }
    }

private Q_SLOTS:
    void init() {
        log_.clear();
        station_ = std::make_unique<Station>(QStringLiteral("QA1TST"), [this](const QString& l) { log_ << l; });
        station_->setConnectDelayMs(10);
    }

    void connectRequest_isAcceptedAtOnceAndConnectsAMomentLater_once() {
        station_->addKnown(
            {{QStringLiteral("QC3LNB-R"), QStringLiteral("Lantern Bay repeater"), QStringLiteral("192.0.2.9")}});
        QSignalSpy connected(station_.get(), &Station::Connected);
        QVERIFY(station_->connectTo(QStringLiteral("qa2fnv-l"), -1).ok);
        QVERIFY(station_->connectTo(QStringLiteral("QA2FNV-L"), -1).ok); // asked twice: connects once
        QVERIFY(station_->connectTo(QStringLiteral("QC3LNB-R"), -1).ok);
        QVERIFY(!station_->isConnected(QStringLiteral("QA2FNV-L"))); // not yet: the other side answers later
        QTRY_COMPARE(connected.size(), 2);
        QCOMPARE(connected.at(0), (QVariantList{QStringLiteral("QA2FNV-L"), inventName(QStringLiteral("QA2FNV-L")),
                                                inventAddress(QStringLiteral("QA2FNV-L"))}));
        QCOMPARE(connected.at(1), (QVariantList{QStringLiteral("QC3LNB-R"), QStringLiteral("Lantern Bay repeater"),
                                                QStringLiteral("192.0.2.9")}));
        QVERIFY(station_->isConnected(QStringLiteral("qa2fnv-l")));
        QVERIFY(std::any_of(log_.begin(), log_.end(),
                            [](const QString& l) { return l.startsWith(QStringLiteral("< Connected QA2FNV-L \"")); }));
        QVERIFY(station_->connectTo(QStringLiteral("QA2FNV-L"), -1).ok);
        QTest::qWait(50);
        QCOMPARE(connected.size(), 2);
        QCOMPARE(station_->connectedCount(), 2);
    }

    void disconnectBeforeTheAnswer_cancelsTheConnection() {
        QSignalSpy connected(station_.get(), &Station::Connected);
        QVERIFY(station_->connectTo(QStringLiteral("QA5CXL"), -1).ok);
        QVERIFY(station_->disconnect(QStringLiteral("QA5CXL")).ok);
        QTest::qWait(50);
        QCOMPARE(connected.size(), 0);
        QVERIFY(!station_->isConnected(QStringLiteral("QA5CXL")));
    }

    void badRequests_getTheirErrorNames() {
        QCOMPARE(station_->connectTo(QStringLiteral("  "), -1).errorName,
                 QLatin1String(EchoLinkBus::ErrorInvalidArgument));
        QCOMPARE(station_->connectTo(QStringLiteral("QA1 QA2"), -1).errorName,
                 QLatin1String(EchoLinkBus::ErrorInvalidArgument));
        QCOMPARE(station_->disconnect(QStringLiteral("QA9NON")).errorName,
                 QLatin1String(EchoLinkBus::ErrorNotConnected));

        run(QStringLiteral("refuse QA1BAD"));
        const StationReply refused = station_->connectTo(QStringLiteral("qa1bad"), -1);
        QVERIFY(!refused.ok);
        QCOMPARE(refused.errorName, QLatin1String(EchoLinkBus::ErrorRefused));
        QVERIFY(refused.message.contains(QStringLiteral("QA1BAD")));
        run(QStringLiteral("accept QA1BAD"));
        QVERIFY(station_->connectTo(QStringLiteral("QA1BAD"), -1).ok);
    }

    void stationCommands_changeStateAndSendEvents_disconnectAllInArrivalOrder() {
        QSignalSpy connected(station_.get(), &Station::Connected);
        QSignalSpy disconnected(station_.get(), &Station::Disconnected);
        QSignalSpy chat(station_.get(), &Station::ChatTextReceived);
        run(QStringLiteral("connect QA1BRK Home"));
        run(QStringLiteral("connect QA1BRK")); // already there: no event
        run(QStringLiteral("chat QA1BRK>a\\rb"));
        run(QStringLiteral("drop QA1BRK"));
        run(QStringLiteral("drop QA1BRK")); // gone: no event
        QCOMPARE(connected.size(), 1);
        QCOMPARE(connected.at(0).at(1).toString(), QStringLiteral("Home"));
        QCOMPARE(firstArguments(chat), QStringList{QStringLiteral("QA1BRK>a\rb")});
        QCOMPARE(disconnected.size(), 1);
        QVERIFY(log_.contains(QStringLiteral("< ChatTextReceived QA1BRK>a\\rb")));

        run(QStringLiteral("key"));
        QVERIFY(station_->isTransmitting());
        run(QStringLiteral("unkey"));
        QVERIFY(!station_->isTransmitting());

        for (const char* call : {"QB1", "*NET*", "QB3-L"}) {
            run(QStringLiteral("connect ") + QLatin1String(call));
        }
        disconnected.clear();
        QVERIFY(station_->disconnectAll().ok);
        QCOMPARE(firstArguments(disconnected),
                 (QStringList{QStringLiteral("QB1"), QStringLiteral("*NET*"), QStringLiteral("QB3-L")}));
        QCOMPARE(station_->connectedCount(), 0);
    }

    // Events as "Signal args", from the signals and from the "< " lines of the log alike.
    void receiving_startsEndsAndEndsBeforeItsStationGoes_data() {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("talker");
        auto row = [](const char* name, const QStringList& commands, const QStringList& events, const char* talker) {
            QTest::newRow(name) << commands << events << QString::fromLatin1(talker);
        };
        row("receive then unreceive", {QStringLiteral("receive qa1brk"), QStringLiteral("unreceive")},
            {QStringLiteral("ReceivingChanged true QA1BRK"), QStringLiteral("ReceivingChanged false QA1BRK")}, "");
        row("another call ends the first", {QStringLiteral("receive QA1"), QStringLiteral("receive QA2")},
            {QStringLiteral("ReceivingChanged true QA1"), QStringLiteral("ReceivingChanged false QA1"),
             QStringLiteral("ReceivingChanged true QA2")},
            "QA2");
        row("the same call again sends nothing", {QStringLiteral("receive QA1"), QStringLiteral("receive qa1")},
            {QStringLiteral("ReceivingChanged true QA1")}, "QA1");
        row("unreceive of nobody sends nothing", {QStringLiteral("unreceive")}, {}, "");
        row("drop of the talker ends it first, of another not",
            {QStringLiteral("connect QA1"), QStringLiteral("connect QA2"), QStringLiteral("receive QA1"),
             QStringLiteral("drop QA2"), QStringLiteral("drop QA1")},
            {QStringLiteral("ReceivingChanged true QA1"), QStringLiteral("Disconnected QA2"),
             QStringLiteral("ReceivingChanged false QA1"), QStringLiteral("Disconnected QA1")},
            "");
        row("drop-all ends it before any drop",
            {QStringLiteral("connect QA1"), QStringLiteral("connect QA2"), QStringLiteral("receive QA2"),
             QStringLiteral("drop-all")},
            {QStringLiteral("ReceivingChanged true QA2"), QStringLiteral("ReceivingChanged false QA2"),
             QStringLiteral("Disconnected QA1"), QStringLiteral("Disconnected QA2")},
            "");
        row("drop-all ends a talker who is no peer", {QStringLiteral("receive QA9"), QStringLiteral("drop-all")},
            {QStringLiteral("ReceivingChanged true QA9"), QStringLiteral("ReceivingChanged false QA9")}, "");
        row("close ends it before Closing", {QStringLiteral("receive QA1"), QStringLiteral("close")},
            {QStringLiteral("ReceivingChanged true QA1"), QStringLiteral("ReceivingChanged false QA1"),
             QStringLiteral("Closing")},
            "");
    }
    void receiving_startsEndsAndEndsBeforeItsStationGoes() {
        QFETCH(QStringList, commands);
        QFETCH(QStringList, events);
        QFETCH(QString, talker);
        QStringList sent;
        connect(station_.get(), &Station::ReceivingChanged, this, [&](bool on, const QString& call) {
            sent << QStringLiteral("ReceivingChanged %1 %2").arg(QLatin1String(on ? "true" : "false"), call);
        });
        connect(station_.get(), &Station::Disconnected, this,
                [&](const QString& call) { sent << QStringLiteral("Disconnected ") + call; });
        connect(station_.get(), &Station::Closing, this, [&] { sent << QStringLiteral("Closing"); });
        for (const QString& line : commands) {
            run(line);
        }
        QCOMPARE(sent, events);
        QStringList logged;
        for (const QString& line : std::as_const(log_)) {
            if (line.startsWith(QLatin1String("< ")) && !line.startsWith(QLatin1String("< Connected"))) {
                logged << line.mid(2);
            }
        }
        QCOMPARE(logged, events);
        QCOMPARE(station_->talker(), talker);
        QCOMPARE(station_->isReceiving(), !talker.isEmpty());
    }

    void disconnectRequest_ofTheTalker_endsTheTransmissionFirst() {
        run(QStringLiteral("connect QA1BRK"));
        run(QStringLiteral("receive QA1BRK"));
        QSignalSpy receiving(station_.get(), &Station::ReceivingChanged);
        QVERIFY(station_->disconnect(QStringLiteral("qa1brk")).ok);
        QCOMPARE(receiving.size(), 1);
        QCOMPARE(receiving.at(0), (QVariantList{false, QStringLiteral("QA1BRK")}));
        QCOMPARE(log_.mid(log_.size() - 2), (QStringList{QStringLiteral("< ReceivingChanged false QA1BRK"),
                                                         QStringLiteral("< Disconnected QA1BRK")}));
    }

    void burst_sendsNumberedTexts_andSumsUpWhenAllRepliesCame_data() {
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<QString>("summaryEnd");
        QTest::newRow("in order") << QStringList{QStringLiteral("re: #1"), QStringLiteral("re: #2"),
                                                 QStringLiteral("re: #3")}
                                  << " lost=0 numbered=3 out_of_order=0";
        QTest::newRow("out of order and one unnumbered")
            << QStringList{QStringLiteral("x #2"), QStringLiteral("x #1"), QStringLiteral("Parlevox  v1.2"),
                           QStringLiteral("x #3")}
            << " lost=0 numbered=3 out_of_order=1";
    }
    void burst_sendsNumberedTexts_andSumsUpWhenAllRepliesCame() {
        QFETCH(QStringList, replies);
        QFETCH(QString, summaryEnd);
        QSignalSpy chat(station_.get(), &Station::ChatTextReceived);
        const auto count = static_cast<int>(replies.size());
        run(QStringLiteral("burst %1 QA1BRK>/ver/").arg(count));
        QCOMPARE(chat.size(), count);
        QCOMPARE(chat.at(0).at(0).toString(), QStringLiteral("QA1BRK>/ver/ #1"));
        QCOMPARE(chat.last().at(0).toString(), QStringLiteral("QA1BRK>/ver/ #%1").arg(count));
        for (const QString& reply : replies) {
            QVERIFY(station_->countingReplies());
            QVERIFY(station_->sendChatText(reply).ok);
        }
        QVERIFY(!station_->countingReplies());
        const QString summary = log_.last();
        QVERIFY2(summary.startsWith(QStringLiteral("# burst done: sent=%1 ").arg(count)) &&
                     summary.contains(QStringLiteral(" replies=%1 ").arg(count)) && summary.endsWith(summaryEnd),
                 qPrintable(summary));
    }

    void burst_withMissingReplies_sumsUpAfterTheTimeOut() {
        station_->setBurstTimeoutMs(50);
        run(QStringLiteral("burst 5 A>/ver/"));
        station_->sendChatText(QStringLiteral("x #1"));
        QTRY_VERIFY(!station_->countingReplies());
        QVERIFY2(log_.last().contains(QStringLiteral(" replies=1 ")) &&
                     log_.last().contains(QStringLiteral(" lost=4 ")),
                 qPrintable(log_.last()));
        // Later replies are ordinary requests again.
        const qsizetype lines = log_.size();
        station_->sendChatText(QStringLiteral("x #2"));
        QCOMPARE(log_.size(), lines);
    }

    void storm_connectsThenDropsEveryStationOnce_andLogsOneLine() {
        run(QStringLiteral("connect QS2"));
        QSignalSpy connected(station_.get(), &Station::Connected);
        QSignalSpy disconnected(station_.get(), &Station::Disconnected);
        const qsizetype lines = log_.size();
        run(QStringLiteral("storm 3"));
        // QS2 was on before the storm and stays.
        QCOMPARE(firstArguments(connected, QStringLiteral("+")) + firstArguments(disconnected, QStringLiteral("-")),
                 QStringList(
                     {QStringLiteral("+QS1"), QStringLiteral("+QS3"), QStringLiteral("-QS1"), QStringLiteral("-QS3")}));
        QCOMPARE(station_->connectedCount(), 1);
        QCOMPARE(log_.size(), lines + 1);
        QVERIFY2(log_.last().startsWith(QStringLiteral("# storm done: connects=2 drops=2 ")), qPrintable(log_.last()));
    }

    void inventedNamesAndAddresses_fitTheKindAndStayTheSame() {
        QCOMPARE(inventName(QStringLiteral("*ECHOTEST*")), QStringLiteral("ECHOTEST conference"));
        QVERIFY(inventName(QStringLiteral("QA1XYZ-L")).endsWith(QStringLiteral("link")));
        QVERIFY(inventName(QStringLiteral("QA1XYZ-R")).endsWith(QStringLiteral("repeater")));
        QVERIFY(inventName(QStringLiteral("QA1XYZ")).startsWith(QStringLiteral("Operator in ")));
        const QString address = inventAddress(QStringLiteral("QA1XYZ"));
        QCOMPARE(inventAddress(QStringLiteral("QA1XYZ")), address);
        QVERIFY2(address.startsWith(QStringLiteral("192.0.2.")) || address.startsWith(QStringLiteral("198.51.100.")) ||
                     address.startsWith(QStringLiteral("203.0.113.")),
                 qPrintable(address));
    }
};

QTEST_GUILESS_MAIN(SimStationTest)
#include "SimStationTest.moc"
