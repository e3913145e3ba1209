// SPDX-License-Identifier: GPL-3.0-or-later
// The demo's choice of events.
#include "DemoPlan.h"

#include <QTest>

namespace {

struct Session {
    QStringList connected;
    bool transmitting = false;
    QStringList chat;
    QStringList joined;
    int drops = 0;
    int keys = 0;
    int maxConnected = 0;
    QList<int> delays;
    QStringList faults; // events that do not fit the state they were made for
};

// Plays steps on a model of the station and checks each against the state it was made for.
Session play(DemoPlan& plan, int steps) {
    Session s;
    for (int i = 0; i < steps; ++i) {
        const DemoPlan::Step step = plan.next(s.connected, s.transmitting);
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
            ++s.drops;
            break;
        case SimCommand::Kind::Chat:
            s.chat << c.text;
            break;
        case SimCommand::Kind::Key:
            if (s.transmitting) {
                s.faults << QStringLiteral("key while keyed");
            }
            s.transmitting = true;
            ++s.keys;
            break;
        case SimCommand::Kind::Unkey:
            s.transmitting = false;
            break;
        default:
            s.faults << QStringLiteral("command of kind %1").arg(static_cast<int>(c.kind));
        }
        s.maxConnected = std::max(s.maxConnected, static_cast<int>(s.connected.size()));
    }
    return s;
}

bool anyOf(const QStringList& list, const std::function<bool(const QString&)>& test) {
    return std::any_of(list.begin(), list.end(), test);
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
        QVERIFY(anyOf(s.joined, [](const QString& c) { return c.endsWith(QLatin1String("-L")); }));
        QVERIFY(anyOf(s.joined, [](const QString& c) { return c.endsWith(QLatin1String("-R")); }));
        QVERIFY(s.joined.contains(QStringLiteral("*ECHOTEST*")));
        QVERIFY(anyOf(s.joined, [](const QString& c) {
            return c.startsWith(QLatin1Char('*')) && c != QLatin1String("*ECHOTEST*");
        }));
        QVERIFY(anyOf(s.joined, [](const QString& c) {
            return !c.contains(QLatin1Char('-')) && !c.startsWith(QLatin1Char('*'));
        }));
        QVERIFY(anyOf(s.chat, [](const QString& t) { return t.contains(QLatin1String("/ver/")); }));
        // A lively but not crowded session.
        QVERIFY2(s.maxConnected <= 8, qPrintable(QString::number(s.maxConnected)));
    }

    void chatLines_comeFromAConnectedStationOrAConferenceMember() {
        DemoPlan plan(99, 1000);
        QStringList connected;
        bool transmitting = false;
        QStringList plainStations;
        for (const Peer& p : plan.directory()) {
            if (!p.callsign.contains(QLatin1Char('-')) && !p.callsign.startsWith(QLatin1Char('*'))) {
                plainStations << p.callsign;
            }
        }
        int lines = 0;
        for (int i = 0; i < 2000; ++i) {
            const DemoPlan::Step step = plan.next(connected, transmitting);
            const SimCommand& c = step.command;
            if (c.kind == SimCommand::Kind::Chat) {
                ++lines;
                const QString sender = c.text.section(QLatin1Char('>'), 0, 0);
                QVERIFY2(!sender.isEmpty() && c.text.size() > sender.size() + 1, qPrintable(c.text));
                const bool viaConference = anyOf(connected, [](const QString& x) {
                    return x.startsWith(QLatin1Char('*')) && x != QLatin1String("*ECHOTEST*");
                });
                QVERIFY2(connected.contains(sender) || (viaConference && plainStations.contains(sender)),
                         qPrintable(c.text));
                QVERIFY(sender != QLatin1String("*ECHOTEST*"));
            } else if (c.kind == SimCommand::Kind::Connect) {
                connected << c.callsign;
            } else if (c.kind == SimCommand::Kind::Drop) {
                connected.removeAll(c.callsign);
            } else {
                transmitting = c.kind == SimCommand::Kind::Key;
            }
        }
        QVERIFY(lines > 500);
    }

    void delays_varyAroundThePace() {
        DemoPlan plan(5, 2000);
        const Session s = play(plan, 500);
        const int shortest = *std::min_element(s.delays.begin(), s.delays.end());
        const int longest = *std::max_element(s.delays.begin(), s.delays.end());
        QVERIFY2(shortest >= 800 && longest <= 3000, qPrintable(QStringLiteral("%1..%2").arg(shortest).arg(longest)));
        QVERIFY(longest - shortest > 1000);
    }

    void directory_isFictional() {
        DemoPlan plan(1, 1000);
        for (const Peer& p : plan.directory()) {
            QVERIFY2(p.callsign.startsWith(QLatin1Char('Q')) || p.callsign.startsWith(QLatin1Char('*')),
                     qPrintable(p.callsign));
            QVERIFY(!p.name.isEmpty());
        }
    }

    void sameSeed_playsTheSameSession() {
        DemoPlan a(42, 1000);
        DemoPlan b(42, 1000);
        const Session first = play(a, 300);
        const Session second = play(b, 300);
        QCOMPARE(first.chat, second.chat);
        QCOMPARE(first.joined, second.joined);
        QCOMPARE(first.delays, second.delays);
    }
};

QTEST_GUILESS_MAIN(DemoPlanTest)
#include "DemoPlanTest.moc"
