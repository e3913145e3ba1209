// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the program keeps its two settings files: the user's configuration folder ($XDG_CONFIG_HOME or
// ~/.config on Linux). Nothing here creates the folder; the first settings write does.
namespace ConfigPaths {

QString directory();
// "parlevox.ini", the main window's settings.
QString mainSettingsFile();
// "parlevoxinet.ini", the internet options window's settings.
QString internetSettingsFile();

} // namespace ConfigPaths
