// SPDX-License-Identifier: GPL-3.0-or-later
#include "WebEngineBrowser.h"

#include "DeferredBrowser.h"

#include <QCoreApplication>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

WebEngineBrowser::WebEngineBrowser(QWidget* container, const QRect& geometry)
    : profile_(std::make_unique<QWebEngineProfile>()), view_(new QWebEngineView(container)) {
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

std::function<std::unique_ptr<Browser>(QWidget*, const QRect&)> webEngineBrowserFactory() {
    return [](QWidget* container, const QRect& geometry) -> std::unique_ptr<Browser> {
        QPointer<QWidget> where(container);
        return std::make_unique<DeferredBrowser>([where, geometry]() -> std::unique_ptr<Browser> {
            if (where.isNull()) {
                return nullptr;
            }
            return std::make_unique<WebEngineBrowser>(where.data(), geometry);
        });
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
