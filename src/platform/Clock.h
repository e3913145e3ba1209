// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>

// Local wall-clock time. Injected so that time-dependent rules can be tested at any hour.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};
