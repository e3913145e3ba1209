// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "platform/EchoLinkBus.h"
#include "Station.h"

#include <QSignalSpy>
#include <QTest>

class SimStationTest : public QObject {
    Q_OBJECT
    QStringList log_;
    QStringList events_; // "Connected QA1", "Disconnected QA1", "Receiving true QA1", "Chat text", "Closing"
    std::unique_ptr<Station> station_;

    void run(const QString& lines) {
        for (const QString& line : lines.split(u';')) {
            const auto c = parseSimCommand(line, nullptr);
            QVERIFY2(c && (c->kind == SimCommand::Kind::Close ? (station_->close(), true) : station_->apply(*c)),
                     qPrintable(line));
        }
    }

private Q_SLOTS:
    void init() {
        log_.clear();
        events_.clear();
        station_ = std::make_unique<Station>(QStringLiteral("QA1TST"), [this](const QString& l) { log_ << l; });
        station_->setConnectDelayMs(10);
        connect(station_.get(), &Station::Connected, this,
                [this](const QString& c) { events_ << QStringLiteral("Connected ") + c; });
        connect(station_.get(), &Station::Disconnected, this,
                [this](const QString& c) { events_ << QStringLiteral("Disconnected ") + c; });
        connect(station_.get(), &Station::ReceivingChanged, this,
                [this](bool on, const QString& c) { events_ << QStringLiteral("Receiving %1 %2").arg(on).arg(c); });
        connect(station_.get(), &Station::ChatTextReceived, this,
                [this](const QString& t) { events_ << QStringLiteral("Chat ") + t; });
        connect(station_.get(), &Station::Closing, this, [this] { events_ << QStringLiteral("Closing"); });
    }

    // Commands of standard input, joined by ";", and the events they send, joined by "|"; the log's "< " lines agree.
    void commands_data() {
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("talker");
        row("connect and drop once", "connect QA1 Home;connect QA1;chat QA1>a\\rb;drop QA1;drop QA1",
            "Connected QA1|Chat QA1>a\rb|Disconnected QA1", "");
        row("drop-all in arrival order", "connect QB1;connect *NET*;connect QB3-L;drop-all",
            "Connected QB1|Connected *NET*|Connected QB3-L|Disconnected QB1|Disconnected *NET*|Disconnected QB3-L", "");
        row("another call ends the first", "receive qa1;receive QA2", "Receiving 1 QA1|Receiving 0 QA1|Receiving 1 QA2",
            "QA2");
        row("same call again, unreceive of nobody", "unreceive;receive QA1;receive qa1", "Receiving 1 QA1", "QA1");
        row("drop of the talker ends it first", "connect QA1;connect QA2;receive QA1;drop QA2;drop QA1",
            "Connected QA1|Connected QA2|Receiving 1 QA1|Disconnected QA2|Receiving 0 QA1|Disconnected QA1", "");
        row("drop-all ends a talker who is no peer", "receive QA9;drop-all", "Receiving 1 QA9|Receiving 0 QA9", "");
        row("close ends it before Closing", "receive QA1;close", "Receiving 1 QA1|Receiving 0 QA1|Closing", "");
        row("storm leaves who was there", "connect QS2;storm 3",
            "Connected QS2|Connected QS1|Connected QS3|Disconnected QS1|Disconnected QS3", "");
    }
    void commands() {
        QFETCH(QString, commands);
        run(commands);
        QTEST(events_.join(u'|'), "events");
        QTEST(station_->talker(), "talker");
        QCOMPARE(station_->isReceiving(), !station_->talker().isEmpty());
        // The log writes each event but Connected as "< " lines; a storm writes one line for all of it.
        const QRegularExpression logged(QStringLiteral("^< (Disc|Rec|Clo)")),
            written(QStringLiteral("^(Disc|Rec|Clo)"));
        QString fromLog = log_.filter(logged).join(u'|').remove(QStringLiteral("< ")).remove(QStringLiteral("Changed"));
        QCOMPARE(fromLog.replace(QStringLiteral(" true "), QStringLiteral(" 1 "))
                     .replace(QStringLiteral(" false "), QStringLiteral(" 0 ")),
                 commands.contains(QStringLiteral("storm")) ? QString() : events_.filter(written).join(u'|'));
        QVERIFY(!commands.contains(QStringLiteral("storm")) ||
                log_.last().startsWith(QStringLiteral("# storm done: connects=2 drops=2 ")));
    }

