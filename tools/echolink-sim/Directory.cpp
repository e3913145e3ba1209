// SPDX-License-Identifier: GPL-3.0-or-later
#include "Directory.h"

#include <array>

namespace {

constexpr std::array<const char*, 12> Places{"Fernvale",    "Copperton",    "Marshby",   "Eastbrook Hill",
                                             "Lantern Bay", "Ridgefold",    "Oakhollow", "Saltmere",
                                             "Brackenford", "Windle Cross", "Stonequay", "Greywater"};

// FNV-1a: stable across runs and platforms, unlike qHash.
quint32 stableHash(const QString& text) {
    quint32 h = 2166136261u;
    for (QChar c : text) {
        h ^= c.unicode();
        h *= 16777619u;
    }
    return h;
}

} // namespace

QString inventName(const QString& callsign) {
    const QString place = QString::fromLatin1(Places.at(stableHash(callsign) % Places.size()));
    if (callsign.size() > 2 && callsign.startsWith(QLatin1Char('*')) && callsign.endsWith(QLatin1Char('*'))) {
        return QStringLiteral("%1 conference").arg(callsign.mid(1, callsign.size() - 2));
    }
    if (callsign.endsWith(QLatin1String("-L"))) {
        return QStringLiteral("%1 simplex link").arg(place);
    }
    if (callsign.endsWith(QLatin1String("-R"))) {
        return QStringLiteral("%1 repeater").arg(place);
    }
    return QStringLiteral("Operator in %1").arg(place);
}

QString inventAddress(const QString& callsign) {
    static constexpr std::array<const char*, 3> Nets{"192.0.2", "198.51.100", "203.0.113"};
    const quint32 h = stableHash(callsign);
    return QStringLiteral("%1.%2").arg(QString::fromLatin1(Nets.at(h % Nets.size()))).arg(1 + (h >> 8) % 254);
}

QList<Peer> demoDirectory() {
    const std::array<std::pair<const char*, const char*>, 18> entries{{
        {"QA1BRK", "Operator in Brackenford"},
        {"QC8WND", "Operator in Windle Cross"},
        {"QD2SLT", "Operator in Saltmere"},
        {"QE6GRY", "Operator in Greywater"},
        {"QB1CPT", "Operator in Copperton"},
        {"QA9EBK", "Operator in Eastbrook Hill"},
        {"QB4MRS-L", "Marshby 145.500 simplex link"},
        {"QA2FNV-L", "Fernvale 2 m link"},
        {"QD7OAK-L", "Oakhollow 70 cm link"},
        {"QC3LNB-R", "Lantern Bay repeater 147.120"},
        {"QB9RDG-R", "Ridgefold repeater 442.850"},
        {"QE5SQY-R", "Stonequay repeater 146.760"},
        {"QA4WIN-R", "Windle Cross repeater 145.650"},
        {"*ECHOTEST*", "EchoLink test server"},
        {"*QA-NET*", "QA regional net conference"},
        {"*HILLTOP*", "Hilltop friends conference"},
        {"*RAGCHEW*", "Evening ragchew conference"},
        {"QC1HLT-L", "Hilltop conference link"},
    }};
    QList<Peer> peers;
    for (const auto& [call, name] : entries) {
        const QString callsign = QString::fromLatin1(call);
        peers.append({callsign, QString::fromLatin1(name), inventAddress(callsign)});
    }
    return peers;
}
