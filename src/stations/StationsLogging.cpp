// SPDX-License-Identifier: GPL-3.0-or-later
#include "stations/StationsLogging.h"

// Debug messages only when asked for (QT_LOGGING_RULES); information and warnings by default.
Q_LOGGING_CATEGORY(lcStations, "parlevox.stations", QtInfoMsg)
