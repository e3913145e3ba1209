// SPDX-License-Identifier: GPL-3.0-or-later
#include "StationLogging.h"

// Debug messages only when asked for (QT_LOGGING_RULES); information and warnings by default.
Q_LOGGING_CATEGORY(lcDirectory, "station.directory", QtInfoMsg)
Q_LOGGING_CATEGORY(lcNode, "station.node", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSound, "station.sound", QtInfoMsg)
