// SPDX-License-Identifier: GPL-3.0-or-later
#include "DemoPlan.h"

#include "Station.h"

#include <array>

namespace {

constexpr std::array<const char*, 24> ChatLines{
    "Good evening all, anyone around tonight?",
    "Copy you fine through the link, thanks for the call.",
    "Hello from the hilltop, signal is 5 by 9 here.",
    "Net starts at the top of the hour, check-ins welcome.",
    "Running 25 watts into a vertical, how is the audio?",
    "Audio is clean here, a little low on the peaks.",
    "QSL, thanks for the report.",
    "Weather is rolling in, may drop off for a while.",
    "Anyone on from the coast this evening?",
    "Testing the new node, please give a call if you hear me.",
    "73 all, see you on the next net.",
    "Back in a few minutes, coffee break.",
    "That repeater has been busy all day.",
    "Nice to hear the link up again after the storm.",
    "Can someone check if my audio drops out at the end?",
    "Picture perfect copy, no dropouts at all.",
    "Good morning from across the water!",
    "Who is the net control tonight?",
    "Thanks for the check-in, you are number seven.",
    "The conference is quiet today.",
    "Working on the antenna this weekend, wish me luck.",
    "Your signal is full quieting into the repeater.",
    "Roger roger, standing by.",
    "Anyone else hearing the echo on the link?",
};

constexpr std::array<const char*, 3> VersionQueries{"/ver/", "what are you running there? /ver/", "/ver/ please"};

bool isConference(const QString& call) {
    return call.startsWith(QLatin1Char('*'));
}

} // namespace

DemoPlan::DemoPlan(quint32 seed, int paceMs)
    : rng_(seed), paceMs_(paceMs > 0 ? paceMs : 1), directory_(demoDirectory()) {}

int DemoPlan::delay(double factor) {
    // Half to one and a half times the pace: events come at irregular, human intervals.
    return static_cast<int>(paceMs_ * factor * (0.5 + rng_.generateDouble()));
}

QString DemoPlan::pick(const QStringList& from) {
    return from.at(static_cast<qsizetype>(rng_.bounded(static_cast<quint32>(from.size()))));
}

// Every connected station but the echo test, which only plays back what it heard.
QStringList DemoPlan::talkers(const QStringList& connected) {
    QStringList out;
    for (const QString& call : connected) {
        if (call != QLatin1String("*ECHOTEST*")) {
            out << call;
        }
    }
    return out;
}

// A chat line comes from a connected station; through a conference, from one of its members.
QString DemoPlan::chatSender(const QStringList& connected) {
    const QStringList from = talkers(connected);
    if (from.isEmpty()) {
        return {};
    }
    QString via = pick(from);
    if (!isConference(via)) {
        return via;
    }
    QStringList members;
    for (const Peer& p : directory_) {
        if (!isConference(p.callsign) && !p.callsign.contains(QLatin1Char('-'))) {
            members << p.callsign;
        }
    }
    return pick(members);
}

DemoPlan::Step DemoPlan::next(const QStringList& connected, bool transmitting, const QString& talker) {
    Step step;
    if (transmitting && rng_.bounded(10u) < 7) {
        step.command.kind = SimCommand::Kind::Unkey;
        step.delayMs = delay(1.0);
        return step;
    }
    if (!talker.isEmpty() && rng_.bounded(10u) < 7) {
        step.command.kind = SimCommand::Kind::Unreceive;
        step.delayMs = delay(1.0);
        return step;
    }

    QStringList away;
    for (const Peer& p : directory_) {
        if (!connected.contains(p.callsign)) {
            away << p.callsign;
        }
    }
    const QString sender = chatSender(connected);

    // Keep a handful of stations on: fill up when few are connected, thin out when many are.
    enum { Chat, Join, Leave, Key, Version, Talk } what;
    const quint32 roll = rng_.bounded(100u);
    if (connected.size() < 2 || sender.isEmpty()) { // NOLINT(bugprone-branch-clone): filling up joins, as a roll may
        what = Join;
    } else if (connected.size() >= 7) {
        what = roll < 45 ? Leave : Chat;
    } else if (roll < 42) {
        what = Chat;
    } else if (roll < 50) {
        // One voice at a time: nobody else is heard over a talker, and nothing while we transmit.
        what = transmitting || !talker.isEmpty() ? Chat : Talk;
    } else if (roll < 68) {
        what = Join;
    } else if (roll < 82) {
        what = Leave;
    } else if (roll < 92) {
        what = transmitting || !talker.isEmpty() ? Chat : Key;
    } else {
        what = Version;
    }
    if (what == Join && away.isEmpty()) {
        what = Leave;
    }

    switch (what) {
    case Join: {
        const QString call = pick(away);
        step.command.kind = SimCommand::Kind::Connect;
        step.command.callsign = call;
        for (const Peer& p : directory_) {
            if (p.callsign == call) {
                step.command.text = p.name;
            }
        }
        step.delayMs = delay(1.0);
        break;
    }
    case Leave:
        step.command.kind = SimCommand::Kind::Drop;
        step.command.callsign = pick(connected);
        step.delayMs = delay(1.0);
        break;
    case Key:
        step.command.kind = SimCommand::Kind::Key;
        step.delayMs = delay(0.8);
        break;
    case Talk:
        step.command.kind = SimCommand::Kind::Receive;
        step.command.callsign = pick(talkers(connected));
        step.delayMs = delay(0.8);
        break;
    case Version:
        step.command.kind = SimCommand::Kind::Chat;
        step.command.text = sender + QLatin1Char('>') +
                            QString::fromLatin1(VersionQueries.at(rng_.bounded(quint32(VersionQueries.size()))));
        step.delayMs = delay(1.0);
        break;
    case Chat:
        step.command.kind = SimCommand::Kind::Chat;
        step.command.text =
            sender + QLatin1Char('>') + QString::fromLatin1(ChatLines.at(rng_.bounded(quint32(ChatLines.size()))));
        step.delayMs = delay(1.0);
        break;
    }
    return step;
}

DemoDirector::DemoDirector(Station& station, quint32 seed, int paceMs, QObject* parent)
    : QObject(parent), station_(station), plan_(seed, paceMs) {
    station_.addKnown(plan_.directory());
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &DemoDirector::step);
}

void DemoDirector::start() {
    timer_.start(0);
}

void DemoDirector::step() {
    QStringList connected;
    for (const Peer& p : station_.peers()) {
        connected << p.callsign;
    }
    const DemoPlan::Step next = plan_.next(connected, station_.isTransmitting(), station_.talker());
    station_.apply(next.command);
    timer_.start(next.delayMs);
}
