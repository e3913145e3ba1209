// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/TimeTexts.h"

#include "platform/TimePatterns.h"

namespace timetexts {

namespace {
const QString Prefix = QStringLiteral("The Time Is");

bool isTrimmable(QChar c) {
    return c.isSpace() || c == QLatin1Char(',');
}

// Drops the time-zone letters from a Qt time format, leaving quoted text alone, then trims the spaces
// and commas that stood beside them.
QString withoutZone(const QString& format) {
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted; // '' inside or outside quotes toggles twice and keeps both quotes
        } else if (!quoted && c == QLatin1Char('t')) {
            continue;
        }
        out += c;
    }
    qsizetype begin = 0;
    qsizetype end = out.size();
    while (begin < end && isTrimmable(out.at(begin))) {
        ++begin;
    }
    while (end > begin && isTrimmable(out.at(end - 1))) {
        --end;
    }
    return out.mid(begin, end - begin);
}

bool hasSeconds(const QString& format) {
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('s')) {
            return true;
        }
    }
    return false;
}
} // namespace

QString clockFormat(const QLocale& locale) {
    const QString format = withoutZone(locale.timeFormat(QLocale::LongFormat));
    // A locale without a usable long format still gets a clock with seconds.
    return hasSeconds(format) ? format : QStringLiteral("HH:mm:ss");
}

QString clockText(const QLocale& locale, const QTime& time) {
    return locale.toString(time, clockFormat(locale));
}

QString hourAnnouncement(const QTime& time) {
    return Prefix + timepatterns::format(QStringLiteral("h AM/PM"), time);
}

QString minuteAnnouncement(const QTime& time) {
    return Prefix + timepatterns::format(QStringLiteral("h mm AM/PM"), time);
}

QString sayTheTime(const QTime& time) {
    QString hour = timepatterns::format(QStringLiteral("hh mm AM/PM"), time).left(2);
    if (hour.startsWith(QLatin1Char('0'))) {
        hour = hour.right(1);
    }
    const QString minutes = timepatterns::format(QStringLiteral("hh mm"), time).right(2);
    const QString designator = timepatterns::format(QStringLiteral("AM/PM"), time);
    return Prefix + hour + QLatin1Char(' ') + minutes + designator;
}

} // namespace timetexts
