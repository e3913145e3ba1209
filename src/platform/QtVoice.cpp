// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtVoice.h"

#include "platform/PlatformLogging.h"
#include "platform/SpeechdEngine.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTextToSpeech>
#include <QThread>
#include <algorithm>
#include <limits>
#include <utility>

// Owns one engine inside its worker thread; every call into the engine happens here.
class EngineHost : public QObject {
    Q_OBJECT
public:
    EngineHost(SpeechEngineFactory factory, int generation) : factory_(std::move(factory)), generation_(generation) {}

    void open() {
        engine_ = factory_ ? factory_() : nullptr;
        QString error = engine_ ? engine_->startError() : QStringLiteral("No speech engine could be created.");
        if (!error.isEmpty()) {
            engine_.reset();
            emit opened(generation_, false, error);
            return;
        }
        connect(
            engine_.get(), &SpeechEngine::stateChanged, this,
            [this](SpeechEngine::State state, const QString& text) { emit stateChanged(generation_, state, text); });
        emit opened(generation_, true, QString());
    }

    void say(const QString& text) {
        if (engine_) {
            engine_->say(text);
        }
    }

    void stop() {
        if (engine_) {
            engine_->stop();
        }
    }

signals:
    void opened(int generation, bool ok, const QString& error);
    void stateChanged(int generation, SpeechEngine::State state, const QString& error);

private:
    SpeechEngineFactory factory_;
    int generation_;
    std::unique_ptr<SpeechEngine> engine_;
};

namespace {

// QTextToSpeech as a SpeechEngine.
class QtSpeechEngine : public SpeechEngine {
public:
    explicit QtSpeechEngine(const QString& name)
        : tts_(name.isEmpty() ? new QTextToSpeech(this) : new QTextToSpeech(name, this)) {
        connect(tts_, &QTextToSpeech::stateChanged, this, [this](QTextToSpeech::State state) {
            switch (state) {
            case QTextToSpeech::Ready:
                // The end of a text stopped by stop(), which already reported it.
                if (std::exchange(stopped_, false)) {
                    break;
                }
                emit stateChanged(State::Ready, QString());
                break;
            case QTextToSpeech::Speaking:
                emit stateChanged(State::Speaking, QString());
                break;
            case QTextToSpeech::Error:
                emit stateChanged(State::Failed, describeError());
                break;
            case QTextToSpeech::Paused: // never paused by us
                break;
            }
        });
        connect(tts_, &QTextToSpeech::errorOccurred, this, [this](QTextToSpeech::ErrorReason, const QString&) {
            emit stateChanged(State::Failed, describeError());
        });
    }

    QString startError() const override {
        if (QTextToSpeech::availableEngines().isEmpty()) {
            return QStringLiteral("No text-to-speech engine is installed.");
        }
        // A configuration error only means that no voice matches the system language; the engine still
        // speaks with its own default voice.
        if (tts_->state() == QTextToSpeech::Error && tts_->errorReason() != QTextToSpeech::ErrorReason::Configuration) {
            return describeError();
        }
        return QString();
    }

    void say(const QString& text) override {
        stopped_ = false;
        tts_->say(text);
    }

    void stop() override {
        if (tts_->state() != QTextToSpeech::Speaking) {
            return; // its end is reported already
        }
        stopped_ = true;
        tts_->stop();
        emit stateChanged(State::Interrupted, QString());
    }

private:
    QString describeError() const {
        const QString name = tts_->engine().isEmpty() ? QStringLiteral("text-to-speech") : tts_->engine();
        const QString why = tts_->errorString().isEmpty() ? QStringLiteral("unknown error") : tts_->errorString();
        return QStringLiteral("The %1 speech engine failed: %2").arg(name, why);
    }

    QTextToSpeech* tts_;
    bool stopped_ = false;
};

SpeechEngineFactory qtEngineFactory(const QString& name) {
    return [name]() -> std::unique_ptr<SpeechEngine> { return std::make_unique<QtSpeechEngine>(name); };
}

int stallLimitMs(const QString& text, const VoiceLimits& limits) {
    const qint64 ms = qint64(limits.stallBaseMs) + qint64(limits.stallPerCharMs) * text.size();
    return int(std::min<qint64>(ms, std::numeric_limits<int>::max()));
}

} // namespace

