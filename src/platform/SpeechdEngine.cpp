// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SpeechdEngine.h"

#include <QLocale>
#include <QMultiHash>
#include <QMutex>
#include <QMutexLocker>
#include <cstdlib>
#include <libspeechd.h>

namespace {

constexpr SPDPriority kPriority = SPD_TEXT;

class SpeechdEngine;

// libspeechd's callbacks carry no context of ours, only the server's number for the connection; this finds the
// engine, from the library's event thread. Connections of a server started anew may share a number with the
// one before: each engine also checks that the message is its own.
struct Registry {
    QMutex mutex;
    QMultiHash<size_t, SpeechdEngine*> engines;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

class SpeechdEngine : public SpeechEngine {
public:
    SpeechdEngine() {
        char* error = nullptr;
        connection_ = spd_open2("parlevox", "main", nullptr, SPD_MODE_THREADED, nullptr, 1, &error);
        if (!connection_) {
            startError_ = QStringLiteral("Could not connect to speech-dispatcher: %1")
                              .arg(error ? QString::fromLocal8Bit(error) : QStringLiteral("unknown error"));
            std::free(error);
            return;
        }
        std::free(error);
        clientId_ = spd_get_client_id(connection_);
        {
            QMutexLocker lock(&registry().mutex);
            registry().engines.insert(size_t(clientId_), this);
        }
        connection_->callback_begin = &SpeechdEngine::onEvent;
        connection_->callback_end = &SpeechdEngine::onEvent;
        connection_->callback_cancel = &SpeechdEngine::onEvent;
        for (SPDNotification kind : {SPD_BEGIN, SPD_END, SPD_CANCEL}) {
            if (spd_set_notification_on(connection_, kind) != 0) {
                startError_ = QStringLiteral("speech-dispatcher did not agree to report the end of texts.");
                return;
            }
        }
        // The user's language, as other programs ask for it; the plain C locale leaves the server's default.
        const QLocale locale = QLocale::system();
        if (locale.language() != QLocale::C) {
            spd_set_language(connection_, QLocale::languageToCode(locale.language()).toLatin1().constData());
        }
    }

    ~SpeechdEngine() override {
        if (!connection_) {
            return;
        }
        {
            QMutexLocker lock(&registry().mutex);
            registry().engines.remove(size_t(clientId_), this);
        }
        // Closing only hangs up: our own text may end early, no other program's does.
        spd_close(connection_);
    }

    QString startError() const override { return startError_; }

    void say(const QString& text) override {
        const int id = spd_say(connection_, kPriority, text.toUtf8().constData());
        if (id < 0) {
            emit stateChanged(State::Failed, QStringLiteral("speech-dispatcher did not take the text."));
            return;
        }
        // Its first events may already be on their way: they reach handle() only after this returns.
        current_ = id;
    }

    void stop() override {
        if (current_ < 0) {
            return; // its end is reported already
        }
        // CANCEL self: this connection's texts only. The server answers with the text's end or cancel event.
        if (spd_cancel(connection_) != 0) {
            emit stateChanged(State::Failed, QStringLiteral("speech-dispatcher did not stop the text."));
        }
    }

private:
    static void onEvent(size_t messageId, size_t clientId, SPDNotificationType type) {
        QMutexLocker lock(&registry().mutex);
        const auto engines = registry().engines.values(clientId);
        for (SpeechdEngine* engine : engines) {
            QMetaObject::invokeMethod(
                engine, [engine, messageId, type] { engine->handle(int(messageId), type); }, Qt::QueuedConnection);
        }
    }

    void handle(int messageId, SPDNotificationType type) {
        if (messageId != current_) {
            return;
        }
        switch (type) {
        case SPD_EVENT_BEGIN:
            emit stateChanged(State::Speaking, QString());
            break;
        case SPD_EVENT_END:
            current_ = -1;
            emit stateChanged(State::Ready, QString());
            break;
        case SPD_EVENT_CANCEL:
            current_ = -1;
            emit stateChanged(State::Interrupted, QString());
            break;
        default:
            break;
        }
    }

    SPDConnection* connection_ = nullptr;
    QString startError_;
    int clientId_ = -1;
    int current_ = -1; // the server's number of the text being spoken, -1 when none
};

} // namespace

SpeechEngineFactory speechdEngineFactory() {
    return []() -> std::unique_ptr<SpeechEngine> { return std::make_unique<SpeechdEngine>(); };
}
