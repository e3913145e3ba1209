// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TimePatterns.h"

namespace timepatterns {

namespace {
const QString AmPm = QStringLiteral("AM/PM");

QString twoDigits(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}
} // namespace

QString format(const QString& pattern, const QTime& time) {
    const bool twelveHour = pattern.contains(AmPm);
    int hour = time.hour();
    if (twelveHour) {
        hour %= 12;
        if (hour == 0) {
            hour = 12;
        }
    }
    QString out;
    out.reserve(pattern.size() + 4);
    for (qsizetype i = 0; i < pattern.size();) {
        if (pattern.mid(i, AmPm.size()) == AmPm) {
            out += time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
            i += AmPm.size();
        } else if (pattern.mid(i, 2) == QStringLiteral("hh")) {
            out += twoDigits(hour);
            i += 2;
        } else if (pattern.at(i) == QLatin1Char('h')) {
            out += QString::number(hour);
            i += 1;
        } else if (pattern.mid(i, 2) == QStringLiteral("mm")) {
            out += twoDigits(time.minute());
            i += 2;
        } else {
            out += pattern.at(i);
            i += 1;
        }
    }
    return out;
}

QString stamp24(const QTime& time) {
    return twoDigits(time.hour()) + QLatin1Char(':') + twoDigits(time.minute());
}

} // namespace timepatterns
