// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The user id the process acts as; 0 is root. Where the system has no such ids it gives 1, an ordinary user.
unsigned effectiveUserId();
