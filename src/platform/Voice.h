// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

// The one text-to-speech voice. speak() queues the text behind everything handed over before it and
// returns at once; a text is never cut off by a later one. Returns false when the text could not be
// queued at all (no engine).
class Voice : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Voice() override = default;

    virtual bool speak(const QString& text) = 0;

    // While held, the text being spoken goes on to its end but the next one does not begin: texts wait in
    // order, those handed over meanwhile behind them, until the hold is lifted. Nothing is dropped.
    virtual void setHeld(bool held) = 0;

    // Stops this program's own speech at once and drops every text waiting; the hold stays as it is. Other
    // programs speaking through the same server (a screen reader) are never cut off.
    virtual void silence() = 0;
};
