// SPDX-License-Identifier: GPL-3.0-or-later
#include "DemoPlan.h"

#include <QTest>

namespace {
using Kind = SimCommand::Kind;
struct Session {
    QStringList connected, joined, chat, faults; // faults: events that do not fit the state they were made for
    QString talker, kinds;
    bool transmitting = false;
    int maxConnected = 0;
    QList<int> delays;
};
bool isConference(const QString& c) {
    return c.startsWith(u'*') && c != QStringLiteral("*ECHOTEST*");
}

// Plays steps on a model of the station. A chat line comes from a connected station, or from a plain station
// heard through a connected conference; one voice at a time, never while transmitting.
Session play(DemoPlan& plan, int steps) {
    Session s;
    QStringList plain;
    for (const Peer& p : plan.directory()) {
        if (!p.callsign.contains(u'-') && !p.callsign.startsWith(u'*')) {
            plain << p.callsign;
        }
    }
    for (int i = 0; i < steps; ++i) {
        const DemoPlan::Step step = plan.next(s.connected, s.transmitting, s.talker);
        const SimCommand& c = step.command;
        const QString sender = c.text.section(u'>', 0, 0);
        const bool busy = s.transmitting || !s.talker.isEmpty();
        const bool fits[] = {
            c.kind == Kind::Connect && !s.connected.contains(c.callsign),
            c.kind == Kind::Drop && s.connected.contains(c.callsign),
            c.kind == Kind::Chat && c.text.size() > sender.size() + 1 && sender != QStringLiteral("*ECHOTEST*") &&
                (s.connected.contains(sender) ||
                 (std::any_of(s.connected.begin(), s.connected.end(), isConference) && plain.contains(sender))),
            c.kind == Kind::Key && !busy,
            c.kind == Kind::Unkey,
            c.kind == Kind::Receive && !busy && s.connected.contains(c.callsign) &&
                c.callsign != QStringLiteral("*ECHOTEST*"),
            c.kind == Kind::Unreceive && !s.talker.isEmpty()};
        if (std::none_of(std::begin(fits), std::end(fits), [](bool f) { return f; })) {
            s.faults << QStringLiteral("%1 %2 %3").arg(int(c.kind)).arg(c.callsign, c.text);
        }
        s.kinds += QChar(u'0' + int(c.kind));
        s.delays << step.delayMs;
        if (c.kind == Kind::Connect) {
            s.connected << c.callsign;
            s.joined << c.callsign;
        } else if (c.kind == Kind::Drop && s.connected.removeAll(c.callsign) && s.talker == c.callsign) {
            s.talker.clear(); // the station ends the transmission
        } else if (c.kind == Kind::Chat) {
            s.chat << c.text;
        } else if (c.kind == Kind::Key || c.kind == Kind::Unkey) {
            s.transmitting = c.kind == Kind::Key;
        } else if (c.kind == Kind::Receive || c.kind == Kind::Unreceive) {
            s.talker = c.kind == Kind::Receive ? c.callsign : QString();
        }
        s.maxConnected = std::max(s.maxConnected, int(s.connected.size()));
    }
    return s;
}
} // namespace

class DemoPlanTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void longSession_bringsEveryKindOfStationAndEventAndOnlyFittingOnes() {
        DemoPlan plan(1234, 1000);
        const Session s = play(plan, 2000);
        QVERIFY2(s.faults.isEmpty(), qPrintable(s.faults.join(u'\n')));
        for (const Kind k : {Kind::Drop, Kind::Key, Kind::Receive, Kind::Unreceive}) {
            QVERIFY(s.kinds.contains(QChar(u'0' + int(k))));
        }
        const QString joined = s.joined.join(u' ');
        for (const char* kind : {"-L( |$)", "-R( |$)", "\\*ECHOTEST\\*", "\\*[A-Z]+\\* ", "(^| )Q[A-Z0-9]+( |$)"}) {
            QVERIFY2(joined.contains(QRegularExpression(QString::fromLatin1(kind))), kind);
        }
        QVERIFY(s.chat.filter(QStringLiteral("/ver/")).size() > 0 && s.chat.size() > 500 && s.maxConnected <= 8);
        for (const Peer& p : plan.directory()) { // fictional: no real station's callsign
            QVERIFY2(p.callsign.contains(QRegularExpression(QStringLiteral("^[Q*]"))) && !p.name.isEmpty(),
                     qPrintable(p.callsign));
        }
    }
    void sameSeed_playsTheSameSession_delaysVaryAroundThePace() {
        DemoPlan a(5, 2000), b(5, 2000);
        const Session s = play(a, 500);
        const Session again = play(b, 500);
        QVERIFY(s.chat == again.chat && s.joined == again.joined && s.delays == again.delays);
        const auto [shortest, longest] = std::minmax_element(s.delays.begin(), s.delays.end());
        QVERIFY2(*shortest >= 800 && *longest <= 3000 && *longest - *shortest > 1000,
                 qPrintable(QStringLiteral("%1..%2").arg(*shortest).arg(*longest)));
    }
};

QTEST_GUILESS_MAIN(DemoPlanTest)
#include "DemoPlanTest.moc"
