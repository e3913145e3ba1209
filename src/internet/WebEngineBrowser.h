// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Browser.h"

#include <QPointer>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>

class QWebEngineProfile;
class QWebEngineView;
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

// A profile on that storage that keeps cookies, session cookies included, across sessions. One process
// must use one profile per storage folder: every window shares it.
std::shared_ptr<QWebEngineProfile> makeBrowserProfile(const BrowserStorage& storage);

// The embedded browser: a QWebEngineView named "WebBrowser1" placed in a container widget, on the shared
// profile, which it keeps alive as long as its page exists. A page that cannot be loaded (no network,
// unknown host) shows the engine's own error page.
class WebEngineBrowser : public Browser {
public:
    WebEngineBrowser(QWidget* container, const QRect& geometry, std::shared_ptr<QWebEngineProfile> profile);
    ~WebEngineBrowser() override;

    WebEngineBrowser(const WebEngineBrowser&) = delete;
    WebEngineBrowser& operator=(const WebEngineBrowser&) = delete;

    // Addresses are taken as typed URLs: anything QUrl cannot parse leaves the page as it is.
    void navigate(const QString& address) override;

    QWebEngineView* view() const;

private:
    std::shared_ptr<QWebEngineProfile> profile_;
    QPointer<QWebEngineView> view_;
};

// What the internet options window uses to make its browser: a web engine inside the given container at the
// given place, started only once the container is first shown (see DeferredBrowser). Every browser made
// by one factory shares one profile on that storage, made when the first engine starts.
std::function<std::unique_ptr<Browser>(QWidget* container, const QRect& geometry)>
webEngineBrowserFactory(const BrowserStorage& storage = BrowserStorage::standard());

namespace webengine {

// Prepares the process for the web engine; call before the QApplication is created. The engine's
// sandbox cannot run as root (CI containers), so only then is it turned off; normal users keep it.
void prepareEnvironment();

// The same, for a given effective user id.
void prepareEnvironment(unsigned effectiveUserId);

// Whether the engine's sandbox has to be turned off for that effective user id.
bool sandboxMustBeOff(unsigned effectiveUserId);

} // namespace webengine
