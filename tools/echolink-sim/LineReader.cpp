// SPDX-License-Identifier: GPL-3.0-or-later
#include "LineReader.h"

#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

LineReader::LineReader(int fd, QObject* parent) : QObject(parent), fd_(fd) {}

void LineReader::start() {
    if (::fcntl(fd_, F_GETFD) < 0) {
        // No stdin at all (closed by whoever started us): the input has ended.
        QTimer::singleShot(0, this, &LineReader::finish);
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &LineReader::readSome);
}

void LineReader::readSome() {
    char buffer[4096];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (n <= 0) {
        finish();
        return;
    }
    pending_.append(buffer, n);
    qsizetype newline;
    while ((newline = pending_.indexOf('\n')) >= 0) {
        const QByteArray line = pending_.left(newline);
        pending_.remove(0, newline + 1);
        emit lineRead(QString::fromUtf8(line));
    }
}

void LineReader::finish() {
    if (ended_) {
        return;
    }
    ended_ = true;
    if (notifier_) {
        notifier_->setEnabled(false);
    }
    if (!pending_.isEmpty()) {
        // A last line without a line end still counts.
        emit lineRead(QString::fromUtf8(pending_));
        pending_.clear();
    }
    emit ended();
}
