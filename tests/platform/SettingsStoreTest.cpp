// SPDX-License-Identifier: GPL-3.0-or-later
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
}

const QString kSection = QStringLiteral("SETTINGS");
const QString kLeft = QStringLiteral("LEFT");

// "section|key=value" (the section may hold spaces; the value may hold '=').
struct Entry {
    QString section, key, value;
    explicit Entry(const QString& text)
        : section(text.section(QLatin1Char('|'), 0, 0)),
          key(text.section(QLatin1Char('|'), 1).section(QLatin1Char('='), 0, 0)),
          value(text.section(QLatin1Char('|'), 1).section(QLatin1Char('='), 1)) {}
};

} // namespace

class SettingsStoreTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QString path_;

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        path_ = dir_->filePath(QStringLiteral("parlevox.ini"));
    }

    void missingFile_readGivesDefault_andCreatesNothing() {
        const QString nested = dir_->filePath(QStringLiteral("config/parlevox.ini"));
        SettingsStore store(nested);
        QCOMPARE(store.read(kSection, kLeft, QStringLiteral("300")), QStringLiteral("300"));
        QVERIFY(!QDir(dir_->filePath(QStringLiteral("config"))).exists());
        // A file without the section or the key gives the default too.
        writeBytes(path_, "[OTHER]\nLEFT=10\n");
        QCOMPARE(SettingsStore(path_).read(kSection, kLeft, QStringLiteral("300")), QStringLiteral("300"));
    }

    void freshFile_holdsSectionAndKeysInOrderWritten() {
        SettingsStore store(dir_->filePath(QStringLiteral("new/folder/parlevox.ini")));
        QVERIFY(store.write(kSection, kLeft, QStringLiteral("300")));
        QVERIFY(store.write(kSection, QStringLiteral("TOP"), QStringLiteral("450")));
        QVERIFY(store.writeAll(kSection, {{QStringLiteral("CHECK1"), QStringLiteral("1")},
                                          {QStringLiteral("FILTERTEXT1"), QString()},
                                          {QStringLiteral("CALLSIGN"), QStringLiteral("N0CALL")}}));
        QCOMPARE(readBytes(store.filePath()),
                 QByteArray("[SETTINGS]\nLEFT=300\nTOP=450\nCHECK1=1\nFILTERTEXT1=\nCALLSIGN=N0CALL\n"));
        QVERIFY(store.lastError().isEmpty());
    }

    // Writes change their own line in place and keep every other byte of the file; reads (after the
    // writes, "-" for a missing key) see what was written.
    void write_keepsTheRestOfTheFile_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QStringList>("reads");
        QTest::newRow("second save rewrites in place")
            << QByteArray("[SETTINGS]\nLEFT=300\nTOP=300\nTEXT4=N0CALL\n")
            << QStringList{QStringLiteral("SETTINGS|LEFT=1215"), QStringLiteral("SETTINGS|TOP=90"),
                           QStringLiteral("SETTINGS|TEXT4=")}
            << QByteArray("[SETTINGS]\nLEFT=1215\nTOP=90\nTEXT4=\n") << QStringList{QStringLiteral("SETTINGS|TEXT4=")};
        QTest::newRow("keys and sections match without regard to case")
            << QByteArray("[Settings]\ntext4=N0CALL\n  Text5 =K1ABC\n")
            << QStringList{QStringLiteral("SETTINGS|TEXT4=W1AW")}
            << QByteArray("[Settings]\ntext4=W1AW\n  Text5 =K1ABC\n")
            << QStringList{QStringLiteral("settings|Text4=W1AW"), QStringLiteral("SETTINGS|TEXT5=K1ABC")};
        QTest::newRow("other lines byte for byte, new section at the end")
            << QByteArray("orphan=before any section\n; a comment\n[Other]\nLEFT=1\nno equals sign here\n\n"
                          "[SETTINGS]\nTOP=5\n   \n[Third]\nx=y")
            << QStringList{QStringLiteral("SETTINGS|LEFT=77"), QStringLiteral("NEW|K=v")}
            << QByteArray("orphan=before any section\n; a comment\n[Other]\nLEFT=1\nno equals sign here\n\n"
                          "[SETTINGS]\nTOP=5\nLEFT=77\n   \n[Third]\nx=y\n\n[NEW]\nK=v\n")
            << QStringList{QStringLiteral("Other|LEFT=1"), QStringLiteral("SETTINGS|LEFT=77"),
                           QStringLiteral("SETTINGS|orphan=-")};
        QTest::newRow("duplicates: the first is read and updated")
            << QByteArray("[SETTINGS]\nTEXT4=first\nTEXT4=second\n[SETTINGS]\nTEXT5=later section\n")
            << QStringList{QStringLiteral("SETTINGS|text4=new"), QStringLiteral("SETTINGS|TEXT5=changed")}
            << QByteArray("[SETTINGS]\nTEXT4=new\nTEXT4=second\n[SETTINGS]\nTEXT5=changed\n")
            << QStringList{QStringLiteral("SETTINGS|TEXT4=new")};
        QTest::newRow("CRLF file with BOM stays so")
            << QByteArray("\xEF\xBB\xBF[SETTINGS]\r\nLEFT=300\r\n")
            << QStringList{QStringLiteral("SETTINGS|LEFT=10"), QStringLiteral("SETTINGS|TOP=20")}
            << QByteArray("\xEF\xBB\xBF[SETTINGS]\r\nLEFT=10\r\nTOP=20\r\n")
            << QStringList{QStringLiteral("SETTINGS|LEFT=10")};
        QTest::newRow("names with surrounding spaces read back")
            << QByteArray("[ other ]\nk=1\n")
            << QStringList{QStringLiteral(" other | k =v"), QStringLiteral("\tNEW\u00A0|\u00A0KEY =w")}
            << QByteArray("[ other ]\nk=v\n\n[NEW]\nKEY=w\n")
            << QStringList{QStringLiteral(" other | k =v"), QStringLiteral("other|K=v"),
                           QStringLiteral("\tNEW\u00A0|\u00A0KEY =w")};
        QTest::newRow("values kept unchanged")
            << QByteArray()
            << QStringList{QStringLiteral("S|A=a=b=c"),
                           QStringLiteral("S|B=; not a comment"),
                           QStringLiteral("S|C=   leading and trailing   "),
                           QStringLiteral("S|D=\"quoted\""),
                           QStringLiteral("S|E=[SETTINGS]"),
                           QStringLiteral("S|F=back\\slash"),
                           QStringLiteral("S|G=Grüße 73 ✓")}
            << QByteArray("[S]\nA=a=b=c\nB=; not a comment\nC=   leading and trailing   \nD=\"quoted\"\nE=[SETTINGS]\n"
                          "F=back\\slash\nG=Grüße 73 ✓\n")
            << QStringList{QStringLiteral("S|A=a=b=c"), QStringLiteral("S|C=   leading and trailing   "),
                           QStringLiteral("S|D=\"quoted\""), QStringLiteral("S|F=back\\slash"),
                           QStringLiteral("S|G=Grüße 73 ✓")};
        // Files of the old Windows program: not valid UTF-8, so Windows-1252. A save of what was read gives
        // the same bytes (the five bytes Windows-1252 leaves undefined included).
        const QByteArray oldFile("[SETTINGS]\r\nNAME=Gr\xfc\xdf"
                                 "e\r\nQTH=caf\xe9\r\nCOST=\x80 5 \x81\x8d\x8f\x90\x9d\r\n");
        QTest::newRow("Windows-1252 file read in its letters, saved byte for byte")
            << oldFile
            << QStringList{QStringLiteral("SETTINGS|NAME=Grüße"), QStringLiteral("SETTINGS|QTH=café"),
                           QStringLiteral("SETTINGS|COST=€ 5 \u0081\u008D\u008F\u0090\u009D")}
            << oldFile
            << QStringList{QStringLiteral("SETTINGS|NAME=Grüße"), QStringLiteral("SETTINGS|QTH=café"),
                           QStringLiteral("SETTINGS|COST=€ 5 \u0081\u008D\u008F\u0090\u009D")};
        QTest::newRow("Windows-1252 file: new keys and sections written in it")
            << QByteArray("[SETTINGS]\nNAME=Gr\xfc\xdf"
                          "e\n")
            << QStringList{QStringLiteral("SETTINGS|QTH=Zürich – 5 €"), QStringLiteral("Ä|Ö=ÿ")}
            << QByteArray("[SETTINGS]\nNAME=Gr\xfc\xdf"
                          "e\nQTH=Z\xfcrich \x96 5 \x80\n\n[\xc4]\n\xd6=\xff\n")
            << QStringList{QStringLiteral("SETTINGS|QTH=Zürich – 5 €"), QStringLiteral("ä|ö=ÿ"),
                           QStringLiteral("SETTINGS|NAME=Grüße")};
        QTest::newRow("value Windows-1252 cannot hold turns the whole file into UTF-8")
            << QByteArray("; \xa9 1999\n[SETTINGS]\nNAME=Gr\xfc\xdf"
                          "e\n\x80=\x81\n")
            << QStringList{QStringLiteral("SETTINGS|QTH=Kraków ✓")}
            << QByteArray("; © 1999\n[SETTINGS]\nNAME=Grüße\n€=\u0081\nQTH=Kraków ✓\n")
            << QStringList{QStringLiteral("SETTINGS|NAME=Grüße"), QStringLiteral("SETTINGS|€=\u0081"),
                           QStringLiteral("SETTINGS|QTH=Kraków ✓")};
        QTest::newRow("a name Windows-1252 cannot hold turns the value written with it into UTF-8 too")
            << QByteArray("[S]\nA=caf\xe9\n") << QStringList{QStringLiteral("Łódź|K=café")}
            << QByteArray("[S]\nA=café\n\n[Łódź]\nK=café\n")
            << QStringList{QStringLiteral("S|A=café"), QStringLiteral("Łódź|K=café")};
        QTest::newRow("Windows-1252 file that would read as UTF-8 after the write becomes UTF-8")
            << QByteArray("[S]\nA=\xff\nB=\xc3\xa9\n") << QStringList{QStringLiteral("S|A=x")}
            << QByteArray("[S]\nA=x\nB=Ã©\n") << QStringList{QStringLiteral("S|A=x"), QStringLiteral("S|B=Ã©")};
        QTest::newRow("UTF-8 cut off at the end of the file is Windows-1252")
            << QByteArray("[S]\nA=caf\xc3") << QStringList{QStringLiteral("S|B=x")}
            << QByteArray("[S]\nA=caf\xc3\nB=x\n") << QStringList{QStringLiteral("S|A=cafÃ")};
        QTest::newRow("UTF-8 file stays UTF-8")
            << QByteArray("[S]\nA=Grüße\n") << QStringList{QStringLiteral("S|B=café €")}
            << QByteArray("[S]\nA=Grüße\nB=café €\n")
            << QStringList{QStringLiteral("S|A=Grüße"), QStringLiteral("S|B=café €")};
    }
    void write_keepsTheRestOfTheFile() {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, writes);
        QFETCH(QByteArray, after);
        QFETCH(QStringList, reads);
        if (!before.isNull()) {
            writeBytes(path_, before);
        }
        SettingsStore store(path_);
        for (const QString& w : writes) {
            const Entry e(w);
            QVERIFY2(store.write(e.section, e.key, e.value), qPrintable(store.lastError()));
        }
        QCOMPARE(readBytes(path_), after);
        for (const QString& r : reads) {
            const Entry e(r);
            QCOMPARE(store.read(e.section, e.key, QStringLiteral("-")), e.value);
        }
    }

    void valueAndNamesStartingWithByteOrderMark_keepIt() {
        const QString bom(QChar(0xFEFF));
        SettingsStore store(path_);
        QVERIFY(store.write(bom + QStringLiteral("S"), bom + QStringLiteral("K"), bom + QStringLiteral("value")));
        QVERIFY(store.write(kSection, QStringLiteral("K"), bom));
        QCOMPARE(store.read(bom + QStringLiteral("S"), bom + QStringLiteral("K"), {}), bom + QStringLiteral("value"));
        QCOMPARE(store.read(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("none")), QStringLiteral("none"));
        QCOMPARE(store.read(kSection, QStringLiteral("K"), QString()), bom);
    }

    void valueOf300Chars_storedWhole_readBackAsFirst264() {
        QString value;
        for (int i = 0; i < 300; ++i) {
            value += QChar(u'a' + i % 26);
        }
        SettingsStore store(path_);
        QVERIFY(store.write(kSection, QStringLiteral("FILTERTEXT1"), value));
        QVERIFY(readBytes(path_).contains(value.toUtf8()));
        QCOMPARE(store.read(kSection, QStringLiteral("FILTERTEXT1"), QString()), value.left(264));
        QCOMPARE(store.read(kSection, QStringLiteral("MISSING"), value), value.left(264));
        // A character outside the basic plane is not split at the limit.
        const QString wide =
            QString(263, QLatin1Char('x')) + QString::fromUtf8("\xF0\x9F\x93\xBB") + QStringLiteral("y");
        QVERIFY(store.write(kSection, QStringLiteral("FILTERTEXT2"), wide));
        QCOMPARE(store.read(kSection, QStringLiteral("FILTERTEXT2"), QString()), QString(263, QLatin1Char('x')));
    }

    void lineBreakInValue_writtenAsSpace_andAddsNoKey() {
        SettingsStore store(path_);
        QVERIFY(
            store.write(kSection, QStringLiteral("FILTERTEXT1"), QStringLiteral("one\r\nCALLSIGN=EVIL\ntwo\rthree")));
        QCOMPARE(store.read(kSection, QStringLiteral("FILTERTEXT1"), QString()),
                 QStringLiteral("one CALLSIGN=EVIL two three"));
        QCOMPARE(store.read(kSection, QStringLiteral("CALLSIGN"), QStringLiteral("none")), QStringLiteral("none"));
        QCOMPARE(readBytes(path_).count('\n'), 2);
    }

    void binaryJunk_readGivesDefault_andWriteKeepsTheJunk() {
        QByteArray junk;
        for (int i = 0; i < 2048; ++i) {
            junk += char((i * 7919 + 13) % 256); // every byte value, NUL and broken UTF-8 included
        }
        junk.replace('\n', 'x'); // keep it a single line, so that no stray "[...]" in it reads as a section
        writeBytes(path_, junk);
        SettingsStore store(path_);
        QCOMPARE(store.read(kSection, kLeft, QStringLiteral("300")), QStringLiteral("300"));
        QVERIFY(store.write(kSection, kLeft, QStringLiteral("5")));
        QVERIFY(readBytes(path_).startsWith(junk + '\n'));
        QCOMPARE(store.read(kSection, kLeft, QString()), QStringLiteral("5"));
    }

    void badNames_refusedWithReason_fileUntouched() {
        writeBytes(path_, "[SETTINGS]\nLEFT=1\n");
        SettingsStore store(path_);
        QVERIFY(!store.write(kSection, QStringLiteral("A=B"), QStringLiteral("x")));
        QVERIFY(store.lastError().contains(QStringLiteral("A=B")));
        QVERIFY(!store.write(kSection, QStringLiteral(" "), QStringLiteral("x")));
        QVERIFY(!store.write(QStringLiteral("A]B"), QStringLiteral("K"), QStringLiteral("x")));
        QVERIFY(!store.writeAll(kSection,
                                {{QStringLiteral("GOOD"), QStringLiteral("1")}, {QStringLiteral("BAD\nKEY"), {}}}));
        QCOMPARE(readBytes(path_), QByteArray("[SETTINGS]\nLEFT=1\n"));
    }

    void failureBeforeReplace_leavesOldFileIntact() {
        writeBytes(path_, "[SETTINGS]\nLEFT=300\n");
        SettingsStore store(path_);
        // The new contents are written aside (on Linux into an unnamed file) while the old file stays as it was.
        QByteArray seenByHook;
        store.setBeforeReplaceHook([&] {
            seenByHook = readBytes(path_);
            return false;
        });
        QVERIFY(!store.write(kSection, kLeft, QStringLiteral("999")));
        QCOMPARE(seenByHook, QByteArray("[SETTINGS]\nLEFT=300\n"));
        QVERIFY(!store.lastError().isEmpty());
        QCOMPARE(readBytes(path_), QByteArray("[SETTINGS]\nLEFT=300\n"));
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{QStringLiteral("parlevox.ini")});

        store.setBeforeReplaceHook([] { return true; });
        QVERIFY(store.write(kSection, kLeft, QStringLiteral("999")));
        QCOMPARE(store.read(kSection, kLeft, QString()), QStringLiteral("999"));
    }

    void crashBetweenWritingAndReplacing_leavesOldFile_andNextSaveWorks() {
        writeBytes(path_, "[SETTINGS]\nLEFT=300\n");
        // A child process dies at that moment for real: no clean-up of any kind runs.
        const pid_t child = ::fork();
        if (child == 0) {
            SettingsStore store(path_);
            store.setBeforeReplaceHook([]() -> bool { ::_exit(42); });
            store.write(kSection, kLeft, QStringLiteral("999"));
            ::_exit(1);
        }
        QVERIFY(child > 0);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 42);
        QCOMPARE(readBytes(path_), QByteArray("[SETTINGS]\nLEFT=300\n"));

        SettingsStore store(path_);
        QVERIFY2(store.write(kSection, QStringLiteral("TOP"), QStringLiteral("60")), qPrintable(store.lastError()));
        QCOMPARE(readBytes(path_), QByteArray("[SETTINGS]\nLEFT=300\nTOP=60\n"));
    }

    void unwritableFolder_writeFailsWithReason() {
        // Running as root makes permissions useless here; a regular file standing where a folder should be works.
        const QString blocker = dir_->filePath(QStringLiteral("plainfile"));
        writeBytes(blocker, "not a folder");
        SettingsStore store(blocker + QStringLiteral("/sub/parlevox.ini"));
        QVERIFY(!store.write(kSection, kLeft, QStringLiteral("300")));
        QVERIFY2(store.lastError().contains(blocker), qPrintable(store.lastError()));
        QCOMPARE(readBytes(blocker), QByteArray("not a folder"));
        SettingsStore direct(blocker + QStringLiteral("/parlevox.ini"));
        QVERIFY(!direct.write(kSection, kLeft, QStringLiteral("300")));
        QVERIFY(!direct.lastError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "SettingsStoreTest.moc"
