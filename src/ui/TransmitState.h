// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QLabel;

// Whether the transmitter is keyed, as EchoLink last reported it or the user last asked, and the
// transmit/receive label that shows it. Shared by the status refresh and the Transmit / Receive button.
class TransmitState : public QObject {
    Q_OBJECT
public:
    // Label1 keeps the look it has until the first set().
    explicit TransmitState(QLabel* Label1, QObject* parent = nullptr);

    // 1 while transmitting, 0 while receiving.
    int TransmitFlag() const { return flag_; }

    // Sets the flag and the label: red "Transmitting Transmitting" or green "  Receiving       Mode".
    void set(bool transmitting);

Q_SIGNALS:
    // On every set(), changed or not: the refresh restates the station's state each second, so a listener
    // that forgot it (the station went away meanwhile) learns it again.
    void transmittingSet(bool transmitting);

private:
    QLabel* label_;
    int flag_ = 0;
};
