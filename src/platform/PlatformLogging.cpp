// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PlatformLogging.h"

// Debug messages only when asked for (QT_LOGGING_RULES); information and warnings by default.
Q_LOGGING_CATEGORY(lcVoice, "parlevox.voice", QtInfoMsg)