    // Accepted at once, connected a moment later and once; a disconnect before then cancels it.
    void connectRequest_connectsLaterOnce_orNeverWhenCancelled() {
        station_->addKnown({{QStringLiteral("QC3-R"), QStringLiteral("Bay repeater"), QStringLiteral("192.0.2.9")}});
        for (const char* call : {"qa2-l", "QA2-L", "QC3-R", "QA5"}) {
            QVERIFY(station_->connectTo(QString::fromLatin1(call), -1).ok);
        }
        QVERIFY(station_->disconnect(QStringLiteral("QA5")).ok && !station_->isConnected(QStringLiteral("QA2-L")));
        QSignalSpy connected(station_.get(), &Station::Connected);
        QTest::qWait(100);
        QCOMPARE(connected.size(), 2);
        QCOMPARE(connected.at(0), (QVariantList{QStringLiteral("QA2-L"), inventName(QStringLiteral("QA2-L")),
                                                inventAddress(QStringLiteral("QA2-L"))}));
        QCOMPARE(connected.at(1),
                 (QVariantList{QStringLiteral("QC3-R"), QStringLiteral("Bay repeater"), QStringLiteral("192.0.2.9")}));
        QVERIFY(station_->isConnected(QStringLiteral("qa2-l")) && station_->connectedCount() == 2);
    }

    void badRequests_getTheirErrorNames() {
        QCOMPARE(station_->connectTo(QStringLiteral("QA1 QA2"), -1).errorName,
                 QLatin1String(EchoLinkBus::ErrorInvalidArgument));
        QCOMPARE(station_->disconnect(QStringLiteral("QA9")).errorName, QLatin1String(EchoLinkBus::ErrorNotConnected));
        run(QStringLiteral("refuse QA1BAD"));
        QCOMPARE(station_->connectTo(QStringLiteral("qa1bad"), -1).errorName, QLatin1String(EchoLinkBus::ErrorRefused));
        run(QStringLiteral("accept QA1BAD"));
        QVERIFY(station_->connectTo(QStringLiteral("QA1BAD"), -1).ok);
    }

    // Numbered texts, summed up when every reply came (counting the unnumbered, noting order) or at the time-out.
    void burst_sumsUpReplies() {
        station_->setBurstTimeoutMs(100);
        run(QStringLiteral("burst 4 QA1>/ver/"));
        QCOMPARE(events_.last(), QStringLiteral("Chat QA1>/ver/ #4"));
        for (const char* reply : {"x #2", "x #1", "Parlevox  v1.2", "x #3"}) {
            QVERIFY(station_->countingReplies() && station_->sendChatText(QString::fromLatin1(reply)).ok);
        }
        QVERIFY2(log_.last().startsWith(QStringLiteral("# burst done: sent=4 ")) &&
                     log_.last().contains(QStringLiteral(" replies=4 ")) &&
                     log_.last().endsWith(QStringLiteral(" lost=0 numbered=3 out_of_order=1")),
                 qPrintable(log_.last()));
        run(QStringLiteral("burst 5 A>/ver/"));
        station_->sendChatText(QStringLiteral("x #1"));
        QTRY_VERIFY(!station_->countingReplies());
        QVERIFY2(log_.last().contains(QStringLiteral(" replies=1 ")) &&
                     log_.last().contains(QStringLiteral(" lost=4 ")),
                 qPrintable(log_.last()));
    }

    void inventedNamesAndAddresses_fitTheKindAndAreDocumentationAddresses() {
        QCOMPARE(inventName(QStringLiteral("*ECHOTEST*")), QStringLiteral("ECHOTEST conference"));
        QVERIFY(inventName(QStringLiteral("QA1-L")).endsWith(QStringLiteral("link")) &&
                inventName(QStringLiteral("QA1-R")).endsWith(QStringLiteral("repeater")));
        QVERIFY(inventName(QStringLiteral("QA1")).startsWith(QStringLiteral("Operator in ")));
        QVERIFY(QRegularExpression(QStringLiteral("^(192\\.0\\.2|198\\.51\\.100|203\\.0\\.113)\\."))
                    .match(inventAddress(QStringLiteral("QA1")))
                    .hasMatch());
    }
};

QTEST_GUILESS_MAIN(SimStationTest)
#include "SimStationTest.moc"
