// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SettingsStore.h"

#include "platform/ConfigPaths.h"
#include "DataRow.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool put(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

class SettingsStoreTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path_;
    int tests_ = 0;

private slots:
    void init() { path_ = dir_.filePath(QStringLiteral("%1/parlevox.ini").arg(++tests_)); }

    // writes: "section|key=value|key=value" (one writeAll each; "!section|key|key": refused), "¦" between them; reads
    // after them: "section|key=value", "-" for the default. A null "after" is no file at all.
    void write_changesItsLineAndKeepsEveryOtherByte_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("writes");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("reads");
        row("no file: default, nothing made", QByteArray(), "", QByteArray(), "SETTINGS|LEFT=-");
        row("fresh file: keys in the order written", QByteArray(),
            "S|LEFT=300¦S|TOP=450|CHECK1=1|TEXT=", QByteArray("[S]\nLEFT=300\nTOP=450\nCHECK1=1\nTEXT=\n"),
            "S|TOP=450¦OTHER|LEFT=-");
        row("second save rewrites in place", QByteArray("[S]\nLEFT=300\nTEXT4=N0CALL\n"),
            "S|LEFT=1215¦S|TEXT4=", QByteArray("[S]\nLEFT=1215\nTEXT4=\n"), "S|TEXT4=");
        row("names match without regard to case or spaces", QByteArray("[ Settings ]\ntext4=N0CALL\n  Text5 =K1\n"),
            "SETTINGS|TEXT4=W1AW¦\tNEW\u00A0|\u00A0KEY =w",
            QByteArray("[ Settings ]\ntext4=W1AW\n  Text5 =K1\n\n[NEW]\nKEY=w\n"),
            "settings| Text4=W1AW¦SETTINGS|TEXT5=K1¦new|key=w");
        row("other lines byte for byte, no final newline",
            QByteArray("orphan=x\n[Other]\nLEFT=1\nno equals\n\n[S]\n;TOP=9\nTOP=5\n   \n[T\nx=y"), "S|LEFT=77¦N|K=v",
            QByteArray(
                "orphan=x\n[Other]\nLEFT=1\nno equals\n\n[S]\n;TOP=9\nTOP=5\nLEFT=77\n   \n[T\nx=y\n\n[N]\nK=v\n"),
            "Other|LEFT=1¦S|orphan=-¦S|TOP=5¦T|x=y");
        row("duplicates: the first is read and updated", QByteArray("[S]\nA=1\nA=2\n[S]\nB=3\n"), "S|a=new¦S|B=4",
            QByteArray("[S]\nA=new\nA=2\n[S]\nB=4\n"), "S|A=new");
        row("CRLF file with BOM stays so", QByteArray("\xEF\xBB\xBF[S]\r\nLEFT=300\r\n"), "S|LEFT=10¦S|TOP=20",
            QByteArray("\xEF\xBB\xBF[S]\r\nLEFT=10\r\nTOP=20\r\n"), "S|LEFT=10");
        row("values kept as they are", QByteArray(), "S|A=a=b|B=; no comment|C= sp |D=\"q\"|E=[S]|F=\\|G=Grüße ✓",
            QByteArray("[S]\nA=a=b\nB=; no comment\nC= sp \nD=\"q\"\nE=[S]\nF=\\\nG=Grüße ✓\n"),
            "S|A=a=b¦S|B=; no comment¦S|C= sp ¦S|E=[S]¦S|G=Grüße ✓");
        row("line break in a value adds no key", QByteArray(), "S|F=one\r\nCALLSIGN=EVIL\ntwo\rthree",
            QByteArray("[S]\nF=one CALLSIGN=EVIL two three\n"), "S|CALLSIGN=-¦S|F=one CALLSIGN=EVIL two three");
        row("names that cannot be stored: refused", QByteArray("[S]\nA=1\n"),
            "!S|A=B¦!S| ¦!A]B|K¦!S\nT|K¦!S|;C¦!S|[D¦!S|OK|B\nK", QByteArray("[S]\nA=1\n"), "S|OK=-");
        row("BOM at the start of names and values kept", QByteArray(), "S|K=\uFEFF¦\uFEFFS|\uFEFFK=\uFEFFv",
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
        const QByteArray old("[S]\r\nNAME=Gr\xfc\xdf"
                             "e\r\nCOST=\x80 5 \x81\x8d\x8f\x90\x9d\r\n");
        row("Windows-1252 read in its letters, saved byte for byte", old,
            "S|NAME=Grüße¦S|COST=€ 5 \u0081\u008D\u008F\u0090\u009D", old,
            "S|NAME=Grüße¦S|COST=€ 5 \u0081\u008D\u008F\u0090\u009D");
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
        row("UTF-8 stays UTF-8", QByteArray("[S]\nA=Grüße\n"), "S|B=é €", QByteArray("[S]\nA=Grüße\nB=é €\n"),
            "S|A=Grüße¦S|B=é €");
    }
    void write_changesItsLineAndKeepsEveryOtherByte() {
        QFETCH(QByteArray, before);
        QFETCH(QString, writes);
        QFETCH(QByteArray, after);
        QFETCH(QString, reads);
        QVERIFY(before.isNull() || (QDir().mkpath(QFileInfo(path_).path()) && put(path_, before)));
        SettingsStore store(path_);
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
        QCOMPARE(QFile::exists(path_), !after.isNull());
        QCOMPARE(bytesOf(path_), after);
        for (const QString& r : reads.split(u'¦')) {
            const QString section = r.section(QLatin1Char('|'), 0, 0), entry = r.section(QLatin1Char('|'), 1);
            QCOMPARE(store.read(section, entry.section(QLatin1Char('='), 0, 0), QStringLiteral("-")),
                     entry.section(QLatin1Char('='), 1));
        }
    }

    // Where the write cannot finish, the old file stays whole, nothing else is left, and the store says why.
    void unfinishedWrite_leavesOldFileAndSaysWhy_data() {
        QTest::addColumn<QString>("how");
        row("stopped before the replace", "hook");
        row("process dies before the replace", "crash");
        row("a file where the folder should be", "blocked");
    }
    void unfinishedWrite_leavesOldFileAndSaysWhy() {
        QFETCH(QString, how);
        const QString folder = QFileInfo(path_).path();
        QVERIFY(QDir().mkpath(folder) && put(path_, "[S]\nA=1\n"));
        SettingsStore store(how == QLatin1String("blocked") ? path_ + QStringLiteral("/x/p.ini") : path_);
        store.setBeforeReplaceHook([&] {
            if (how == QLatin1String("crash")) {
                ::_exit(42); // no clean-up of any kind runs
            }
            return bytesOf(path_) != "[S]\nA=1\n";
        });
        if (how == QLatin1String("crash")) {
            const pid_t child = ::fork();
            if (child == 0) {
                store.write(QStringLiteral("S"), QStringLiteral("A"), QStringLiteral("2"));
                ::_exit(1);
            }
            int status = 0;
            QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child && WEXITSTATUS(status) == 42);
        } else {
            QVERIFY(!store.write(QStringLiteral("S"), QStringLiteral("A"), QStringLiteral("2")));
            QVERIFY2(store.lastError().contains(how == QLatin1String("hook") ? path_ : folder),
                     qPrintable(store.lastError()));
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("parlevox.ini")});
        QCOMPARE(bytesOf(path_), QByteArray("[S]\nA=1\n"));
        SettingsStore next(path_);
        QVERIFY(next.write(QStringLiteral("S"), QStringLiteral("B"), QStringLiteral("3")));
        QCOMPARE(bytesOf(path_), QByteArray("[S]\nA=1\nB=3\n"));
    }

    void configPaths_inUsersConfigFolder_madeOnFirstWriteOnly() {
        const QString config = dir_.filePath(QStringLiteral("cfg"));
        qputenv("XDG_CONFIG_HOME", config.toUtf8());
        QCOMPARE(ConfigPaths::internetSettingsFile(), config + QStringLiteral("/parlevoxinet.ini"));
        SettingsStore main(ConfigPaths::mainSettingsFile());
        QCOMPARE(main.read(QStringLiteral("S"), QStringLiteral("A"), QStringLiteral("1")), QStringLiteral("1"));
        QVERIFY(!QDir(config).exists());
        QVERIFY(main.write(QStringLiteral("S"), QStringLiteral("A"), QStringLiteral("1")));
        QCOMPARE(QDir(config).entryList(QDir::Files), QStringList{QStringLiteral("parlevox.ini")});
    }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "SettingsStoreTest.moc"
