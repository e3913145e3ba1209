// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Voice.h"

#include <QStringList>

// Records every text handed to the voice, in order.
class FakeVoice : public Voice {
    Q_OBJECT
public:
    using Voice::Voice;
    QStringList spoken;
    bool failing = false;

    bool speak(const QString& text) override {
        if (failing) {
            return false;
        }
        spoken << text;
        return true;
    }
};
