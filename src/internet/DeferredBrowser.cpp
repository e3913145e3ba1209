// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeferredBrowser.h"

#include <QTimer>

DeferredBrowser::DeferredBrowser(Factory create, QObject* parent) : QObject(parent), create_(std::move(create)) {
    QTimer::singleShot(0, this, &DeferredBrowser::start);
}

DeferredBrowser::~DeferredBrowser() = default;

void DeferredBrowser::navigate(const QString& address) {
    if (real_) {
        real_->navigate(address);
        return;
    }
    pending_ = address;
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
