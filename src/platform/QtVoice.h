// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/SpeechEngine.h"
#include "platform/Voice.h"

#include <QString>
#include <QTimer>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class EngineHost;
class QThread;

// How long QtVoice waits before it gives up on an engine or a text, and how hard it retries.
struct VoiceLimits {
    // A text not finished after stallBaseMs + stallPerCharMs per character is given up.
    int stallBaseMs = 30000;
    int stallPerCharMs = 150;
    // An engine that has not started by then counts as failed.
    int openTimeoutMs = 15000;
    // Pause before a failed engine is made anew; it doubles with each failure in a row, up to retryMaxMs.
    int retryFirstMs = 1000;
    int retryMaxMs = 60000;
    // A text whose engine fails under it is tried again on a fresh engine, this many times in all.
    int attemptsPerText = 2;
    // speak() refuses texts beyond this many waiting.
    int maxPending = 1000;
    // A text the speech server cut off or dropped because another program (a screen reader) spoke goes first
    // again and is spoken whole after this pause, as often as it takes; that is no failure of the engine.
    int resumeAfterInterruptMs = 300;
    // After a key press in our windows a screen reader answers the key: our next text waits this long, and one
    // handed to the speech server but not begun yet is taken back meanwhile, so that none begins just before that
    // answer and is cut off by it. 0: no such pause.
    int holdAfterKeyMs = 500;
};

// The voice of the program: our own speech-dispatcher client when the server is reachable, else QTextToSpeech
// with an installed engine, behind our own queue. An engine may cut off the text being spoken, so a text is
// handed over only when the one before it has ended. The engine runs in a worker thread: speak() never waits for the
// speech server, even a hung one. A failed engine is replaced after a growing pause, a stalled text is given up, and
// the queue goes on.
class QtVoice : public Voice {
    Q_OBJECT
public:
    // engineName empty: speech-dispatcher through our own client (speechdEngineFactory()), or when it cannot be
    // reached, QTextToSpeech's default engine, then any other installed one except its speech-dispatcher plug-in
    // (it cancels every program's speech at exit). Otherwise the named QTextToSpeech engine. Null, with the reason in
    // *error, when no engine can be started. Waits for the engine to start, running a local event loop: call it after
    // the application object exists.
    static std::unique_ptr<QtVoice> create(QString* error, const QString& engineName = QString(),
                                           const VoiceLimits& limits = VoiceLimits());
    // Any engine; the first one must start within limits.openTimeoutMs.
    static std::unique_ptr<QtVoice> create(SpeechEngineFactory factory, const VoiceLimits& limits, QString* error);

    ~QtVoice() override;

    bool speak(const QString& text) override;
    void setHeld(bool held) override;
    void silence() override;
    bool isHeld() const { return held_; }

    // Number of texts not yet ended, the one being spoken included.
    int pendingCount() const;
    // The last failure of an engine, empty when none happened.
    QString lastError() const { return lastError_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void engineStarted();
    void engineFailed(const QString& reason);

private:
    struct Item {
        QString text;
        int attempts = 0;
    };
    enum class Phase { Opening, Open, Down };

    QtVoice(SpeechEngineFactory factory, const VoiceLimits& limits);

    void openEngine();
    void retireEngine();
    void sweepRetired();
    void onOpened(int generation, bool ok, const QString& error);
    void onEngineState(int generation, SpeechEngine::State state, const QString& error);
    void onWatchdog();
    void fail(const QString& reason);
    void startNext();
    void endCurrent();
    void onKeyPressed();

    SpeechEngineFactory factory_;
    VoiceLimits limits_;
    std::deque<Item> pending_;
    std::optional<Item> current_;
    bool currentBegun_ = false;
    // silence() asked the engine to stop current_; the next text waits for the engine to report that.
    bool stopping_ = false;
    bool held_ = false;
    Phase phase_ = Phase::Down;
    QThread* thread_ = nullptr;
    EngineHost* host_ = nullptr;
    // Threads of replaced engines, told to end. Deleting a QThread waits for it, and one stuck in a hung
    // speech server may never end: each is deleted only once it has ended completely, and never waited for.
    std::vector<QThread*> retired_;
    QTimer sweep_;
    int generation_ = 0;
    int failuresInRow_ = 0;
    QTimer watchdog_;
    QTimer retry_;
    QTimer resume_;
    QTimer keyHold_;
    QString lastError_;
};
