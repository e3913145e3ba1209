// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <memory>

// Reads lines from a file descriptor (stdin) as they arrive, without blocking the event loop.
class LineReader : public QObject {
    Q_OBJECT
public:
    explicit LineReader(int fd, QObject* parent = nullptr);
    // Starts reading; lines and the end arrive as signals from the event loop.
    void start();

Q_SIGNALS:
    void lineRead(const QString& line);
    void ended();

private:
    void readSome();
    void finish();

    int fd_;
    QByteArray pending_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool ended_ = false;
};
