// SPDX-License-Identifier: GPL-3.0-or-later
#include "internet/InternetRules.h"

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

} // namespace internet
