// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Reports a repeating call's failures on standard error once per outage instead of once per attempt:
// one line when the calls start failing, one when they work again.
class OutageLog {
public:
    // what names the work that failed, e.g. "Status refresh".
    explicit OutageLog(QString what);

    void failed(const QString& reason);
    void succeeded();

private:
    QString what_;
    bool inOutage_ = false;
};
