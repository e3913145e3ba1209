// SPDX-License-Identifier: GPL-3.0-or-later
#include "WebEngineBrowser.h"

#include "DeferredBrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QStandardPaths>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

BrowserStorage BrowserStorage::standard() {
    const QString name = QStringLiteral("/browser");
    return {QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + name,
            QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + name};
}

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

QWebEngineView* WebEngineBrowser::view() const {
    return view_.data();
}

void WebEngineBrowser::navigate(const QString& address) {
    const QUrl url(address);
    if (view_ && url.isValid() && !url.isRelative()) {
        view_->setUrl(url);
    }
}

std::function<std::unique_ptr<Browser>(QWidget*, const QRect&)> webEngineBrowserFactory(const BrowserStorage& storage) {
    // Made with the first engine, kept for the rest of the session: windows made again after a close reuse it.
    struct SharedProfile {
        BrowserStorage storage;
        std::shared_ptr<QWebEngineProfile> profile;
        std::shared_ptr<QWebEngineProfile> get() {
            if (!profile) {
                profile = makeBrowserProfile(storage);
            }
            return profile;
        }
    };
    auto shared = std::make_shared<SharedProfile>(SharedProfile{storage, nullptr});
    return [shared](QWidget* container, const QRect& geometry) -> std::unique_ptr<Browser> {
        QPointer<QWidget> where(container);
        return std::make_unique<DeferredBrowser>(
            [where, geometry, shared]() -> std::unique_ptr<Browser> {
                if (where.isNull()) {
                    return nullptr;
                }
                return std::make_unique<WebEngineBrowser>(where.data(), geometry, shared->get());
            },
            container);
    };
}

namespace webengine {

bool sandboxMustBeOff(unsigned effectiveUserId) {
    return effectiveUserId == 0;
}

void prepareEnvironment(unsigned effectiveUserId) {
    if (sandboxMustBeOff(effectiveUserId) && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // The engine shares its OpenGL contexts with the widgets' ones.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void prepareEnvironment() {
#if defined(Q_OS_UNIX)
    prepareEnvironment(static_cast<unsigned>(::geteuid()));
#else
    prepareEnvironment(1U);
#endif
}

} // namespace webengine
