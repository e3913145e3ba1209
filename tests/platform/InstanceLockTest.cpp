// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/InstanceLock.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

class InstanceLockTest : public QObject {
    Q_OBJECT

    // Another copy of the program: this binary, run with --hold-lock.
    static bool startCopy(QProcess& copy, const QString& path) {
        copy.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-lock"), path});
        return copy.waitForReadyRead(10000) && copy.readLine() == "locked\n";
    }

private slots:
    // The first copy makes the missing folder; a lock file that cannot be made is told apart from a running copy.
    void heldByRunningCopyOnly_takenOnceItIsKilled_unmakeableToldApart_goneOnUnlock() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("runtime/parlevox.lock"));
        QProcess first, third;
        QVERIFY(startCopy(first, path));
        InstanceLock second(path), blocked(path + QStringLiteral("/parlevox.lock"));
        QVERIFY(!second.tryLock() && second.heldElsewhere() && !second.lastError().isEmpty());
        first.kill(); // its lock file stays behind, naming a process that is gone
        QVERIFY(first.waitForFinished(10000) && QFile::exists(path));
        QVERIFY2(second.tryLock() && !second.heldElsewhere(), qPrintable(second.lastError()));
        QVERIFY(!startCopy(third, path));
        QVERIFY(third.waitForFinished(10000) && third.exitCode() == 2);
        QVERIFY(!blocked.tryLock() && !blocked.heldElsewhere()); // the lock file is where its folder should be
        QVERIFY2(blocked.lastError().contains(path), qPrintable(blocked.lastError()));
        second.unlock();
        QVERIFY(!QFile::exists(path));
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
