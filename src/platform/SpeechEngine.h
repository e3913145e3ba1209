// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// A synthesiser as QtVoice's queue sees it. Each engine is created, used and destroyed in a worker thread
// of its own, because a hung speech server can block any call into it.
class SpeechEngine : public QObject {
    Q_OBJECT
public:
    // Interrupted: the text was not heard whole, because the speech server cut it off or dropped it (another
    // program spoke) or because stop() was called; the engine still works.
    enum class State { Ready, Speaking, Failed, Interrupted };
    Q_ENUM(State)

    using QObject::QObject;
    ~SpeechEngine() override = default;

    // Empty when the engine is able to speak, otherwise the reason why it is not.
    virtual QString startError() const = 0;
    // Starts speaking one text; the end is reported as Speaking followed by Ready.
    virtual void say(const QString& text) = 0;
    // Stops this engine's own text at once, reported as Interrupted (or Ready, should it have ended first).
    // Never touches what other programs say through the same server.
    virtual void stop() = 0;

signals:
    // errorText is set with Failed only.
    void stateChanged(SpeechEngine::State state, const QString& errorText);
};

// Makes a fresh engine; called in the engine's worker thread. May return null.
using SpeechEngineFactory = std::function<std::unique_ptr<SpeechEngine>()>;
