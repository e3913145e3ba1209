// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// Builds every control of the main window at its fixed place, each with its object name, caption,
// font, colour, accessible name and tab order. Controls are found afterwards by object name.
void buildMainLayout(QWidget* window);
