// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/ClockLogging.h"

// Debug messages only when asked for (QT_LOGGING_RULES); information and warnings by default.
Q_LOGGING_CATEGORY(lcClock, "parlevox.clock", QtInfoMsg)
