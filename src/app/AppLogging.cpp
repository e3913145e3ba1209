// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppLogging.h"

// Debug messages only when asked for (QT_LOGGING_RULES); information and warnings by default.
Q_LOGGING_CATEGORY(lcApp, "parlevox.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBus, "parlevox.bus", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSettings, "parlevox.settings", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSpeech, "parlevox.speech", QtInfoMsg)
