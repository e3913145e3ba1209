// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

// Reading a window's stored place and check values back from a settings file, and keeping a window
// where the user can reach it.
namespace placement {

// A stored edge of the window in twips, or nothing when the text is not a usable number (empty,
// garbage, not finite, or so far out that no screen could show it).
std::optional<double> parseTwips(const QString& text);

// A stored check box value 0, 1 or 2, or nothing for anything else.
std::optional<int> parseCheckValue(const QString& text);

// Where a window of the given frame size goes when asked for wanted: there, when a strip along its
// top (where the title bar is) lies on one of the screens far enough to be grabbed; otherwise
// fallback.
QPoint keepOnScreen(QPoint wanted, QSize frameSize, const QList<QRect>& screens, QPoint fallback);

// keepOnScreen against the screens attached now; the fallback is near the primary screen's corner.
QPoint onAttachedScreen(QPoint wanted, QSize frameSize);

} // namespace placement
