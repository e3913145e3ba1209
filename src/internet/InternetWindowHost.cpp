// SPDX-License-Identifier: GPL-3.0-or-later
#include "internet/InternetWindowHost.h"

// Resources live in a static library: referencing them here makes the linker keep them.
static void initInternetResources() {
    Q_INIT_RESOURCE(internet);
}

InternetWindowHost::InternetWindowHost(SettingsStore& settings, EchoLinkFactory echoLinks,
                                       Form1::BrowserFactory browsers, QObject* parent)
    : QObject(parent), settings_(settings), echoLinks_(std::move(echoLinks)), browsers_(std::move(browsers)) {
    initInternetResources();
}

InternetWindowHost::~InternetWindowHost() = default;

Form1* InternetWindowHost::window() {
    if (!form_) {
        form_ = std::make_unique<Form1>(settings_, echoLinks_ ? echoLinks_() : nullptr, browsers_);
        connect(form_.get(), &Form1::closedByUser, this, &InternetWindowHost::windowClosed);
        connect(form_.get(), &Form1::closingRequested, this, &InternetWindowHost::closingRequested);
    }
    return form_.get();
}

void InternetWindowHost::windowClosed() {
    // Still inside the window's own close handling: let it finish before it goes away.
    Form1* closed = form_.release();
    if (closed != nullptr) {
        closed->disconnect(this);
        closed->deleteLater();
    }
}

void InternetWindowHost::setLastConnectedNode(const QString& text) {
    window()->setLastConnectedNode(text);
}

bool InternetWindowHost::showQrzInfo() {
    return window()->showQrzInfo();
}

void InternetWindowHost::navigate(const QString& address) {
    window()->navigate(address);
}

void InternetWindowHost::showWindow() {
    Form1* form = window();
    form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
    form->show();
    form->raise();
    form->activateWindow();
}

bool InternetWindowHost::SaveData2() {
    return window()->SaveData2();
}
