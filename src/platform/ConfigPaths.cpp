// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ConfigPaths.h"

#include <QDir>
#include <QStandardPaths>

namespace ConfigPaths {

QString directory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString mainSettingsFile() {
    return QDir(directory()).filePath(QStringLiteral("parlevox.ini"));
}

QString internetSettingsFile() {
    return QDir(directory()).filePath(QStringLiteral("parlevoxinet.ini"));
}

} // namespace ConfigPaths
