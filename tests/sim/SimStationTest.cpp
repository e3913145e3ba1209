// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in station: its command language (every kind of hostile line), its state and events, the demo plan.
#include "DataRow.h"
#include "DemoPlan.h"
#include "Station.h"
#include "platform/EchoLinkBus.h"

#include <QRegularExpression>

using Kind = SimCommand::Kind;
Q_DECLARE_METATYPE(Kind)

namespace {
struct Session {
    QStringList log, faults; // faults: events that do not fit the state they were made for
    QString kinds;
    QList<int> delays;
    int maxConnected = 0;
};
bool isConference(const QString& c) {
    return c.startsWith(u'*') && c != QStringLiteral("*ECHOTEST*");
}
bool matches(const QString& text, const char* pattern) {
    return text.contains(QRegularExpression(QString::fromLatin1(pattern)));
}

// Plays steps on a station, as the demo does. A chat line comes from a connected station, or from a plain station
// heard through a connected conference; one voice at a time, never while transmitting.
Session play(DemoPlan& plan, int steps) {
    Session s;
    Station station(QStringLiteral("QA1TST"), [&s](const QString& line) { s.log << line; });
    for (int i = 0; i < steps; ++i) {
        QStringList connected;
        for (const Peer& p : station.peers()) {
            connected << p.callsign;
        }
        const QString talker = station.talker();
        const DemoPlan::Step step = plan.next(connected, station.isTransmitting(), talker);
        const SimCommand& c = step.command;
        const QString sender = c.text.section(u'>', 0, 0);
        const bool busy = station.isTransmitting() || !talker.isEmpty();
        const bool fits[] = {
            c.kind == Kind::Connect && !connected.contains(c.callsign),
            c.kind == Kind::Drop && connected.contains(c.callsign),
            c.kind == Kind::Chat && c.text.size() > sender.size() + 1 && sender != QStringLiteral("*ECHOTEST*") &&
                (connected.contains(sender) ||
                 (std::any_of(connected.begin(), connected.end(), isConference) && matches(sender, "^Q[A-Z0-9]+$"))),
            c.kind == Kind::Key && !busy,
            c.kind == Kind::Unkey,
            c.kind == Kind::Receive && !busy && connected.contains(c.callsign) &&
                c.callsign != QStringLiteral("*ECHOTEST*"),
            c.kind == Kind::Unreceive && !talker.isEmpty()};
        if (std::none_of(std::begin(fits), std::end(fits), [](bool f) { return f; })) {
            s.faults << QStringLiteral("%1 %2 %3").arg(int(c.kind)).arg(c.callsign, c.text);
        }
        s.kinds += QChar(u'0' + int(c.kind));
        s.delays << step.delayMs;
        station.apply(c);
        s.maxConnected = std::max(s.maxConnected, station.connectedCount());
    }
    return s;
}
} // namespace

class SimStationTest : public QObject {
    Q_OBJECT
    QStringList log_, events_; // events_: "Connected QA1", "Receiving true QA1", "Chat text", "Closing" ...
    std::unique_ptr<Station> station_;

    void run(const QString& lines) {
        for (const QString& line : lines.split(u';')) {
            const auto c = parseSimCommand(line, nullptr);
            QVERIFY2(c && (c->kind == Kind::Close ? (station_->close(), true) : station_->apply(*c)), qPrintable(line));
        }
    }
    // The last line of the log without its timings, for the summaries of storms and bursts.
    QString summary() const {
        return QString(log_.last()).remove(QRegularExpression(QStringLiteral(" (\\w+_)?(ms|second)=\\S+")));
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
        connect(station_.get(), &Station::ReceivingChanged, this, [this](bool on, const QString& c) {
            events_ << QStringLiteral("Receiving %1 %2").arg(QVariant(on).toString(), c);
        });
        connect(station_.get(), &Station::ChatTextReceived, this,
                [this](const QString& t) { events_ << QStringLiteral("Chat ") + t; });
        connect(station_.get(), &Station::Closing, this, [this] { events_ << QStringLiteral("Closing"); });
    }

