// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// Decides, tick by tick, when the time is spoken on the hour, the quarter hours and the half hour.
//
// The decision reads the clock itself, never the displayed text, so it works with any time format.
// A boundary (xx:00, xx:15, xx:30, xx:45) is owed by the first tick at or after it, provided the
// previous reading came before it and the boundary is at most `graceSeconds` old: a tick that comes a
// little late still announces, two ticks in the same second announce once. Only the latest boundary is
// ever considered, so after a jump far past one (a machine resumed from sleep) nothing stale is spoken.
// Whether it is spoken depends on the boxes at that tick. The latest boundary passed is never owed
// again when the clock is stepped back over it; when the clock goes back by more than a quarter hour
// (the end of summer time), the repeated wall-clock times are announced again, as a wall clock would.
class AnnouncementSchedule {
public:
    static constexpr int DefaultGraceSeconds = 5;

    // Which announcements the user wants.
    struct Wanted {
        bool onHour = false;
        bool quarterHour = false;
        bool halfHour = false;
    };

    // start is the clock's reading when the program began watching; a boundary before it is not owed.
    // An invalid start makes the first tick only take its reading.
    explicit AnnouncementSchedule(const QDateTime& start, int graceSeconds = DefaultGraceSeconds);

    // Takes the clock's reading of this tick and returns the text to speak now, or an empty text.
    QString tick(const QDateTime& now, Wanted wanted);

private:
    qint64 graceMs_;
    std::optional<qint64> previous_;
    std::optional<qint64> lastPassed_;
};
