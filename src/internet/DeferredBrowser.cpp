// SPDX-License-Identifier: GPL-3.0-or-later
#include "internet/DeferredBrowser.h"

#include <QEvent>
#include <QTimer>

DeferredBrowser::DeferredBrowser(Factory create, QWidget* startWhenShown, QObject* parent)
    : QObject(parent), create_(std::move(create)), trigger_(startWhenShown) {
    if (trigger_ == nullptr || trigger_->isVisible()) {
        startSoon();
    } else {
        trigger_->installEventFilter(this);
    }
}

DeferredBrowser::~DeferredBrowser() = default;

void DeferredBrowser::navigate(const QString& address) {
    pending_ = address;
    if (real_ && !openScheduled_) {
        openScheduled_ = true;
        QTimer::singleShot(0, this, &DeferredBrowser::openPending);
    }
}

void DeferredBrowser::openPending() {
    openScheduled_ = false;
    if (real_ && !pending_.isEmpty()) {
        real_->navigate(pending_);
    }
    pending_.clear();
}

bool DeferredBrowser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == trigger_ && event->type() == QEvent::Show) {
        trigger_->removeEventFilter(this);
        startSoon();
    }
    return false;
}

void DeferredBrowser::startSoon() {
    if (!startScheduled_) {
        startScheduled_ = true;
        QTimer::singleShot(0, this, &DeferredBrowser::start);
    }
}

void DeferredBrowser::start() {
    if (real_ || !create_) {
        return;
    }
    if (trigger_) {
        trigger_->removeEventFilter(this);
    }
    real_ = create_();
    create_ = nullptr;
    if (real_ && !pending_.isEmpty()) {
        real_->navigate(pending_);
    }
    pending_.clear();
}
