// SPDX-License-Identifier: GPL-3.0-or-later
// Run with "--hold-lock <path>", this binary is the other copy of the program: it takes the lock, says
// "locked" and holds the lock until its standard input closes.
#include "InstanceLock.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

namespace {

int holdLock(const QString& path) {
    InstanceLock lock(path);
    if (!lock.tryLock()) {
        std::printf("busy\n");
        return 2;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}

} // namespace

class InstanceLockTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString path_;

    bool startHolder(QProcess& holder) {
        holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-lock"), path_});
        if (!holder.waitForStarted()) {
            return false;
        }
        while (!holder.canReadLine()) {
            if (!holder.waitForReadyRead(10000)) {
                return false;
            }
        }
        return holder.readLine().trimmed() == "locked";
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        path_ = dir_->filePath(QStringLiteral("parlevox.lock"));
    }

    void lockHeldByRunningCopy_refused_thenTakenOnceItIsKilled_andHeldAgainstTheNext() {
        QProcess holder;
        QVERIFY(startHolder(holder));
        InstanceLock second(path_);
        QVERIFY(!second.tryLock());
        QVERIFY(second.heldElsewhere());
        QVERIFY(!second.lastError().isEmpty());

        holder.kill();
        QVERIFY(holder.waitForFinished(10000));
        QVERIFY(QFile::exists(path_)); // left behind, as after a crash
        QVERIFY2(second.tryLock(), qPrintable(second.lastError()));
        QVERIFY(!second.heldElsewhere());
        QProcess third;
        third.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-lock"), path_});
        QVERIFY(third.waitForFinished(10000));
        QCOMPARE(third.exitCode(), 2);
    }

    void lockFileNamingDeadProcess_isTakenOver() {
        QProcess gone; // its process number is certainly not running afterwards
        gone.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--exit")});
        QVERIFY(gone.waitForStarted());
        const qint64 deadPid = gone.processId();
        QVERIFY(gone.waitForFinished(10000));

        QFile file(path_);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(deadPid) + '\n' + QCoreApplication::applicationName().toUtf8() + '\n' +
                   QSysInfo::machineHostName().toUtf8() + '\n');
        file.close();

        InstanceLock lock(path_);
        QVERIFY2(lock.tryLock(), qPrintable(lock.lastError()));
    }

    void lockInMissingFolder_folderMade() {
        path_ = dir_->filePath(QStringLiteral("runtime/parlevox.lock"));
        InstanceLock lock(path_);
        QVERIFY2(lock.tryLock(), qPrintable(lock.lastError()));
        QVERIFY(QFile::exists(path_));
        lock.unlock();
        QVERIFY(!QFile::exists(path_));
    }

    void lockWhereNoFileCanBeMade_failsWithReason_notHeldElsewhere() {
        const QString blocker = dir_->filePath(QStringLiteral("plainfile"));
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly)); // a file where the folder should be
        InstanceLock lock(blocker + QStringLiteral("/parlevox.lock"));
        QVERIFY(!lock.tryLock());
        QVERIFY(!lock.heldElsewhere());
        QVERIFY(lock.lastError().contains(blocker));
    }
};

int main(int argc, char* argv[]) {
    if (argc == 2 && qstrcmp(argv[1], "--exit") == 0) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--hold-lock") == 0) {
        return holdLock(QString::fromLocal8Bit(argv[2]));
    }
    InstanceLockTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "InstanceLockTest.moc"
