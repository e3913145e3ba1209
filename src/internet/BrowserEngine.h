// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Browser.h"

#include <QString>
#include <QtPlugin>
#include <memory>

class QRect;
class QWidget;

// Where the browser keeps what outlives a session: cookies and site data (so the user stays logged in to
// the look-up sites) and the HTTP disk cache.
struct BrowserStorage {
    QString dataFolder;
    QString cacheFolder;
    // "browser" under the application's data folder and under its cache folder
    // (~/.local/share/Parlevox/browser and ~/.cache/Parlevox/browser on Linux).
    static BrowserStorage standard();
};

// The HTTP disk cache never grows beyond this.
constexpr qint64 BrowserCacheBytes = 50LL * 1024 * 1024;

// A web engine on one storage: every browser it makes shares its profile (one process must use one profile
// per storage folder), and the profile lives as long as the engine or any of its browsers.
class BrowserEngine {
public:
    virtual ~BrowserEngine() = default;
    // A browser named "WebBrowser1" inside the container at the given place. A page that cannot be loaded
    // (no network, unknown host) shows the engine's own error page.
    virtual std::unique_ptr<Browser> createBrowser(QWidget* container, const QRect& geometry) = 0;
};

// What the web engine plug-in offers. The plug-in is the only part of Parlevox that links the web engine:
// merely linking it makes every start-up create an OpenGL context, with the graphics libraries that come
// with one, whether or not the internet window is ever looked at.
class BrowserEnginePlugin {
public:
    virtual ~BrowserEnginePlugin() = default;
    virtual std::shared_ptr<BrowserEngine> createEngine(const BrowserStorage& storage) = 0;
};

#define BrowserEnginePlugin_iid "org.parlevox.BrowserEnginePlugin/1.0"
Q_DECLARE_INTERFACE(BrowserEnginePlugin, BrowserEnginePlugin_iid)
