// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/OutageLog.h"

#include "clock/ClockLogging.h"

#include <QDebug>

OutageLog::OutageLog(QString what) : what_(std::move(what)) {}

void OutageLog::failed(const QString& reason) {
    if (inOutage_) {
        return;
    }
    inOutage_ = true;
    qCWarning(lcClock).noquote() << what_ + QStringLiteral(": EchoLink is not answering (") + reason +
                                        QStringLiteral("); trying again every second");
}

void OutageLog::succeeded() {
    if (!inOutage_) {
        return;
    }
    inOutage_ = false;
    qCWarning(lcClock).noquote() << what_ + QStringLiteral(": EchoLink is answering again");
}
