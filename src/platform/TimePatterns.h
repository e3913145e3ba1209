// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTime>

namespace timepatterns {

// Formats a time with the program's patterns: "h" is the hour without a leading zero, "hh" the hour
// as two digits, "mm" the minutes as two digits, "AM/PM" gives "AM" before noon and "PM" from noon on
// and puts the hour on the 12-hour clock (12 at midnight and noon). Without "AM/PM" the hour is on the
// 24-hour clock. Every other character is copied unchanged.
// Examples at 21:05: "h AM/PM" -> "9 PM", "h mm AM/PM" -> "9 05 PM", "hh mm" -> "21 05".
QString format(const QString& pattern, const QTime& time);

// The chat stamp: two-digit hour on the 24-hour clock, ":", two-digit minutes ("09:05").
QString stamp24(const QTime& time);

} // namespace timepatterns
