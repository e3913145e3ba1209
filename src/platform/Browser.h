// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The embedded browser: only navigation to an address is needed.
class Browser {
public:
    virtual ~Browser() = default;
    virtual void navigate(const QString& address) = 0;
};
