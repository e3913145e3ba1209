// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class EchoLinkClient;
class QAbstractButton;
class QLabel;
class TransmitState;

// The "Transmit / Receive" button: keys or unkeys the transmitter while a station is connected and
// shows the new state at once; the next status refresh shows EchoLink's own state again.
class TransmitToggle : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QAbstractButton* TxRx = nullptr;
        QLabel* NumStations = nullptr;
    };

    // The button is connected here.
    TransmitToggle(const Widgets& widgets, EchoLinkClient& echoLink, TransmitState& transmit,
                   QObject* parent = nullptr);

public Q_SLOTS:
    void TxRx_Click();

private:
    Widgets w_;
    EchoLinkClient& echoLink_;
    TransmitState& transmit_;
};
