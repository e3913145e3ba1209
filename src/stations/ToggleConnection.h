// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class EchoLinkClient;
class QLineEdit;
class Voice;

// What a "Con/Disc" click did.
enum class ToggleOutcome {
    Nothing,        // the box is empty
    Disconnected,   // the station was connected; it was asked to drop
    Connecting,     // a connect was requested; the station program announces it when it is made
    ConnectRefused, // the connect failed; the failure text was spoken
    Failed,         // asking whether it is connected, or disconnecting, failed; the click ends there
};

// The connect-or-disconnect toggle on a callsign box. The box's text goes to the station program
// unchanged. Only the connect request is answered by voice (failureText, straight to the voice); any
// other failure ends the click with nothing spoken and is written to standard error.
ToggleOutcome ToggleConnection(EchoLinkClient& echoLink, Voice& voice, const QLineEdit* box,
                               const QString& failureText);
