// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeferredBrowser.h"

#include <QTimer>

DeferredBrowser::DeferredBrowser(Factory create, QObject* parent) : QObject(parent), create_(std::move(create)) {
    QTimer::singleShot(0, this, &DeferredBrowser::start);
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

void DeferredBrowser::start() {
    if (real_ || !create_) {
        return;
    }
    real_ = create_();
    create_ = nullptr;
    if (real_ && !pending_.isEmpty()) {
        real_->navigate(pending_);
    }
    pending_.clear();
}
