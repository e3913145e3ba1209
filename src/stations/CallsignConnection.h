// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class EchoLinkClient;
class QLineEdit;
class QPushButton;
class Voice;

// The "Connect to Callsign" box with its "Con/Disc" button, and "Disconnect All".
class CallsignConnection : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QLineEdit* callsign = nullptr;
        QPushButton* getCall = nullptr;
        QPushButton* disconnectAll = nullptr;
    };

    CallsignConnection(const Widgets& widgets, EchoLinkClient& echoLink, Voice& voice, QObject* parent = nullptr);

    void GetCall_Click();
    void DisconnectAll_Click();

private:
    Widgets widgets_;
    EchoLinkClient& echoLink_;
    Voice& voice_;
};
