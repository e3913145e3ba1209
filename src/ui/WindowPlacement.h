// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

// Reading a window's stored place and check values back from a settings file, and keeping a window
// where the user can reach it.
namespace placement {

// The section of both windows' settings files.
inline const QString Section = QStringLiteral("SETTINGS");

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

// A window's place as its settings file holds it: "LEFT" and "TOP" in twips. What was read is kept, so that a
// window still at those twips' pixels writes them back exactly (an odd or fractional value included, which whole
// pixels cannot hold); a window anywhere else writes its new place.
class StoredPosition {
public:
    // 15 twips make one pixel at 96 DPI.
    static constexpr double TwipsPerPixel = 15.0;
    static constexpr double DefaultTwips = 300.0;

    StoredPosition() = default;
    // The stored texts; one that parseTwips does not accept gives DefaultTwips.
    StoredPosition(const QString& left, const QString& top);

    // The place read, to the nearest pixel.
    QPoint pixels() const;
    // What to write as "LEFT" and "TOP" for a window now at `now`, in pixels.
    QString leftText(QPoint now) const;
    QString topText(QPoint now) const;

private:
    QPointF twips_{DefaultTwips, DefaultTwips};
};

} // namespace placement
