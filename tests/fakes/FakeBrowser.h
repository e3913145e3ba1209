// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Browser.h"

#include <QStringList>

// Records every address the program navigates to.
class FakeBrowser : public Browser {
public:
    QStringList addresses;
    void navigate(const QString& address) override { addresses << address; }
};
