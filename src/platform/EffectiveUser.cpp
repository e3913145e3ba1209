// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/EffectiveUser.h"

#include <QtGlobal>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

unsigned effectiveUserId() {
#if defined(Q_OS_UNIX)
    return static_cast<unsigned>(::geteuid());
#else
    return 1U;
#endif
}
