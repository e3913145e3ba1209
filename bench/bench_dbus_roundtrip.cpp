// SPDX-License-Identifier: GPL-3.0-or-later
// End to end over D-Bus: the stand-in station sends a burst of chat texts containing "/ver/" as fast as it
// can and counts the replies. First a minimal client that only answers (the transport's own limit, once
// waiting for each answer as Parlevox does, once pipelined), then Parlevox itself (offscreen, with a real
// speech server and "Announce Text" on).
//
//   bench_dbus_roundtrip [--runs N] [--texts N]
#include "BenchSupport.h"
#include "ParlevoxRig.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <cstdio>

namespace {

struct Burst {
    double perSecond = 0;
    int lost = 0;
    int numbered = 0;
    int outOfOrder = 0;
};

std::optional<Burst> parse(const QString& line) {
    // "# burst done: sent=.. send_ms=.. replies=.. reply_ms=.. per_second=.. lost=.. numbered=.. out_of_order=.."
    QHash<QString, double> values;
    static const QRegularExpression pair(QStringLiteral("(\\w+)=([0-9.]+)"));
    for (auto it = pair.globalMatch(line); it.hasNext();) {
        const auto m = it.next();
        values.insert(m.captured(1), m.captured(2).toDouble());
    }
    if (!values.contains(QStringLiteral("per_second"))) {
        return std::nullopt;
    }
    return Burst{values.value(QStringLiteral("per_second")), int(values.value(QStringLiteral("lost"))),
                 int(values.value(QStringLiteral("numbered"))), int(values.value(QStringLiteral("out_of_order")))};
}

// Runs the bursts against whatever client is listening now; null when the station did not sum one up.
std::optional<QList<Burst>> runBursts(bench::ParlevoxRig& rig, int runs, int texts, const QString& label) {
    QList<Burst> bursts;
    for (int r = 1; r <= runs; ++r) {
        const auto line = rig.command(QStringLiteral("burst %1 QA1BRK>/ver/ run%2").arg(texts).arg(r),
                                      QStringLiteral("# burst done:"), 180000);
        const auto burst = line ? parse(*line) : std::nullopt;
        if (!burst) {
            std::fprintf(stderr, "bench_dbus_roundtrip: %s: no burst summary from the station\n", qPrintable(label));
            return std::nullopt;
        }
        bursts << *burst;
        bench::note(QStringLiteral("%1, run %2: %3").arg(label).arg(r).arg(line->mid(2)));
    }
    return bursts;
}

bench::Figure rateFigure(const QString& name, const QList<Burst>& bursts) {
    bench::Figure f{name, QStringLiteral("texts/s"), {}, {}, std::nullopt};
    for (const Burst& b : bursts) {
        f.samples << b.perSecond;
    }
    return f;
}

int faults(const QList<Burst>& bursts, bool numbered) {
    int n = 0;
    for (const Burst& b : bursts) {
        n += b.lost + b.outOfOrder + (numbered && b.numbered == 0 ? 1 : 0);
    }
    return n;
}

// The spoken texts carry "runR #N": within the order of arrival, each must come after the one before.
int spokenOutOfOrder(const QStringList& spoken, int* counted) {
    static const QRegularExpression mark(QStringLiteral("run(\\d+) #(\\d+)"));
    qint64 last = -1;
    int wrong = 0;
    *counted = 0;
    for (const QString& text : spoken) {
        const auto m = mark.match(text);
        if (!m.hasMatch()) {
            continue;
        }
        ++*counted;
        const qint64 key = m.captured(1).toLongLong() * 10000000 + m.captured(2).toLongLong();
        if (key <= last) {
            ++wrong;
        }
        last = key;
    }
    return wrong;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int runs = bench::intOption(args, QStringLiteral("--runs"), 5);
    const int texts = bench::intOption(args, QStringLiteral("--texts"), 10000);

    std::printf("End to end over D-Bus: bursts of %d chat texts with /ver/, %d runs each\n", texts, runs);
    QString error;
    bench::ParlevoxRig rig;
    if (!rig.start({}, &error)) {
        std::fprintf(stderr, "bench_dbus_roundtrip: %s\n", qPrintable(error));
        return 1;
    }

    QList<Burst> blocking;
    QList<Burst> pipelined;
    for (const bool async : {false, true}) {
        QProcess answerer;
        const QStringList mode = async ? QStringList{QStringLiteral("--async")} : QStringList{};
        if (!rig.startHelper(answerer, QStringLiteral(CHAT_ANSWERER_PATH), mode, &error) || !rig.waitForClient(10000)) {
            std::fprintf(stderr, "bench_dbus_roundtrip: the answerer did not start: %s\n", qPrintable(error));
            return 1;
        }
        const auto bursts =
            runBursts(rig, runs, texts, async ? QStringLiteral("answerer, pipelined") : QStringLiteral("answerer"));
        e2e::stopProcess(answerer);
        if (!bursts) {
            return 1;
        }
        (async ? pipelined : blocking) = *bursts;
    }

    if (!rig.startParlevox(&error) || !rig.waitForClient(20000)) {
        std::fprintf(stderr, "bench_dbus_roundtrip: Parlevox did not start: %s %s\n", qPrintable(error),
                     qPrintable(rig.parlevoxErrors().join(QLatin1Char('\n'))));
        return 1;
    }
    // The web engine starts beside the window; let it settle so it does not take part in the race.
    bench::waitUntilQuiet(rig.parlevoxPid(), 0.05, 30000);
    const auto parlevox = runBursts(rig, runs, texts, QStringLiteral("Parlevox"));
    if (!parlevox) {
        return 1;
    }
    QTest::qWait(2000);
    int spokenCounted = 0;
    const int spokenWrong = spokenOutOfOrder(rig.speech().spoken(), &spokenCounted);
    const QStringList errors = rig.parlevoxErrors();
    rig.stopParlevox();

    bench::Figure transport = rateFigure(QStringLiteral("D-Bus: minimal client, waits for each answer"), blocking);
    bench::report(transport);
    bench::Figure piped = rateFigure(QStringLiteral("D-Bus: minimal client, pipelined"), pipelined);
    bench::report(piped);
    // The transport's own limit is the pipelined client: what the bus carries when nobody waits.
    bench::Figure ours = rateFigure(QStringLiteral("D-Bus: Parlevox"), *parlevox);
    ours.target = QStringLiteral(">= %1 (half the pipelined client)").arg(piped.median() / 2, 0, 'f', 0);
    ours.pass = ours.median() >= piped.median() / 2 && faults(*parlevox, false) == 0;
    bench::report(ours);
    for (const bool toPiped : {true, false}) {
        const QList<Burst>& base = toPiped ? pipelined : blocking;
        bench::Figure share{toPiped ? QStringLiteral("D-Bus: Parlevox / pipelined client")
                                    : QStringLiteral("D-Bus: Parlevox / client that waits"),
                            QStringLiteral("ratio"),
                            {},
                            toPiped ? QStringLiteral(">= 0.5") : QString(),
                            std::nullopt};
        // Run by run, so that the machine's noise shows in the spread.
        for (qsizetype i = 0; i < parlevox->size() && i < base.size(); ++i) {
            share.samples << parlevox->at(i).perSecond / base.at(i).perSecond;
        }
        if (toPiped) {
            share.pass = share.median() >= 0.5;
        }
        bench::report(share);
    }
    bench::Figure lost{QStringLiteral("D-Bus: Parlevox replies lost"),
                       QStringLiteral("texts"),
                       {},
                       QStringLiteral("= 0"),
                       std::nullopt};
    for (const Burst& b : *parlevox) {
        lost.samples << b.lost;
    }
    lost.pass = lost.max() == 0;
    bench::report(lost);
    bench::note(QStringLiteral("answerer replies numbered and in order: %1 faults over %2 bursts")
                    .arg(faults(blocking, true) + faults(pipelined, true))
                    .arg(blocking.size() + pipelined.size()));
    bench::note(QStringLiteral("Parlevox: texts spoken so far %1, out of order %2 (the voice queue takes at most 1000 "
                               "texts; the rest of each burst is refused by it, as designed)")
                    .arg(spokenCounted)
                    .arg(spokenWrong));
    bench::note(QStringLiteral("Parlevox wrote %1 lines to stderr").arg(errors.size()));
    for (const QString& line : errors.mid(0, 5)) {
        bench::note(QStringLiteral("  stderr: ") + line);
    }
    return spokenWrong == 0 ? 0 : 1;
}
