// SPDX-License-Identifier: GPL-3.0-or-later
// The demo's choice of events.
#include "DemoPlan.h"

#include <QTest>

namespace {

struct Session {
    QStringList connected;
    bool transmitting = false;
    QString talker;
    QStringList chat;
    QStringList joined;
    int drops = 0;
    int keys = 0;
    int receives = 0;
    int maxConnected = 0;
    QList<int> delays;
    QStringList faults; // events that do not fit the state they were made for
};

bool anyOf(const QStringList& list, const std::function<bool(const QString&)>& test) {
    return std::any_of(list.begin(), list.end(), test);
}

bool isConference(const QString& c) {
    return c.startsWith(QLatin1Char('*')) && c != QLatin1String("*ECHOTEST*");
}

bool isPlainStation(const QString& c) {
    return !c.contains(QLatin1Char('-')) && !c.startsWith(QLatin1Char('*'));
}

// Plays steps on a model of the station and checks each against the state it was made for. A chat line
// comes from a connected station, or from a plain station heard through a connected conference. One voice at
// a time: a connected station is heard only while nobody else is and the transmitter is off.
Session play(DemoPlan& plan, int steps) {
    Session s;
    QStringList plainStations;
    for (const Peer& p : plan.directory()) {
        if (isPlainStation(p.callsign)) {
            plainStations << p.callsign;
        }
    }
    for (int i = 0; i < steps; ++i) {
        const DemoPlan::Step step = plan.next(s.connected, s.transmitting, s.talker);
        const SimCommand& c = step.command;
        s.delays << step.delayMs;
        switch (c.kind) {
        case SimCommand::Kind::Connect:
            if (s.connected.contains(c.callsign)) {
                s.faults << QStringLiteral("connect of %1, already connected").arg(c.callsign);
            }
            s.connected << c.callsign;
            s.joined << c.callsign;
            break;
        case SimCommand::Kind::Drop:
            if (s.connected.removeAll(c.callsign) != 1) {
                s.faults << QStringLiteral("drop of %1, not connected").arg(c.callsign);
            }
            if (c.callsign == s.talker) {
                s.talker.clear(); // the station ends the transmission
            }
            ++s.drops;
            break;
        case SimCommand::Kind::Chat: {
            const QString sender = c.text.section(QLatin1Char('>'), 0, 0);
            const bool viaConference = anyOf(s.connected, isConference) && plainStations.contains(sender);
            if (sender.isEmpty() || c.text.size() <= sender.size() + 1 || sender == QLatin1String("*ECHOTEST*") ||
                !(s.connected.contains(sender) || viaConference)) {
                s.faults << QStringLiteral("chat line %1").arg(c.text);
            }
            s.chat << c.text;
            break;
        }
        case SimCommand::Kind::Key:
            if (s.transmitting || !s.talker.isEmpty()) {
                s.faults << QStringLiteral("key while keyed or receiving");
            }
            s.transmitting = true;
            ++s.keys;
            break;
        case SimCommand::Kind::Unkey:
            s.transmitting = false;
            break;
        case SimCommand::Kind::Receive:
            if (s.transmitting || !s.talker.isEmpty() || !s.connected.contains(c.callsign) ||
                c.callsign == QLatin1String("*ECHOTEST*")) {
                s.faults << QStringLiteral("receive of %1").arg(c.callsign);
            }
            s.talker = c.callsign;
            ++s.receives;
            break;
        case SimCommand::Kind::Unreceive:
            if (s.talker.isEmpty()) {
                s.faults << QStringLiteral("unreceive of nobody");
            }
            s.talker.clear();
            break;
        default:
            s.faults << QStringLiteral("command of kind %1").arg(static_cast<int>(c.kind));
        }
        s.maxConnected = std::max(s.maxConnected, static_cast<int>(s.connected.size()));
    }
    return s;
}

} // namespace

class DemoPlanTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void longSession_bringsEveryKindOfStationAndOnlyValidEvents() {
        DemoPlan plan(1234, 1000);
        const Session s = play(plan, 2000);
        QVERIFY2(s.faults.isEmpty(), qPrintable(s.faults.join(QLatin1Char('\n'))));
        QVERIFY(s.drops > 0);
        QVERIFY(s.keys > 0);
        QVERIFY(s.receives > 0);
        QVERIFY(anyOf(s.joined, [](const QString& c) { return c.endsWith(QLatin1String("-L")); }));
        QVERIFY(anyOf(s.joined, [](const QString& c) { return c.endsWith(QLatin1String("-R")); }));
        QVERIFY(s.joined.contains(QStringLiteral("*ECHOTEST*")));
        QVERIFY(anyOf(s.joined, isConference));
        QVERIFY(anyOf(s.joined, isPlainStation));
        QVERIFY(anyOf(s.chat, [](const QString& t) { return t.contains(QLatin1String("/ver/")); }));
        // A lively but not crowded session.
        QVERIFY2(s.maxConnected <= 8, qPrintable(QString::number(s.maxConnected)));
        QVERIFY(s.chat.size() > 500);
        for (const Peer& p : plan.directory()) { // fictional: no real station's callsign
            QVERIFY2((p.callsign.startsWith(QLatin1Char('Q')) || p.callsign.startsWith(QLatin1Char('*'))) &&
                         !p.name.isEmpty(),
                     qPrintable(p.callsign));
        }
    }

    void sameSeed_playsTheSameSession_delaysVaryAroundThePace() {
        DemoPlan a(5, 2000);
        DemoPlan b(5, 2000);
        const Session s = play(a, 500);
        const Session again = play(b, 500);
        QCOMPARE(s.chat, again.chat);
        QCOMPARE(s.joined, again.joined);
        QCOMPARE(s.delays, again.delays);
        const int shortest = *std::min_element(s.delays.begin(), s.delays.end());
        const int longest = *std::max_element(s.delays.begin(), s.delays.end());
        QVERIFY2(shortest >= 800 && longest <= 3000, qPrintable(QStringLiteral("%1..%2").arg(shortest).arg(longest)));
        QVERIFY(longest - shortest > 1000);
    }
};

QTEST_GUILESS_MAIN(DemoPlanTest)
#include "DemoPlanTest.moc"
