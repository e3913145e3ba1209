// SPDX-License-Identifier: GPL-3.0-or-later
#include "internet/webengine/WebEnginePlugin.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>

std::shared_ptr<QWebEngineProfile> makeBrowserProfile(const BrowserStorage& storage) {
    // The cookies are the user's logins: nobody else on the machine should read them.
    if (QDir().mkpath(storage.dataFolder)) {
        QFile::setPermissions(storage.dataFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    auto profile = std::make_shared<QWebEngineProfile>(QStringLiteral("Parlevox"));
    profile->setPersistentStoragePath(storage.dataFolder);
    profile->setCachePath(storage.cacheFolder);
    // Sites that log in with a session cookie would otherwise ask again after every restart.
    profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    profile->setHttpCacheMaximumSize(int(BrowserCacheBytes));
    return profile;
}

WebEngineBrowser::WebEngineBrowser(QWidget* container, const QRect& geometry,
                                   std::shared_ptr<QWebEngineProfile> profile)
    : profile_(std::move(profile)), view_(new QWebEngineView(container)) {
    view_->setObjectName(QStringLiteral("WebBrowser1"));
    view_->setAccessibleName(QStringLiteral("Web page"));
    view_->setGeometry(geometry);
    auto* page = new QWebEnginePage(profile_.get(), view_);
    page->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, true);
    view_->setPage(page);
    view_->show();
}

WebEngineBrowser::~WebEngineBrowser() {
    // The page belongs to the view and must go before the profile it uses.
    delete view_.data();
}

void WebEngineBrowser::navigate(const QString& address) {
    const QUrl url(address);
    if (view_ && url.isValid() && !url.isRelative()) {
        view_->setUrl(url);
    }
}

namespace {

class ProfileEngine : public BrowserEngine {
public:
    explicit ProfileEngine(const BrowserStorage& storage) : profile_(makeBrowserProfile(storage)) {}
    std::unique_ptr<Browser> createBrowser(QWidget* container, const QRect& geometry) override {
        return std::make_unique<WebEngineBrowser>(container, geometry, profile_);
    }

private:
    std::shared_ptr<QWebEngineProfile> profile_;
};

} // namespace

std::shared_ptr<BrowserEngine> WebEnginePlugin::createEngine(const BrowserStorage& storage) {
    return std::make_shared<ProfileEngine>(storage);
}
