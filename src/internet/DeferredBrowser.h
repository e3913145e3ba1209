// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Browser.h"

#include <QObject>
#include <functional>
#include <memory>

// A browser that starts its engine on the next turn of the event loop rather than at once. Starting a
// web engine takes long enough to be seen, and the internet options window is created during the main
// window's start-up: deferring lets the main window appear first. An address asked for before the
// engine exists is kept (the latest one wins, as it would in a browser) and opened when it starts.
// Later addresses are opened on the next turn of the event loop too, again only the latest of those asked
// for meanwhile: a storm of connecting stations asks for a look-up page each, and loading every one of them
// would keep the window from reacting for no page anybody could see.
class DeferredBrowser : public QObject, public Browser {
    Q_OBJECT
public:
    using Factory = std::function<std::unique_ptr<Browser>()>;

    explicit DeferredBrowser(Factory create, QObject* parent = nullptr);
    ~DeferredBrowser() override;

    void navigate(const QString& address) override;

    // Starts the engine now if it has not started yet.
    void start();
    bool started() const { return real_ != nullptr; }

private:
    void openPending();

    Factory create_;
    bool openScheduled_ = false;
    std::unique_ptr<Browser> real_;
    QString pending_;
};
