// SPDX-License-Identifier: GPL-3.0-or-later
#include "CommandRunner.h"

CommandRunner::CommandRunner(Station& station, LineSink log, QObject* parent)
    : QObject(parent), station_(station), log_(std::move(log)) {
    pauseTimer_.setSingleShot(true);
    connect(&pauseTimer_, &QTimer::timeout, this, [this] {
        holding_ = false;
        run();
    });
    connect(&station_, &Station::requestNoted, this, [this] {
        if (waitingForClient_) {
            waitingForClient_ = false;
            holding_ = false;
            log_(QStringLiteral("# a client is here"));
            run();
        }
    });
}

void CommandRunner::enqueue(const SimCommand& command) {
    if (command.kind == SimCommand::Kind::None) {
        return;
    }
    queue_.push_back(command);
    run();
}

void CommandRunner::endOfInput() {
    inputEnded_ = true;
    run();
}

void CommandRunner::finish(int exitCode) {
    done_ = true;
    queue_.clear();
    pauseTimer_.stop();
    emit finished(exitCode);
}

void CommandRunner::run() {
    while (!done_ && !holding_ && !queue_.empty()) {
        const SimCommand command = queue_.front();
        queue_.pop_front();
        if (station_.apply(command)) {
            continue;
        }
        switch (command.kind) {
        case SimCommand::Kind::Pause:
            holding_ = true;
            pauseTimer_.start(command.ms);
            break;
        case SimCommand::Kind::WaitClient:
            if (station_.requestCount() == 0) {
                holding_ = true;
                waitingForClient_ = true;
                log_(QStringLiteral("# waiting for a client"));
            }
            break;
        case SimCommand::Kind::Echo:
            log_(QStringLiteral("# ") + escapeText(command.text));
            break;
        case SimCommand::Kind::Close:
            station_.close();
            finish(0);
            return;
        case SimCommand::Kind::Quit:
            log_(QStringLiteral("# quit"));
            finish(0);
            return;
        default:
            break;
        }
    }
    if (!done_ && inputEnded_ && !stay_ && isIdle()) {
        log_(QStringLiteral("# end of input"));
        finish(0);
    }
}
