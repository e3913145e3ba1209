// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/InstanceLock.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

QString InstanceLock::defaultPath() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) {
        return QDir(runtime).filePath(QStringLiteral("parlevox.lock"));
    }
    // The temporary folder is shared by all users: each user gets a lock of their own.
#ifdef Q_OS_UNIX
    const QString user = QString::number(::getuid());
#else
    const QString user = qEnvironmentVariable("USERNAME");
#endif
    return QDir(QDir::tempPath()).filePath(QStringLiteral("parlevox-%1.lock").arg(user));
}

InstanceLock::InstanceLock(const QString& lockFilePath) : path_(lockFilePath), lock_(lockFilePath) {
    // A lock only ever goes stale because its process is gone, never because it is old: the first copy may
    // run for months.
    lock_.setStaleLockTime(0);
}

bool InstanceLock::tryLock() {
    heldElsewhere_ = false;
    lastError_.clear();
    QDir().mkpath(QFileInfo(path_).absolutePath());
    if (lock_.tryLock(0)) {
        return true;
    }
    switch (lock_.error()) {
    case QLockFile::LockFailedError:
        heldElsewhere_ = true;
        lastError_ = QStringLiteral("Another copy of the program holds the lock %1.").arg(path_);
        break;
    case QLockFile::PermissionError:
        lastError_ = QStringLiteral("No permission to create the lock file %1.").arg(path_);
        break;
    default:
        lastError_ = QStringLiteral("Cannot create the lock file %1.").arg(path_);
        break;
    }
    return false;
}

void InstanceLock::unlock() {
    lock_.unlock();
}
