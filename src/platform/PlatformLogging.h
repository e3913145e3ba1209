// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// What the platform pieces report, by subsystem; QT_LOGGING_RULES switches each on or off.
Q_DECLARE_LOGGING_CATEGORY(lcVoice)
