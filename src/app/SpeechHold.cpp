// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SpeechHold.h"

#include "app/AppLogging.h"
#include "platform/EchoLinkClient.h"
#include "platform/Voice.h"

#include <QDebug>

SpeechHold::SpeechHold(Voice& voice, EchoLinkClient& echoLink, const Timing& timing, QObject* parent)
    : QObject(parent), voice_(voice), echoLink_(echoLink) {
    gap_.setSingleShot(true);
    gap_.setInterval(timing.gapMs);
    receivingCheck_.setSingleShot(true);
    receivingCheck_.setInterval(timing.receivingCheckMs);
    connect(&gap_, &QTimer::timeout, this, [this] {
        if (reasons_ == 0) {
            holdVoice(false);
        }
    });
    connect(&receivingCheck_, &QTimer::timeout, this, &SpeechHold::checkReceiving);
    connect(&echoLink_, &EchoLinkClient::ReceivingChanged, this,
            [this](bool receiving, const QString&) { setReceiving(receiving); });
    connect(&echoLink_, &EchoLinkClient::availabilityChanged, this, [this](bool available) {
        if (available) {
            askStation();
        } else {
            releaseAll();
        }
    });
    connect(&echoLink_, &EchoLinkClient::Closing, this, &SpeechHold::releaseAll);
}

void SpeechHold::setEnabled(bool enabled) {
    enabled_ = enabled;
    gap_.stop();
    holdVoice(enabled_ && reasons_ != 0);
}

void SpeechHold::setTransmitting(bool transmitting) {
    setReason(Transmitting, transmitting);
}

void SpeechHold::askStation() {
    if (!echoLink_.isAvailable()) {
        return;
    }
    // A station that does not report receiving answers with a failure and holds nothing.
    const CallResult<bool> answer = echoLink_.IsReceiving();
    if (answer) {
        setReceiving(answer.value);
    }
}

void SpeechHold::setReason(Reason reason, bool on) {
    const unsigned before = reasons_;
    reasons_ = on ? (reasons_ | reason) : (reasons_ & ~unsigned(reason));
    if (reasons_ == before || !enabled_) {
        return;
    }
    if (reasons_ != 0) {
        gap_.stop();
        holdVoice(true);
    } else {
        // The last hold ended: the wait starts anew from here.
        gap_.start();
    }
}

void SpeechHold::setReceiving(bool receiving) {
    if (receiving) {
        receivingCheck_.start();
    } else {
        receivingCheck_.stop();
    }
    setReason(Receiving, receiving);
}

// No word from the station for a long time: its "ended" may have been lost, and a voice held for good
// would be worse than one heard over a transmission.
void SpeechHold::checkReceiving() {
    if ((reasons_ & Receiving) == 0) {
        return;
    }
    const CallResult<bool> answer = echoLink_.IsReceiving();
    if (answer && answer.value) {
        receivingCheck_.start();
        return;
    }
    qCWarning(lcSpeech).noquote() << QStringLiteral(
                                         "Speech was held for a transmission whose end was not reported; it goes "
                                         "on now (%1).")
                                         .arg(answer ? QStringLiteral("the station hears none") : answer.error);
    setReceiving(false);
}

void SpeechHold::releaseAll() {
    reasons_ = 0;
    receivingCheck_.stop();
    gap_.stop();
    holdVoice(false);
}

void SpeechHold::holdVoice(bool held) {
    if (voiceHeld_ != held) {
        voiceHeld_ = held;
        voice_.setHeld(held);
    }
}
