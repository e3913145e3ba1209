// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The callsign look-up page: the site's root address (ending in "/") with the callsign as one path
// segment. The callsign is percent-encoded, so no text can leave that segment: "/", "?", "#", "%",
// spaces and markup are all escaped, and a callsign of "." or ".." (which a browser would take as a
// step in the path) gives the root itself, as an empty callsign does. Ordinary callsigns, such as
// N0CALL or N0CALL-, come out as the root followed by the callsign unchanged.
QString qrzLookupAddress(const QString& root, const QString& callsign);
