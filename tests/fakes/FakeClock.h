// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Clock.h"

// A clock that shows whatever time the test sets.
class FakeClock : public Clock {
public:
    QDateTime time{QDate(2026, 12, 6), QTime(9, 5, 0)};
    QDateTime now() const override { return time; }
    void set(int h, int m, int s = 0) { time.setTime(QTime(h, m, s)); }
};
