// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Voice.h"

#include <QStringList>

// Records every text handed to the voice, in order; while held, texts wait in `waiting` instead.
class FakeVoice : public Voice {
    Q_OBJECT
public:
    using Voice::Voice;
    QStringList spoken;
    QString last; // the last text handed over, taken or not
    bool failing = false;
    bool held = false;
    QStringList waiting;
    int silenced = 0; // calls of silence()

    bool speak(const QString& text) override {
        last = text;
        if (failing) {
            return false;
        }
        (held ? waiting : spoken) << text;
        return true;
    }
    void setHeld(bool on) override {
        held = on;
        if (!held) {
            spoken += waiting;
            waiting.clear();
        }
    }
    void silence() override {
        ++silenced;
        waiting.clear();
    }
};
