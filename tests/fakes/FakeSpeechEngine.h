// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SpeechEngine.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>

class FakeSpeechEngine;

// Shared between a test and the fake engines that QtVoice creates in its worker threads. The test sets how the
// next engines behave and reads what they were asked to say. Safe to use from any thread.
class FakeSpeechBackend {
public:
    enum class Mode { AutoFinish, Manual }; // Manual: a text ends only on finishCurrent()

    ~FakeSpeechBackend() { release(); }

    SpeechEngineFactory factory();

    void setMode(Mode mode) {
        locked([&] { mode_ = mode; });
    }
    void failNextOpens(int count, const QString& reason) {
        locked([&] {
            openFailures_ = count;
            openFailureReason_ = reason;
        });
    }
    void hangNextOpens(int count) {
        locked([&] { openHangs_ = count; });
    }
    // Saying this text makes the engine fail, `times` times (-1: always).
    void failSays(const QString& text, int times) {
        locked([&] {
            failingText_ = text;
            failingTimes_ = times;
        });
    }
    void hangNextSays(int count) {
        locked([&] { sayHangs_ = count; });
    }
    // The engine reports Ready before it reports Speaking, as QTextToSpeech does when it resets itself.
    void setReadyBeforeSpeaking(bool on) {
        locked([&] { readyFirst_ = on; });
    }
    // The server drops the next texts before they begin, as when another program speaks.
    void dropNextSays(int count) {
        locked([&] { sayDrops_ = count; });
    }
    // The server cuts off the text being spoken (Manual mode), as when another program speaks over it.
    inline void interruptCurrent();
    int stops() const {
        QMutexLocker lock(&mutex_);
        return stops_;
    }
    // Lets every hung call go on.
    void release() { gate_.release(100000); }
    // The engine that is speaking ends its text.
    inline void finishCurrent();

    QStringList said() const {
        QMutexLocker lock(&mutex_);
        return said_;
    }
    int enginesMade() const {
        QMutexLocker lock(&mutex_);
        return made_;
    }
    int liveEngines() const {
        QMutexLocker lock(&mutex_);
        return live_;
    }
    // A text was handed to an engine while that engine was still speaking the one before.
    bool cutOff() const {
        QMutexLocker lock(&mutex_);
        return cutOff_;
    }

private:
    friend class FakeSpeechEngine;
    template <typename F> void locked(F f) {
        QMutexLocker lock(&mutex_);
        f();
    }

    mutable QMutex mutex_;
    QSemaphore gate_;
    Mode mode_ = Mode::AutoFinish;
    int openFailures_ = 0;
    QString openFailureReason_;
    int openHangs_ = 0;
    QString failingText_;
    int failingTimes_ = 0;
    int sayHangs_ = 0;
    int sayDrops_ = 0;
    int stops_ = 0;
    bool readyFirst_ = false;
    QStringList said_;
    int made_ = 0;
    int live_ = 0;
    bool cutOff_ = false;
    FakeSpeechEngine* speakingEngine_ = nullptr;
};

class FakeSpeechEngine : public SpeechEngine {
public:
    FakeSpeechEngine(FakeSpeechBackend& backend, QString startError)
        : backend_(backend), startError_(std::move(startError)) {}
    ~FakeSpeechEngine() override {
        QMutexLocker lock(&backend_.mutex_);
        --backend_.live_;
        if (backend_.speakingEngine_ == this) {
            backend_.speakingEngine_ = nullptr;
        }
    }

    QString startError() const override { return startError_; }

    void say(const QString& text) override {
        bool hang = false;
        bool fail = false;
        bool readyFirst = false;
        bool autoFinish = false;
        bool drop = false;
        {
            QMutexLocker lock(&backend_.mutex_);
            backend_.said_ << text;
            if (speaking_) {
                backend_.cutOff_ = true;
            }
            hang = backend_.sayHangs_ > 0;
            backend_.sayHangs_ -= hang ? 1 : 0;
            fail = text == backend_.failingText_ && backend_.failingTimes_ != 0;
            backend_.failingTimes_ -= (fail && backend_.failingTimes_ > 0) ? 1 : 0;
            drop = backend_.sayDrops_ > 0;
            backend_.sayDrops_ -= drop ? 1 : 0;
            readyFirst = backend_.readyFirst_;
            autoFinish = backend_.mode_ == FakeSpeechBackend::Mode::AutoFinish;
        }
        if (hang) {
            backend_.gate_.acquire();
        }
        if (fail) {
            emit stateChanged(State::Failed, QStringLiteral("fake engine failure"));
            return;
        }
        if (drop) {
            emit stateChanged(State::Interrupted, QString());
            return;
        }
        if (readyFirst) {
            emit stateChanged(State::Ready, QString());
        }
        {
            QMutexLocker lock(&backend_.mutex_);
            speaking_ = !autoFinish;
            backend_.speakingEngine_ = autoFinish ? nullptr : this;
        }
        emit stateChanged(State::Speaking, QString());
        if (autoFinish) {
            emit stateChanged(State::Ready, QString());
        }
    }

    // As a speech server does: the text being spoken ends as interrupted; nothing happens when none is.
    void stop() override {
        bool wasSpeaking = false;
        {
            QMutexLocker lock(&backend_.mutex_);
            ++backend_.stops_;
            wasSpeaking = std::exchange(speaking_, false);
            if (backend_.speakingEngine_ == this) {
                backend_.speakingEngine_ = nullptr;
            }
        }
        if (wasSpeaking) {
            emit stateChanged(State::Interrupted, QString());
        }
    }

private:
    friend class FakeSpeechBackend;
    FakeSpeechBackend& backend_;
    QString startError_;
    bool speaking_ = false; // guarded by the backend's mutex
};

inline SpeechEngineFactory FakeSpeechBackend::factory() {
    return [this]() -> std::unique_ptr<SpeechEngine> {
        bool hang = false;
        QString error;
        {
            QMutexLocker lock(&mutex_);
            ++made_;
            ++live_;
            hang = openHangs_ > 0;
            openHangs_ -= hang ? 1 : 0;
            if (openFailures_ > 0) {
                --openFailures_;
                error = openFailureReason_;
            }
        }
        if (hang) {
            gate_.acquire();
        }
        return std::make_unique<FakeSpeechEngine>(*this, error);
    };
}

inline void FakeSpeechBackend::finishCurrent() {
    QMutexLocker lock(&mutex_);
    if (FakeSpeechEngine* engine = speakingEngine_) {
        engine->speaking_ = false;
        speakingEngine_ = nullptr;
        // Emitted from the test's thread; the engine's receiver sits in its worker thread, so this is queued.
        emit engine->stateChanged(SpeechEngine::State::Ready, QString());
    }
}

inline void FakeSpeechBackend::interruptCurrent() {
    QMutexLocker lock(&mutex_);
    if (FakeSpeechEngine* engine = speakingEngine_) {
        engine->speaking_ = false;
        speakingEngine_ = nullptr;
        emit engine->stateChanged(SpeechEngine::State::Interrupted, QString());
    }
}
