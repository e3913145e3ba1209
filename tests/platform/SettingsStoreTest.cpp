// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SettingsStore.h"

#include "DataRow.h"
#include "platform/ConfigPaths.h"
#include "platform/InstanceLock.h"

#include <QtTest>
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

class SettingsStoreTest : public QObject {
    Q_OBJECT

private slots:
    // writes: "section|key=value|key=value" (one writeAll each; "!section|key|key": refused), "¦" between them; reads
    // after them: "section|key=value", "-" for the default. A null "before" is no file at all.
    void write_changesItsLineAndKeepsEveryOtherByte_data() {
        columns<QByteArray, QString, QByteArray, QString>("before", "writes", "after", "reads");
        row("names match without regard to case or spaces", QByteArray("[ Sa ]\nka=1\n  Kb =2\n"),
            "SA|KA=3¦\tN\u00A0|\u00A0K =w", QByteArray("[ Sa ]\nka=3\n  Kb =2\n\n[N]\nK=w\n"),
            "sa| Ka=3¦SA|KB=2¦n|k=w");
        row("other lines byte for byte, no final newline",
            QByteArray("o=x\n[O]\nL=1\njunk\n\n[S]\n;T=9\nT=5\n \n[T\nx=y"), "S|L=7¦N|K=v",
            QByteArray("o=x\n[O]\nL=1\njunk\n\n[S]\n;T=9\nT=5\nL=7\n \n[T\nx=y\n\n[N]\nK=v\n"),
            "O|L=1¦S|o=-¦S|T=5¦T|x=y");
        row("duplicates: the first is read and updated", QByteArray("[S]\nA=1\nA=2\n[S]\nB=3\n"), "S|a=new¦S|B=4",
            QByteArray("[S]\nA=new\nA=2\n[S]\nB=4\n"), "S|A=new");
        row("CRLF file with BOM stays so", QByteArray("\xEF\xBB\xBF[S]\r\nLEFT=300\r\n"), "S|LEFT=10¦S|TOP=20",
            QByteArray("\xEF\xBB\xBF[S]\r\nLEFT=10\r\nTOP=20\r\n"), "S|LEFT=10");
        row("values as they are; UTF-8 kept", QByteArray("[S]\nü=ü\n"), "S|A=a=b|B=;c|C= s |D=\"q\"|E=[S]|F=\\|G=é",
            QByteArray("[S]\nü=ü\nA=a=b\nB=;c\nC= s \nD=\"q\"\nE=[S]\nF=\\\nG=é\n"), "S|A=a=b¦S|B=;c¦S|C= s ¦S|ü=ü");
        row("line break in a value adds no key", QByteArray(), "S|F=one\r\nCALLSIGN=EVIL\ntwo\rthree",
            QByteArray("[S]\nF=one CALLSIGN=EVIL two three\n"), "S|CALLSIGN=-¦S|F=one CALLSIGN=EVIL two three");
        row("names that cannot be stored: refused", QByteArray("[S]\nA=1\n"),
            "!S|A=B¦!S| ¦!A]B|K¦!S\nT|K¦!S|;C¦!S|[D¦!S|OK|B\nK", QByteArray("[S]\nA=1\n"), "S|OK=-");
        row("BOM starting names and values kept", QByteArray(), "S|K=\uFEFF¦\uFEFFS|\uFEFFK=\uFEFFv",
            QByteArray("[S]\nK=\xEF\xBB\xBF\n\n[\xEF\xBB\xBFS]\n\xEF\xBB\xBFK=\xEF\xBB\xBFv\n"),
            "S|K=\uFEFF¦\uFEFFS|\uFEFFK=\uFEFFv");
        const QString wide = QString(263, QLatin1Char('x')) + QStringLiteral("\U0001F4FBy");
        row("long value stored whole, read as 264 characters, no half character", QByteArray(),
            QStringLiteral("S|K=") + wide, "[S]\nK=" + wide.toUtf8() + '\n',
            QStringLiteral("S|K=") + QString(263, QLatin1Char('x')));
        QByteArray junk;
        for (int i = 0; i < 4096; ++i) {
            junk += char((i * 7919 + 13) % 256 == '\n' ? 'x' : (i * 7919 + 13) % 256); // NULs, broken UTF-8
        }
        row("binary junk: default read, junk kept", junk, "S|LEFT=5", junk + "\n\n[S]\nLEFT=5\n", "S|LEFT=5¦S|TOP=-");
        const QByteArray old("[S]\r\nN=Fu\xdf\r\nC=\x80 5 \x81\x8d\x8f\x90\x9d\r\n");
        const QString same = QStringLiteral("S|N=Fuß¦S|C=€ 5 \u0081\u008D\u008F\u0090\u009D");
        row("Windows-1252 read in its letters, saved byte for byte", old, same, old, same);
        row("Windows-1252: new keys and sections in it", QByteArray("[S]\nN=\xfc\n"), "S|Q=Zürich – 5 €¦Ä|Ö=ÿ",
            QByteArray("[S]\nN=\xfc\nQ=Z\xfcrich \x96 5 \x80\n\n[\xc4]\n\xd6=\xff\n"), "S|Q=Zürich – 5 €¦ä|ö=ÿ¦S|N=ü");
        row("value Windows-1252 cannot hold: whole file UTF-8", QByteArray("; \xa9\n[S]\nN=\xfc\n\x80=\x81\n"),
            "S|Q=Kraków ✓", QByteArray("; ©\n[S]\nN=ü\n€=\u0081\nQ=Kraków ✓\n"), "S|N=ü¦S|€=\u0081¦S|Q=Kraków ✓");
        row("section name Windows-1252 cannot hold: its value UTF-8 too", QByteArray("[S]\nA=caf\xe9\n"), "Łódź|K=é",
            QByteArray("[S]\nA=café\n\n[Łódź]\nK=é\n"), "S|A=café¦Łódź|K=é");
        row("Windows-1252 that would read as UTF-8 after the write: UTF-8", QByteArray("[S]\nA=\xff\nB=\xc3\xa9\n"),
            "S|A=x", QByteArray("[S]\nA=x\nB=Ã©\n"), "S|B=Ã©");
        row("UTF-8 cut off at the end is Windows-1252", QByteArray("[S]\nA=caf\xc3"), "S|B=x",
            QByteArray("[S]\nA=caf\xc3\nB=x\n"), "S|A=cafÃ");
    }
    void write_changesItsLineAndKeepsEveryOtherByte() {
        QFETCH(QByteArray, before);
        QFETCH(QString, writes);
        QFETCH(QString, reads);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("p.ini"));
        QVERIFY(before.isNull() || writeFile(path, before));
        SettingsStore store(path);
        for (QString w : writes.split(u'¦', Qt::SkipEmptyParts)) {
            const bool refused = w.startsWith(QLatin1Char('!'));
            QStringList parts = w.remove(0, refused ? 1 : 0).split(QLatin1Char('|'));
            SettingsStore::Entries entries;
            for (const QString& e : parts.mid(1)) {
                entries.append({refused ? e : e.section(QLatin1Char('='), 0, 0), e.section(QLatin1Char('='), 1)});
            }
            QVERIFY2(store.writeAll(parts.first(), entries) != refused, qPrintable(w));
            QCOMPARE(store.lastError().isEmpty(), !refused);
        }
        QTEST(readFile(store.filePath()), "after");
        for (const QString& r : reads.split(u'¦')) {
            const QString section = r.section(QLatin1Char('|'), 0, 0), entry = r.section(QLatin1Char('|'), 1);
            QCOMPARE(store.read(section, entry.section(QLatin1Char('='), 0, 0), QStringLiteral("-")),
                     entry.section(QLatin1Char('='), 1));
        }
    }

    // The main file goes in the user's config folder, made on the first write only. Where a later write cannot
    // finish, the old file stays whole, nothing else is left, and the store says why.
    void configFile_madeOnFirstWrite_unfinishedWriteLeavesOldFileAndSaysWhy() {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("cfg")), s = QStringLiteral("S"), a = QStringLiteral("A");
        qputenv("XDG_CONFIG_HOME", folder.toUtf8());
        QCOMPARE(ConfigPaths::internetSettingsFile(), folder + QStringLiteral("/parlevoxinet.ini"));
        const QString path = ConfigPaths::mainSettingsFile();
        SettingsStore store(path), blocked(path + QStringLiteral("/x/p.ini")); // a file where its folder should be
        QVERIFY(store.read(s, a, QStringLiteral("2")) == QStringLiteral("2") && !QDir(folder).exists());
        QVERIFY(store.write(s, a, QStringLiteral("1")));
        const auto oldFileAlone = [&] {
            return QDir(folder).entryList(QDir::Files | QDir::Hidden) == QStringList{QStringLiteral("parlevox.ini")} &&
                   readFile(path) == "[S]\nA=1\n";
        };
        store.setBeforeReplaceHook([] { return false; });
        QVERIFY2(!store.write(s, a, QStringLiteral("2")) && store.lastError().contains(path),
                 qPrintable(store.lastError()));
        QVERIFY2(!blocked.write(s, a, QStringLiteral("2")) && blocked.lastError().contains(path),
                 qPrintable(blocked.lastError()));
        QVERIFY(oldFileAlone());
        const pid_t child = ::fork();
        if (child == 0) {
            store.setBeforeReplaceHook([]() -> bool { ::_exit(42); }); // no clean-up of any kind runs
            store.write(s, a, QStringLiteral("2"));
            ::_exit(1);
        }
        int status = 0;
        QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child && WEXITSTATUS(status) == 42 && oldFileAlone());
        QVERIFY(SettingsStore(path).write(s, QStringLiteral("B"), QStringLiteral("3")));
        QCOMPARE(readFile(path), QByteArray("[S]\nA=1\nB=3\n"));
    }

    // The first copy makes the missing folder; a lock file that cannot be made is told apart from a running copy.
    void instanceLock_heldByRunningCopyOnly_takenOnceItIsKilled_unmakeableToldApart_goneOnUnlock() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("runtime/parlevox.lock"));
        const pid_t first = ::fork();
        if (first == 0) { // another copy of the program, holding the lock until it is killed
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            InstanceLock lock(path);
            ::_exit(lock.tryLock() ? ::raise(SIGSTOP) : 2);
        }
        int status = 0;
        QVERIFY(first > 0 && ::waitpid(first, &status, WUNTRACED) == first && WIFSTOPPED(status));
        InstanceLock second(path), third(path), blocked(path + QStringLiteral("/parlevox.lock"));
        QVERIFY(!second.tryLock() && second.heldElsewhere() && !second.lastError().isEmpty());
        ::kill(first, SIGKILL); // its lock file stays behind, naming a process that is gone
        QVERIFY(::waitpid(first, nullptr, 0) == first && QFile::exists(path));
        QVERIFY2(second.tryLock() && !second.heldElsewhere(), qPrintable(second.lastError()));
        QVERIFY(!third.tryLock() && third.heldElsewhere());
        QVERIFY(!blocked.tryLock() && !blocked.heldElsewhere()); // the lock file is where its folder should be
        QVERIFY2(blocked.lastError().contains(path), qPrintable(blocked.lastError()));
        second.unlock();
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "SettingsStoreTest.moc"
