// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

class EchoLinkClient;
class Voice;

// Keeps the voice off the air. While a transmission is heard, and while this station transmits (a microphone
// near the speaker would carry the voice out), the voice is held: the text being spoken ends, the rest waits.
// A short gap after the last of these ends, the voice goes on in order; a hold that begins within the gap
// starts the wait anew.
//
// A hold never outlives the station's word: a transmission heard for long without any news from the station
// is asked about (IsReceiving) and released unless the station says it goes on; the station going away or
// closing releases every hold at once.
class SpeechHold : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int gapMs = 1000;
        int receivingCheckMs = 5 * 60 * 1000;
    };

    // Follows the station's ReceivingChanged, availabilityChanged and Closing by itself.
    SpeechHold(Voice& voice, EchoLinkClient& echoLink, const Timing& timing, QObject* parent = nullptr);

    // Off lets the voice go at once and holds nothing until switched on again.
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled_; }
    // Whether the voice is held now (a hold, or the gap after the last one).
    bool isHeld() const { return voiceHeld_; }

    // The transmitter's state as this program knows it, as often as it likes.
    void setTransmitting(bool transmitting);
    // Asks the station whether a transmission is being heard right now, e.g. at start-up.
    void askStation();

    QTimer& gapTimer() { return gap_; }
    QTimer& receivingCheckTimer() { return receivingCheck_; }

private:
    enum Reason : unsigned { Receiving = 1U, Transmitting = 2U };

    void setReason(Reason reason, bool on);
    void setReceiving(bool receiving);
    void checkReceiving();
    void releaseAll();
    void holdVoice(bool held);

    Voice& voice_;
    EchoLinkClient& echoLink_;
    QTimer gap_;
    QTimer receivingCheck_;
    unsigned reasons_ = 0;
    bool enabled_ = true;
    bool voiceHeld_ = false;
};
