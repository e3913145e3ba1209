// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// What the station controls report; QT_LOGGING_RULES switches it on or off.
Q_DECLARE_LOGGING_CATEGORY(lcStations)
