// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLockFile>
#include <QString>

// Tells the first running copy of the program from a second one: the first holds a lock file until it ends.
// A lock left behind by a copy that crashed (its process is gone) does not count.
class InstanceLock {
public:
    // "parlevox.lock" in the user's runtime folder, or in the temporary folder where there is none.
    static QString defaultPath();

    explicit InstanceLock(const QString& lockFilePath = defaultPath());

    // True when this copy now holds the lock. False when another running copy holds it (heldElsewhere())
    // or when the lock file cannot be made at all (lastError() says why).
    bool tryLock();
    void unlock();

    bool heldElsewhere() const { return heldElsewhere_; }
    QString lastError() const { return lastError_; }
    QString filePath() const { return path_; }

private:
    QString path_;
    QLockFile lock_;
    bool heldElsewhere_ = false;
    QString lastError_;
};
