// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Rules of the internet options window that need no window: its caption and the addresses it opens.
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

} // namespace internet