std::unique_ptr<QtVoice> QtVoice::create(QString* error, const QString& engineName, const VoiceLimits& limits) {
    if (!engineName.isEmpty()) {
        return create(qtEngineFactory(engineName), limits, error);
    }
    QStringList reasons;
    QString reason;
    if (auto voice = create(speechdEngineFactory(), limits, &reason)) {
        return voice;
    }
    reasons << reason;
    // Then any other installed engine: anything is better than silence.
    QStringList engines = QTextToSpeech::availableEngines();
    engines.removeAll(QStringLiteral("speechd"));
    for (const QString& name : engines) {
        if (auto voice = create(qtEngineFactory(name), limits, &reason)) {
            return voice;
        }
        reasons << reason;
    }
    if (error) {
        *error = QStringLiteral("No speech engine could be started. %1").arg(reasons.join(QLatin1Char(' ')));
    }
    return nullptr;
}

std::unique_ptr<QtVoice> QtVoice::create(SpeechEngineFactory factory, const VoiceLimits& limits, QString* error) {
    std::unique_ptr<QtVoice> voice(new QtVoice(std::move(factory), limits));
    QEventLoop loop;
    connect(voice.get(), &QtVoice::engineStarted, &loop, &QEventLoop::quit);
    connect(voice.get(), &QtVoice::engineFailed, &loop, &QEventLoop::quit);
    voice->openEngine();
    loop.exec();
    if (voice->phase_ != Phase::Open) {
        if (error) {
            *error = voice->lastError_;
        }
        return nullptr;
    }
    return voice;
}

QtVoice::QtVoice(SpeechEngineFactory factory, const VoiceLimits& limits)
    : factory_(std::move(factory)), limits_(limits) {
    watchdog_.setSingleShot(true);
    retry_.setSingleShot(true);
    resume_.setSingleShot(true);
    connect(&watchdog_, &QTimer::timeout, this, &QtVoice::onWatchdog);
    connect(&retry_, &QTimer::timeout, this, &QtVoice::openEngine);
    connect(&resume_, &QTimer::timeout, this, &QtVoice::startNext);
    keyHold_.setSingleShot(true);
    connect(&keyHold_, &QTimer::timeout, this, &QtVoice::startNext);
    if (limits_.holdAfterKeyMs > 0 && QCoreApplication::instance()) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    sweep_.setInterval(1000);
    connect(&sweep_, &QTimer::timeout, this, &QtVoice::sweepRetired);
}

// Healthy threads end within moments and are deleted. A thread stuck in a hung speech server is left
// running and its QThread object is never deleted, so that ending the program never waits for it; it
// goes with the process.
QtVoice::~QtVoice() {
    retireEngine();
    const QDeadlineTimer grace(1000);
    for (QThread* thread : retired_) {
        if (thread->wait(grace)) {
            delete thread;
        }
    }
    retired_.clear();
}

bool QtVoice::speak(const QString& text) {
    // An empty text has nothing to say, and QTextToSpeech would never report its end.
    if (text.isEmpty()) {
        return true;
    }
    if (pendingCount() >= limits_.maxPending) {
        return false;
    }
    pending_.push_back(Item{text, 0});
    startNext();
    return true;
}

void QtVoice::setHeld(bool held) {
    held_ = held;
    startNext();
}

void QtVoice::silence() {
    pending_.clear();
    resume_.stop();
    if (current_ && !stopping_ && phase_ == Phase::Open) {
        stopping_ = true;
        QMetaObject::invokeMethod(host_, &EngineHost::stop, Qt::QueuedConnection);
    }
}

int QtVoice::pendingCount() const {
    return int(pending_.size()) + (current_ && !stopping_ ? 1 : 0);
}

void QtVoice::openEngine() {
    retireEngine();
    const int generation = ++generation_;
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("speech"));
    host_ = new EngineHost(factory_, generation);
    host_->moveToThread(thread_);
    // The host, and with it the engine, goes in its own thread as the thread ends.
    connect(thread_, &QThread::finished, host_, &QObject::deleteLater);
    connect(host_, &EngineHost::opened, this, &QtVoice::onOpened);
    connect(host_, &EngineHost::stateChanged, this, &QtVoice::onEngineState);
    phase_ = Phase::Opening;
    watchdog_.start(limits_.openTimeoutMs);
    thread_->start();
    QMetaObject::invokeMethod(host_, &EngineHost::open, Qt::QueuedConnection);
}

// A thread stuck in a hung speech server cannot be stopped: it is told to end and left to do so whenever
// the server lets it go.
void QtVoice::retireEngine() {
    ++generation_;
    if (!thread_) {
        return;
    }
    disconnect(host_, nullptr, this, nullptr);
    thread_->quit();
    retired_.push_back(thread_);
    thread_ = nullptr;
    host_ = nullptr;
    if (!sweep_.isActive()) {
        sweep_.start();
    }
}

