// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// What the station reports as it runs, by subsystem; QT_LOGGING_RULES switches each on or off.
Q_DECLARE_LOGGING_CATEGORY(lcDirectory)
Q_DECLARE_LOGGING_CATEGORY(lcNode)
Q_DECLARE_LOGGING_CATEGORY(lcSound)
