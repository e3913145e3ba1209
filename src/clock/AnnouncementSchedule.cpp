// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/AnnouncementSchedule.h"

#include "clock/TimeTexts.h"

namespace {
constexpr qint64 DayMs = qint64(24) * 60 * 60 * 1000;
constexpr qint64 QuarterMs = qint64(15) * 60 * 1000;

// Local wall-clock time as one number, so that boundaries follow what the clock shows, also across
// changes of the UTC offset.
std::optional<qint64> wallMs(const QDateTime& t) {
    if (!t.isValid()) {
        return std::nullopt;
    }
    return t.date().toJulianDay() * DayMs + t.time().msecsSinceStartOfDay();
}
} // namespace

AnnouncementSchedule::AnnouncementSchedule(const QDateTime& start, int graceSeconds)
    : graceMs_(qint64{graceSeconds} * 1000), previous_(wallMs(start)) {}

QString AnnouncementSchedule::tick(const QDateTime& now, Wanted wanted) {
    const std::optional<qint64> wall = wallMs(now);
    if (!wall) {
        return {};
    }
    const std::optional<qint64> previous = previous_;
    previous_ = wall;
    if (!previous) {
        return {};
    }
    if (*previous - *wall > QuarterMs) {
        // Set back by more than a quarter hour (summer time ended): the times that follow are new.
        lastPassed_.reset();
    }
    const qint64 boundary = *wall - *wall % QuarterMs;
    // A clock set back a little counts as a fresh start, but lastPassed_ keeps its boundary from repeating.
    const bool passed = *previous < boundary || *previous > *wall;
    if (!passed || *wall - boundary > graceMs_ || boundary == lastPassed_) {
        return {};
    }
    // Passed whether or not it is spoken: ticking a box afterwards does not bring it back.
    lastPassed_ = boundary;
    const QTime at = QTime::fromMSecsSinceStartOfDay(static_cast<int>(boundary % DayMs));
    switch (at.minute()) {
    case 0:
        return wanted.onHour ? timetexts::hourAnnouncement(at) : QString();
    case 30:
        return wanted.halfHour ? timetexts::minuteAnnouncement(at) : QString();
    default: // 15 and 45
        return wanted.quarterHour ? timetexts::minuteAnnouncement(at) : QString();
    }
}
