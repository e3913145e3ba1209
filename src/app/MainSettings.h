// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/WindowPlacement.h"

#include <QString>

class QWidget;
class SettingsStore;
struct SettingsControls;

// The main window's settings, section "SETTINGS" of parlevox.ini: one table drives both the load at
// start-up and the save, so the two always agree on keys, order and defaults.
namespace mainsettings {

// Settings without a control in the window.
struct Options {
    bool holdSpeech = true;             // HOLDSPEECH: the voice waits while a transmission is heard or sent
    placement::StoredPosition position; // LEFT and TOP as read, written back as read while the window stays
};

// Reads every key in table order and applies it to the controls and to the window's place, or returns it among the
// options. A value that cannot be applied (not a number, a check value other than 0, 1 or 2, an option
// other than 0 or 1) gives the key's default instead; the window is kept on a screen.
Options load(QWidget* window, const SettingsControls& ui, const SettingsStore& store);

// Writes every key in table order, in one atomic replace of the file. False when it could not be
// written; the old file then stays as it was.
bool save(const QWidget* window, const SettingsControls& ui, const Options& options, SettingsStore& store);

} // namespace mainsettings
