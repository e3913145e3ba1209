// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Browser.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

// A browser that starts its engine late. A web engine costs a lot of memory and a few processes, and the
// internet options window that holds it is made at start-up but may never be looked at: with a widget to
// wait for, the engine starts only once that widget is first shown (on the turn after, so the window is
// drawn first). Without one it starts on the next turn of the event loop, which still lets the window
// that made it appear first. An address asked for before the engine exists is kept (the latest one wins,
// as it would in a browser) and opened when it starts.
// Later addresses are opened on the next turn of the event loop too, again only the latest of those asked
// for meanwhile: a storm of connecting stations asks for a look-up page each, and loading every one of them
// would keep the window from reacting for no page anybody could see.
class DeferredBrowser : public QObject, public Browser {
    Q_OBJECT
public:
    using Factory = std::function<std::unique_ptr<Browser>()>;

    explicit DeferredBrowser(Factory create, QWidget* startWhenShown = nullptr, QObject* parent = nullptr);
    ~DeferredBrowser() override;

    void navigate(const QString& address) override;

    // Starts the engine now if it has not started yet.
    void start();
    bool started() const { return real_ != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openPending();
    void startSoon();

    Factory create_;
    QPointer<QWidget> trigger_;
    bool openScheduled_ = false;
    bool startScheduled_ = false;
    std::unique_ptr<Browser> real_;
    QString pending_;
};