    // Commands of standard input, joined by ";", and the events they send, joined by "|".
    void commands_data() {
        columns<QString, QString>("commands", "events");
        row("connect and drop once", "connect QA1 Home;connect QA1;chat QA1>a\\rb;drop QA1;drop QA1",
            "Connected QA1|Chat QA1>a\rb|Disconnected QA1");
        row("drop-all in arrival order", "connect QB1;connect *NET*;connect QB3-L;drop-all",
            "Connected QB1|Connected *NET*|Connected QB3-L|Disconnected QB1|Disconnected *NET*|Disconnected QB3-L");
        row("unreceive of nobody, same call again, another ends it", "unreceive;receive QA1;receive qa1;receive QA2",
            "Receiving true QA1|Receiving false QA1|Receiving true QA2");
        row("drop of the talker ends it first", "connect QA1;connect QA2;receive QA1;drop QA2;drop QA1",
            "Connected QA1|Connected QA2|Receiving true QA1|Disconnected QA2|Receiving false QA1|Disconnected QA1");
        row("drop-all ends a talker who is no peer", "receive QA9;drop-all", "Receiving true QA9|Receiving false QA9");
        row("close ends it before Closing", "receive QA1;close", "Receiving true QA1|Receiving false QA1|Closing");
    }
    void commands() {
        QFETCH(QString, commands);
        run(commands);
        QTEST(events_.join(u'|'), "events");
        // The log writes each event but Connected and Chat as a "< " line too.
        const QRegularExpression logged(QStringLiteral("^< (Disc|Rec|Clo)")), sent(QStringLiteral("^(Disc|Rec|Clo)"));
        QCOMPARE(log_.filter(logged).join(u'|').remove(QStringLiteral("< ")).remove(QStringLiteral("Changed")),
                 events_.filter(sent).join(u'|'));
    }

    // Accepted at once, connected a moment later and once, known names used, others made up for the kind (links and
    // plain stations: DBusEchoLinkClientTest); a disconnect before then cancels it. Bad requests get their error names.
    void requests_connectLaterOnce_orFailByName() {
        station_->addKnown({{QStringLiteral("QC3-R"), QStringLiteral("Bay repeater"), QStringLiteral("192.0.2.9")}});
        for (const char* call : {"qa2-l", "QA2-L", "QC3-R", "QA5"}) {
            QVERIFY(station_->connectTo(QString::fromLatin1(call), -1).ok);
        }
        QVERIFY(station_->disconnect(QStringLiteral("QA5")).ok && !station_->isConnected(QStringLiteral("QA2-L")));
        QTest::qWait(100);
        QCOMPARE(events_, (QStringList{QStringLiteral("Connected QA2-L"), QStringLiteral("Connected QC3-R")}));
        QCOMPARE(log_.last(), QStringLiteral("< Connected QC3-R \"Bay repeater\" 192.0.2.9"));
        QCOMPARE(inventName(QStringLiteral("*ECHOTEST*")), QStringLiteral("ECHOTEST conference"));
        QVERIFY(inventName(QStringLiteral("QA1-R")).endsWith(QStringLiteral(" repeater")));
        QVERIFY(station_->isConnected(QStringLiteral("qa2-l")) && station_->connectedCount() == 2);
        QCOMPARE(station_->connectTo(QStringLiteral("QA1 QA2"), -1).errorName,
                 QLatin1String(EchoLinkBus::ErrorInvalidArgument));
        QCOMPARE(station_->disconnect(QStringLiteral("QA9")).errorName, QLatin1String(EchoLinkBus::ErrorNotConnected));
        run(QStringLiteral("refuse QA1BAD"));
        QCOMPARE(station_->connectTo(QStringLiteral("qa1bad"), -1).errorName, QLatin1String(EchoLinkBus::ErrorRefused));
        run(QStringLiteral("accept QA1BAD"));
        QVERIFY(station_->connectTo(QStringLiteral("QA1BAD"), -1).ok);
    }

    // A storm leaves who was there. A burst's numbered texts are summed up when every reply came (counting the
    // unnumbered, noting order) or at the time-out.
    void stormAndBurst_sumUp() {
        run(QStringLiteral("connect QS2;storm 3"));
        QCOMPARE(events_.join(u'|'),
                 QStringLiteral("Connected QS2|Connected QS1|Connected QS3|Disconnected QS1|Disconnected QS3"));
        QCOMPARE(summary(), QStringLiteral("# storm done: connects=2 drops=2"));
        station_->setBurstTimeoutMs(100);
        run(QStringLiteral("burst 4 QA1>/ver/"));
        QCOMPARE(events_.last(), QStringLiteral("Chat QA1>/ver/ #4"));
        for (const char* reply : {"x #2", "x #1", "Parlevox  v1.2", "x #3"}) {
            QVERIFY(station_->countingReplies());
            station_->sendChatText(QString::fromLatin1(reply));
        }
        QCOMPARE(summary(), QStringLiteral("# burst done: sent=4 replies=4 lost=0 numbered=3 out_of_order=1"));
        run(QStringLiteral("burst 5 A>/ver/"));
        station_->sendChatText(QStringLiteral("x #1"));
        QTRY_VERIFY(!station_->countingReplies());
        QCOMPARE(summary(), QStringLiteral("# burst done: sent=5 replies=1 lost=4 numbered=1 out_of_order=0"));
    }