void QtVoice::sweepRetired() {
    // wait() with an expired deadline only looks: true once the thread has ended completely, when
    // deleting it no longer waits.
    std::erase_if(retired_, [](QThread* thread) {
        if (!thread->wait(QDeadlineTimer(0))) {
            return false;
        }
        delete thread;
        return true;
    });
    if (retired_.empty()) {
        sweep_.stop();
    }
}

void QtVoice::onOpened(int generation, bool ok, const QString& error) {
    if (generation != generation_ || phase_ != Phase::Opening) {
        return;
    }
    watchdog_.stop();
    if (!ok) {
        fail(error);
        return;
    }
    phase_ = Phase::Open;
    failuresInRow_ = 0;
    emit engineStarted();
    startNext();
}

void QtVoice::onEngineState(int generation, SpeechEngine::State state, const QString& error) {
    if (generation != generation_ || phase_ != Phase::Open) {
        return;
    }
    switch (state) {
    case SpeechEngine::State::Failed:
        fail(error.isEmpty() ? QStringLiteral("The speech engine failed.") : error);
        break;
    case SpeechEngine::State::Speaking:
        currentBegun_ = current_.has_value();
        break;
    case SpeechEngine::State::Ready:
        // Only Speaking followed by Ready ends a text; a Ready before that belongs to no text of ours.
        if (current_ && (currentBegun_ || stopping_)) {
            endCurrent();
        }
        break;
    case SpeechEngine::State::Interrupted:
        if (!current_) {
            break;
        }
        if (stopping_) {
            endCurrent();
            break;
        }
        // Another program spoke over it: heard in part or not at all, so it is said again, whole, once the
        // server had a moment for the other program. The engine did nothing wrong; no attempt is used up.
        --current_->attempts;
        pending_.push_front(*current_);
        current_.reset();
        watchdog_.stop();
        resume_.start(limits_.resumeAfterInterruptMs);
        break;
    }
}

bool QtVoice::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        onKeyPressed();
    }
    return QObject::eventFilter(watched, event);
}

void QtVoice::onKeyPressed() {
    keyHold_.start(limits_.holdAfterKeyMs);
    // Taken back, it ends as interrupted and goes first again once the pause is over; one already begun goes on.
    if (current_ && !currentBegun_ && !stopping_ && phase_ == Phase::Open) {
        QMetaObject::invokeMethod(host_, &EngineHost::stop, Qt::QueuedConnection);
    }
}

void QtVoice::endCurrent() {
    current_.reset();
    stopping_ = false;
    watchdog_.stop();
    startNext();
}

void QtVoice::onWatchdog() {
    if (phase_ == Phase::Opening) {
        fail(QStringLiteral("The speech engine did not start within %1 seconds.").arg(limits_.openTimeoutMs / 1000.0));
        return;
    }
    if (!current_) {
        return;
    }
    // The engine never finished this text. It may be hung, so a fresh one takes over the rest of the queue.
    lastError_ = QStringLiteral("The speech engine did not finish a text in time; the text was given up.");
    qCWarning(lcVoice, "%s", qUtf8Printable(lastError_));
    current_.reset();
    stopping_ = false;
    openEngine();
}

void QtVoice::fail(const QString& reason) {
    lastError_ = reason;
    qCWarning(lcVoice, "%s", qUtf8Printable(reason));
    watchdog_.stop();
    if (current_ && std::exchange(stopping_, false)) {
        current_.reset(); // silenced: not wanted any more
    }
    if (current_) {
        // The text may not have been heard at all: it goes first again, unless it already had its chances.
        if (current_->attempts < limits_.attemptsPerText) {
            pending_.push_front(*current_);
        } else {
            qCWarning(lcVoice, "A text was given up after %d failed attempts to speak it.", current_->attempts);
        }
        current_.reset();
    }
    retireEngine();
    phase_ = Phase::Down;
    ++failuresInRow_;
    int delay = std::max(limits_.retryFirstMs, 0);
    for (int i = 1; i < failuresInRow_ && delay < limits_.retryMaxMs; ++i) {
        delay *= 2;
    }
    retry_.start(std::min(delay, limits_.retryMaxMs));
    emit engineFailed(reason);
}

void QtVoice::startNext() {
    if (held_ || phase_ != Phase::Open || current_ || pending_.empty() || resume_.isActive() || keyHold_.isActive()) {
        return;
    }
    current_ = pending_.front();
    pending_.pop_front();
    ++current_->attempts;
    currentBegun_ = false;
    watchdog_.start(stallLimitMs(current_->text, limits_));
    QMetaObject::invokeMethod(
        host_, [host = host_, text = current_->text] { host->say(text); }, Qt::QueuedConnection);
}

#include "QtVoice.moc"
