// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "internet/BrowserEngine.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <memory>

class QWebEngineProfile;
class QWebEngineView;

// A profile on that storage that keeps cookies, session cookies included, across sessions.
std::shared_ptr<QWebEngineProfile> makeBrowserProfile(const BrowserStorage& storage);

// The embedded browser: a QWebEngineView placed in a container widget, on a shared profile, which it keeps
// alive as long as its page exists.
class WebEngineBrowser : public Browser {
public:
    WebEngineBrowser(QWidget* container, const QRect& geometry, std::shared_ptr<QWebEngineProfile> profile);
    ~WebEngineBrowser() override;

    WebEngineBrowser(const WebEngineBrowser&) = delete;
    WebEngineBrowser& operator=(const WebEngineBrowser&) = delete;

    // Addresses are taken as typed URLs: anything QUrl cannot parse leaves the page as it is.
    void navigate(const QString& address) override;

private:
    std::shared_ptr<QWebEngineProfile> profile_;
    QPointer<QWebEngineView> view_;
};

class WebEnginePlugin : public QObject, public BrowserEnginePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID BrowserEnginePlugin_iid)
    Q_INTERFACES(BrowserEnginePlugin)
public:
    std::shared_ptr<BrowserEngine> createEngine(const BrowserStorage& storage) override;
};
