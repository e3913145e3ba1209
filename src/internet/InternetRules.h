// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

// Rules of the internet options window that need no window: its caption, the addresses it opens and
// how it reads its settings.
namespace internet {

// "Parlevox    <callsign>   v1.2   Internet Option".
QString windowCaption(const QString& ownCallsign);

// A page of a site: the site address and a path starting with "/", with exactly one "/" between them.
QString sitePage(const QString& site, const QString& path);

// The build's site addresses and the fixed pages on them.
QString qrzRoot();
QString eqslHome();
QString addonsHome();
QString echoLinkHome();
QString echoLinkLogins();
QString echoLinkProxyList();

// A stored edge of the window in twips, or nothing when the text is not a usable number (empty,
// garbage, not finite, or so far out that no screen could show it).
std::optional<double> parseTwips(const QString& text);

// A stored check box value 0, 1 or 2, or nothing for anything else.
std::optional<int> parseCheckValue(const QString& text);

// Where a window of the given frame size goes when asked for wanted: there, when a strip along its
// top (where the title bar is) lies on one of the screens far enough to be grabbed; otherwise
// fallback.
QPoint keepOnScreen(QPoint wanted, QSize frameSize, const QList<QRect>& screens, QPoint fallback);

} // namespace internet
