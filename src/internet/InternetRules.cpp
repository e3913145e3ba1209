// SPDX-License-Identifier: GPL-3.0-or-later
#include "InternetRules.h"

#include "BuildConfig.h"

#include <cmath>

namespace internet {

QString windowCaption(const QString& ownCallsign) {
    return QStringLiteral("%1    %2   v%3.%4   Internet Option")
        .arg(QString::fromUtf8(buildconfig::ProductName), ownCallsign)
        .arg(buildconfig::VersionMajor)
        .arg(buildconfig::VersionMinor);
}

QString sitePage(const QString& site, const QString& path) {
    QString base = site;
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    return path.startsWith(QLatin1Char('/')) ? base + path : base + QLatin1Char('/') + path;
}

QString qrzRoot() {
    return QString::fromUtf8(buildconfig::QrzRoot);
}
QString eqslHome() {
    return QString::fromUtf8(buildconfig::EqslSite);
}
QString addonsHome() {
    return QString::fromUtf8(buildconfig::AddonsSite);
}
QString echoLinkHome() {
    return QString::fromUtf8(buildconfig::EchoLinkSite);
}
QString echoLinkLogins() {
    return sitePage(echoLinkHome(), QStringLiteral("/logins.jsp"));
}
QString echoLinkProxyList() {
    return sitePage(echoLinkHome(), QStringLiteral("/proxylist.jsp"));
}

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

} // namespace internet
