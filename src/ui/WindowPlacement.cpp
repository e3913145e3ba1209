// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace placement {

std::optional<double> parseTwips(const QString& text) {
    // Far beyond any desktop; also keeps the later conversion to pixels inside int.
    constexpr double Limit = 1.0e7;
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || std::fabs(value) > Limit) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> parseCheckValue(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 0 || value > 2) {
        return std::nullopt;
    }
    return value;
}

QPoint keepOnScreen(QPoint wanted, QSize frameSize, const QList<QRect>& screens, QPoint fallback) {
    // Enough of the title bar to catch with the mouse.
    constexpr int GrabWidth = 60;
    constexpr int GrabHeight = 20;
    const QRect titleStrip(wanted, QSize(frameSize.width(), GrabHeight));
    for (const QRect& screen : screens) {
        const QRect seen = screen.intersected(titleStrip);
        if (seen.width() >= std::min(GrabWidth, frameSize.width()) && seen.height() >= GrabHeight) {
            return wanted;
        }
    }
    return fallback;
}

QPoint onAttachedScreen(QPoint wanted, QSize frameSize) {
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens << screen->geometry();
    }
    if (screens.isEmpty()) {
        return wanted;
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QPoint fallback = (primary != nullptr ? primary->availableGeometry().topLeft() : QPoint()) + QPoint(20, 20);
    return keepOnScreen(wanted, frameSize, screens, fallback);
}

namespace {

int toPixels(double twips) {
    return static_cast<int>(std::lround(twips / StoredPosition::TwipsPerPixel));
}

// The shortest text that reads back as the same number, never in exponent form.
QString twipsText(double twips) {
    return QString::number(twips, 'f', QLocale::FloatingPointShortest);
}

} // namespace

StoredPosition::StoredPosition(const QString& left, const QString& top)
    : twips_(parseTwips(left).value_or(DefaultTwips), parseTwips(top).value_or(DefaultTwips)) {}

QPoint StoredPosition::pixels() const {
    return {toPixels(twips_.x()), toPixels(twips_.y())};
}

QString StoredPosition::leftText(QPoint now) const {
    return twipsText(now.x() == pixels().x() ? twips_.x() : now.x() * TwipsPerPixel);
}

QString StoredPosition::topText(QPoint now) const {
    return twipsText(now.y() == pixels().y() ? twips_.y() : now.y() * TwipsPerPixel);
}

} // namespace placement
