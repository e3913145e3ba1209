// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TransmitState.h"

#include "ui/Controls.h"

#include <QColor>
#include <QLabel>
#include <QPalette>

TransmitState::TransmitState(QLabel* Label1, QObject* parent) : QObject(parent), label_(Label1) {
    Q_ASSERT(label_ != nullptr);
}

void TransmitState::set(bool transmitting) {
    flag_ = transmitting ? 1 : 0;
    const QColor colour = transmitting ? QColor(255, 0, 0) : QColor(0, 255, 0);
    controls::setLabelValue(label_, transmitting ? QStringLiteral("Transmitting Transmitting")
                                                 : QStringLiteral("  Receiving       Mode"));
    // Called every second: touch the palette only when the colour changes, so nothing repaints needlessly.
    if (!label_->autoFillBackground() || label_->palette().color(QPalette::Window) != colour) {
        label_->setAutoFillBackground(true);
        QPalette pal = label_->palette();
        pal.setColor(QPalette::Window, colour);
        label_->setPalette(pal);
    }
    Q_EMIT transmittingSet(transmitting);
}
