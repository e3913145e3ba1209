// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

// The texts the clock shows and speaks.
namespace timetexts {

// The locale's own way of writing a time with hours, minutes and seconds, as a clock display shows it:
// its long time format without the time zone ("HH:mm:ss" in most of Europe, "h:mm:ss AP" in the US).
QString clockFormat(const QLocale& locale);

// What the clock display shows at the given time.
QString clockText(const QLocale& locale, const QTime& time);

// The scheduled announcements. On the hour only the hour is spoken ("The Time Is9 PM"); at a quarter or
// half hour the minutes too ("The Time Is9 15 PM"). "The Time Is" is joined to the hour on purpose: the
// voice reads it as one phrase either way.
QString hourAnnouncement(const QTime& time);
QString minuteAnnouncement(const QTime& time);

// What the "Say the Time" button speaks: the 12-hour hour without a leading zero, a space, the minutes
// and the designator with no space before it ("The Time Is9 05PM", "The Time Is10 00AM").
QString sayTheTime(const QTime& time);

} // namespace timetexts
