// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Voice.h"

#include <QStringList>

// Records every text handed to the voice, in order; while held, texts wait in `waiting` instead.
class FakeVoice : public Voice {
    Q_OBJECT
public:
    using Voice::Voice;
    QStringList spoken, waiting;
    bool failing = false, held = false;
    int silenced = 0; // calls of silence()

    bool speak(const QString& text) override {
        (held ? waiting : spoken) << (failing ? QStringList() : QStringList{text});
        return !failing;
    }
    void setHeld(bool on) override {
        held = on;
        spoken += held ? QStringList() : std::exchange(waiting, {});
    }
    void silence() override {
        ++silenced;
        waiting.clear();
    }
};
