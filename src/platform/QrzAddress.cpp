// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QrzAddress.h"

#include <QUrl>

QString qrzLookupAddress(const QString& root, const QString& callsign) {
    // Browsers resolve "." and ".." segments (also when escaped as %2E), so they cannot be looked up.
    if (callsign == QLatin1String(".") || callsign == QLatin1String("..")) {
        return root;
    }
    // Letters, digits and "-._~" stay as they are; every other byte of the UTF-8 text is escaped.
    return root + QString::fromLatin1(QUrl::toPercentEncoding(callsign));
}