    // A line of standard input and what it gives; number is ms for pause, count for burst and storm.
    void accepted_data() {
        columns<QString, Kind, QString, QString, int>("line", "kind", "callsign", "text", "number");
        row("chat keeps text and spaces", "chat  QA1>hi  there ", Kind::Chat, "", " QA1>hi  there ", 0);
        row("connect in capitals with name", "connect qa2-l  Fern 2 m ", Kind::Connect, "QA2-L", "Fern 2 m", 0);
        row("pause", "pause 250", Kind::Pause, "", "", 250);
        row("burst keeps text exactly", "burst 10000 QA1>/ver/  x\\t", Kind::Burst, "", "QA1>/ver/  x\t", 10000);
        row("word in capitals after spaces", "  CLOSE", Kind::Close, "", "", 0);
        row("comment", "   # connect QA1", Kind::None, "", "", 0);
        // Any text as the log writes it comes back; a line break left unescaped would be lost here.
        QString all = QStringLiteral("\\r é ✓");
        for (char16_t u = 0; u < 0x90; ++u) {
            all += QChar(u);
        }
        row("escaped", QStringLiteral("chat ") + escapeText(all).remove(u'\n').remove(u'\r'), Kind::Chat, "", all, 0);
    }
    void accepted() {
        QFETCH(QString, line);
        QString error;
        const auto c = parseSimCommand(line, &error);
        QVERIFY2(c.has_value(), qPrintable(error));
        QTEST(c->kind, "kind");
        QTEST(c->callsign, "callsign");
        QTEST(c->text, "text");
        QTEST(c->kind == Kind::Pause ? c->ms : c->count, "number");
    }

    // Each error names what is wrong, or the cure.
    void refused_data() {
        columns<QString, QString>("line", "reason");
        row("unknown escape", "chat a\\q", "\\\\");
        row("trailing backslash", "chat ends in \\", "backslash");
        row("short hex", "chat \\x4", "hex");
        row("bad hex", "chat \\xzz", "hex");
        row("drop without callsign", "drop", "missing");
        row("markup callsign", "connect QA<1>", "not a callsign");
        row("argument to a bare word", "unreceive QA1", "no argument");
        row("negative pause", "pause -5", "milliseconds");
        row("pause with unit", "pause 1s", "milliseconds");
        for (const char* line : {"storm", "storm 0", "storm 1000001", "burst  5 A>hi"}) {
            row(line, line, "count");
        }
        row("unknown word", "shout hello", "unknown command \"shout\"");
    }
    void refused() {
        QFETCH(QString, line);
        QString error;
        QVERIFY(!parseSimCommand(line, &error).has_value());
        QFETCH(QString, reason);
        QVERIFY2(error.contains(reason), qPrintable(error));
    }

    void longSession_bringsEveryKindOfStationAndEventAndOnlyFittingOnes_sameSeedSameSession() {
        DemoPlan plan(1234, 1000), again(1234, 1000);
        const Session s = play(plan, 2000);
        QVERIFY2(s.faults.isEmpty(), qPrintable(s.faults.join(u'\n')));
        for (const Kind k : {Kind::Drop, Kind::Key, Kind::Receive, Kind::Unreceive}) {
            QVERIFY(s.kinds.contains(QChar(u'0' + int(k))));
        }
        for (const char* line :
             {"^< Connected \\S+-L ", "^< Connected \\S+-R ", "^< Connected \\*ECHOTEST\\* ",
              "^< Connected \\*[A-Z]+\\* ", "^< Connected Q[A-Z0-9]+ ", "^< ChatTextReceived .*/ver/"}) {
            QVERIFY2(!s.log.filter(QRegularExpression(QString::fromLatin1(line))).isEmpty(), line);
        }
        QVERIFY(s.log.filter(QStringLiteral("< ChatTextReceived ")).size() > 500 && s.maxConnected <= 8);
        for (const Peer& p : plan.directory()) { // fictional: no real station's callsign
            QVERIFY2(matches(p.callsign, "^[Q*]") && !p.name.isEmpty(), qPrintable(p.callsign));
        }
        const auto [shortest, longest] = std::minmax_element(s.delays.begin(), s.delays.end());
        QVERIFY2(*shortest >= 400 && *longest <= 1500 && *longest - *shortest > 500,
                 qPrintable(QStringLiteral("%1..%2").arg(*shortest).arg(*longest)));
        const Session same = play(again, 2000);
        QVERIFY(s.log == same.log && s.delays == same.delays);
    }
};

QTEST_GUILESS_MAIN(SimStationTest)
#include "SimStationTest.moc"
