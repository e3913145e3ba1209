// SPDX-License-Identifier: GPL-3.0-or-later
#include "stations/StationRules.h"

#include "platform/TimePatterns.h"

#include <array>

namespace stations {

namespace {

struct FixedConference {
    QLatin1String callsign;
    QLatin1String spokenName;
    QLatin1String onConnect;
    QLatin1String onDisconnect;
};

const std::array<FixedConference, 3> fixedConferences{{
    {QLatin1String("*IRELAND*"), QLatin1String("Ireland"), QLatin1String("  conference connected."),
     QLatin1String("  conference disconnected.")},
    {QLatin1String("*ENGLAND*"), QLatin1String("England"), QLatin1String("  conference connected."),
     QLatin1String("  conference disconnected.")},
    {QLatin1String("*ECHOTEST*"), QLatin1String("EchoLink Test"), QLatin1String("  Server Connected."),
     QLatin1String("  Server disconnected.")},
}};

bool connected(ConnectionChange change) {
    return change == ConnectionChange::Connected;
}

bool hiddenControl(QChar c) {
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        break;
    }
    const char16_t u = c.unicode();
    // Embeddings, overrides and isolates: they would let a stranger's text reverse the rest of the line.
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

} // namespace

StationKind stationKind(const QString& callsign) {
    if (callsign.endsWith(QLatin1Char('*'))) {
        return StationKind::Conference;
    }
    if (callsign.endsWith(QLatin1String("-L"))) {
        return StationKind::Link;
    }
    if (callsign.endsWith(QLatin1String("-R"))) {
        return StationKind::Repeater;
    }
    if (!callsign.contains(QLatin1Char('-'))) {
        return StationKind::PlainStation;
    }
    return StationKind::NotAnnounced;
}

QString splitCall(const QString& text) {
    QString spaced;
    spaced.reserve(text.size() * 2);
    for (const QChar c : text) {
        spaced += c;
        spaced += QLatin1Char(' ');
    }
    return spaced;
}

QString announcedCallsign(const QString& callsign, StationKind kind) {
    switch (kind) {
    case StationKind::Conference: {
        QString text = callsign;
        return text.replace(QLatin1Char('*'), QLatin1Char(' '));
    }
    case StationKind::Link:
    case StationKind::Repeater:
        // Keep the dash itself: the suffix letter is all that goes.
        return callsign.left(callsign.indexOf(QLatin1Char('-')) + 1);
    case StationKind::PlainStation:
        return callsign;
    case StationKind::NotAnnounced:
        break;
    }
    return {};
}

bool isLookedUp(StationKind kind) {
    return kind == StationKind::Link || kind == StationKind::Repeater || kind == StationKind::PlainStation;
}

std::optional<QString> fixedConferenceAnnouncement(const QString& callsign, ConnectionChange change) {
    for (const FixedConference& conference : fixedConferences) {
        if (callsign == conference.callsign) {
            return QLatin1String("The ") + conference.spokenName +
                   (connected(change) ? conference.onConnect : conference.onDisconnect);
        }
    }
    return std::nullopt;
}

QString announcementText(StationKind kind, const QString& spacedCallsign, ConnectionChange change) {
    const bool on = connected(change);
    switch (kind) {
    case StationKind::Conference:
        return QLatin1String("The ") + spacedCallsign +
               (on ? QLatin1String("  conference connected.") : QLatin1String("  conference disconnected."));
    case StationKind::Link:
        return spacedCallsign + (on ? QLatin1String(" : Link Connected.") : QLatin1String(" : Link Disconnected."));
    case StationKind::Repeater:
        return spacedCallsign +
               (on ? QLatin1String(" : Repeater Connected.") : QLatin1String(" : Repeater Disconnected."));
    case StationKind::PlainStation:
        return spacedCallsign + (on ? QLatin1String(" , Connected") : QLatin1String(" , Disconnected"));
    case StationKind::NotAnnounced:
        break;
    }
    return {};
}

QString historyLine(const QTime& time, const QString& callsign) {
    return timepatterns::format(QStringLiteral("h mm AM/PM - "), time) + plainDisplayText(callsign);
}

QString plainDisplayText(const QString& text) {
    QString shown = text;
    for (QChar& c : shown) {
        if (hiddenControl(c)) {
            c = QChar::ReplacementCharacter;
        }
    }
    return shown;
}

} // namespace stations
