// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/InstanceLock.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

class InstanceLockTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    // Another copy of the program: this binary, run with --hold-lock.
    static bool startCopy(QProcess& copy, const QString& path) {
        copy.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-lock"), path});
        return copy.waitForReadyRead(10000) && copy.readLine() == "locked\n";
    }

private slots:
    void heldByRunningCopy_refused_takenOnceItIsKilled_thenHeldAgainstTheNext() {
        const QString path = dir_.filePath(QStringLiteral("parlevox.lock"));
        QProcess first, third;
        QVERIFY(startCopy(first, path));
        InstanceLock second(path);
        QVERIFY(!second.tryLock());
        QVERIFY(second.heldElsewhere() && !second.lastError().isEmpty());
        first.kill(); // its lock file stays behind, naming a process that is gone
        QVERIFY(first.waitForFinished(10000) && QFile::exists(path));
        QVERIFY2(second.tryLock(), qPrintable(second.lastError()));
        QVERIFY(!second.heldElsewhere());
        QVERIFY(!startCopy(third, path));
        QVERIFY(third.waitForFinished(10000) && third.exitCode() == 2);
    }

    void lockInMissingFolder_folderMade_fileGoneOnUnlock() {
        InstanceLock lock(dir_.filePath(QStringLiteral("runtime/parlevox.lock")));
        QVERIFY2(lock.tryLock(), qPrintable(lock.lastError()));
        QVERIFY(QFile::exists(lock.filePath()));
        lock.unlock();
        QVERIFY(!QFile::exists(lock.filePath()));
    }

    void noLockFileCanBeMade_failsWithReason_notHeldElsewhere() {
        const QString blocker = dir_.filePath(QStringLiteral("plainfile"));
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly)); // a file where the folder should be
        InstanceLock lock(blocker + QStringLiteral("/parlevox.lock"));
        QVERIFY(!lock.tryLock());
        QVERIFY(!lock.heldElsewhere());
        QVERIFY2(lock.lastError().contains(blocker), qPrintable(lock.lastError()));
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--hold-lock") == 0) {
        InstanceLock lock(QString::fromLocal8Bit(argv[2]));
        const bool locked = lock.tryLock();
        std::printf(locked ? "locked\n" : "busy\n");
        std::fflush(stdout);
        while (locked && std::getchar() != EOF) {
        }
        return locked ? 0 : 2;
    }
    InstanceLockTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "InstanceLockTest.moc"
