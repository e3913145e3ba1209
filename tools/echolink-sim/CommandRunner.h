// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SimCommand.h"
#include "Station.h"

#include <QObject>
#include <QTimer>
#include <deque>

// Runs commands in order: station commands at once, "pause" and "wait-client" hold the queue, "close"
// and "quit" end the program. When the input has ended and the queue is empty, the program ends too,
// unless it was told to stay.
class CommandRunner : public QObject {
    Q_OBJECT
public:
    CommandRunner(Station& station, LineSink log, QObject* parent = nullptr);

    void enqueue(const SimCommand& command);
    void endOfInput();
    void setStayAfterInput(bool stay) { stay_ = stay; }
    bool isIdle() const { return queue_.empty() && !holding_; }

Q_SIGNALS:
    // The program should end with this exit code.
    void finished(int exitCode);

private:
    void run();
    void finish(int exitCode);

    Station& station_;
    LineSink log_;
    std::deque<SimCommand> queue_;
    QTimer pauseTimer_;
    bool holding_ = false; // a pause or wait-client is in progress
    bool waitingForClient_ = false;
    bool inputEnded_ = false;
    bool stay_ = false;
    bool done_ = false;
};
