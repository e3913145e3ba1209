// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

class QWidget;

namespace internet {

// Builds every control of the internet options window at its fixed place, each with its object name,
// caption, font, colour, accessible name and tab order, except the browser itself, which goes into
// "PicFrame" at browserGeometry().
void buildForm1Layout(QWidget* window);

// Where the browser goes inside "PicFrame", in pixels.
QRect browserGeometry();

// Has the web engine, once it starts, give screen readers the page: renderer accessibility on in its flags.
// Adds the flag once, keeping flags already there.
void enableWebAccessibility();

} // namespace internet
