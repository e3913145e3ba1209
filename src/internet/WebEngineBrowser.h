// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Browser.h"

#include <QPointer>
#include <QRect>
#include <functional>
#include <memory>

class QWebEngineProfile;
class QWebEngineView;
class QWidget;

// The embedded browser: a QWebEngineView named "WebBrowser1" placed in a container widget. It uses a
// private profile kept in memory, so browsing leaves no cache, cookies or history on disk. A page that
// cannot be loaded (no network, unknown host) shows the engine's own error page.
class WebEngineBrowser : public Browser {
public:
    WebEngineBrowser(QWidget* container, const QRect& geometry);
    ~WebEngineBrowser() override;

    WebEngineBrowser(const WebEngineBrowser&) = delete;
    WebEngineBrowser& operator=(const WebEngineBrowser&) = delete;

    // Addresses are taken as typed URLs: anything QUrl cannot parse leaves the page as it is.
    void navigate(const QString& address) override;

    QWebEngineView* view() const;

private:
    std::unique_ptr<QWebEngineProfile> profile_;
    QPointer<QWebEngineView> view_;
};

// What the internet options window uses to make its browser: a web engine that starts on the next turn
// of the event loop (see DeferredBrowser), inside the given container at the given place.
std::function<std::unique_ptr<Browser>(QWidget* container, const QRect& geometry)> webEngineBrowserFactory();

namespace webengine {

// Prepares the process for the web engine; call before the QApplication is created. The engine's
// sandbox cannot run as root (CI containers), so only then is it turned off; normal users keep it.
void prepareEnvironment();

// The same, for a given effective user id.
void prepareEnvironment(unsigned effectiveUserId);

// Whether the engine's sandbox has to be turned off for that effective user id.
bool sandboxMustBeOff(unsigned effectiveUserId);

} // namespace webengine
