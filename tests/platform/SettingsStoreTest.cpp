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

} // namespace

class SettingsStoreTest : public QObject {
    Q_OBJECT
private slots:
    void init();

    void missingFile_readGivesDefault_andCreatesNothing();
    void freshFile_holdsSectionAndKeysInOrderWritten();
    void secondSave_rewritesValuesInPlace_addsNoLines();
    void keyAndSectionNames_matchWithoutRegardToCase();
    void namesWithSurroundingSpaces_readBackWhatWasWritten();
    void valueAndNamesStartingWithByteOrderMark_keepIt();
    void valueOf300Chars_readBackAsFirst264();
    void values_keptUnchanged();
    void lineBreakInValue_writtenAsSpace_andAddsNoKey();
    void write_keepsEveryOtherLineByteForByte();
    void duplicateKeys_firstWinsForRead_andFirstIsUpdated();
    void crlfFileWithBom_staysCrlfWithBom();
    void binaryJunk_readGivesDefault_andWriteKeepsTheJunk();
    void badNames_refusedWithReason_fileUntouched();
    void failureBeforeReplace_leavesOldFileIntact();
    void crashBetweenWritingAndReplacing_leavesOldFile_andNextSaveWorks();
    void unwritableFolder_writeFailsWithReason();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString path_;
};

void SettingsStoreTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    path_ = dir_->filePath(QStringLiteral("parlevox.ini"));
}

void SettingsStoreTest::missingFile_readGivesDefault_andCreatesNothing() {
    const QString nested = dir_->filePath(QStringLiteral("config/parlevox.ini"));
    SettingsStore store(nested);
    QCOMPARE(store.read(kSection, QStringLiteral("LEFT"), QStringLiteral("300")), QStringLiteral("300"));
    QCOMPARE(store.read(kSection, QStringLiteral("CALLSIGN"), QString()), QString());
    QVERIFY(!QFile::exists(nested));
    QVERIFY(!QDir(dir_->filePath(QStringLiteral("config"))).exists());

    // A file without the section or the key gives the default too.
    writeBytes(path_, "[OTHER]\nLEFT=10\n");
    QCOMPARE(SettingsStore(path_).read(kSection, QStringLiteral("LEFT"), QStringLiteral("300")), QStringLiteral("300"));
}

void SettingsStoreTest::freshFile_holdsSectionAndKeysInOrderWritten() {
    SettingsStore store(dir_->filePath(QStringLiteral("new/folder/parlevox.ini")));
    QVERIFY(store.write(kSection, QStringLiteral("LEFT"), QStringLiteral("300")));
    QVERIFY(store.write(kSection, QStringLiteral("TOP"), QStringLiteral("450")));
    QVERIFY(store.writeAll(kSection, {{QStringLiteral("CHECK1"), QStringLiteral("1")},
                                      {QStringLiteral("FILTERTEXT1"), QString()},
                                      {QStringLiteral("CALLSIGN"), QStringLiteral("N0CALL")}}));
    QCOMPARE(readBytes(store.filePath()),
             QByteArray("[SETTINGS]\nLEFT=300\nTOP=450\nCHECK1=1\nFILTERTEXT1=\nCALLSIGN=N0CALL\n"));
    QVERIFY(store.lastError().isEmpty());
}

void SettingsStoreTest::secondSave_rewritesValuesInPlace_addsNoLines() {
    SettingsStore store(path_);
    const SettingsStore::Entries first{{QStringLiteral("LEFT"), QStringLiteral("300")},
                                       {QStringLiteral("TOP"), QStringLiteral("300")},
                                       {QStringLiteral("TEXT4"), QStringLiteral("N0CALL")}};
    QVERIFY(store.writeAll(kSection, first));
    const SettingsStore::Entries second{{QStringLiteral("LEFT"), QStringLiteral("1215")},
                                        {QStringLiteral("TOP"), QStringLiteral("90")},
                                        {QStringLiteral("TEXT4"), QString()}};
    QVERIFY(store.writeAll(kSection, second));
    QCOMPARE(readBytes(path_), QByteArray("[SETTINGS]\nLEFT=1215\nTOP=90\nTEXT4=\n"));
}

void SettingsStoreTest::keyAndSectionNames_matchWithoutRegardToCase() {
    writeBytes(path_, "[Settings]\ntext4=N0CALL\n  Text5 =K1ABC\n");
    SettingsStore store(path_);
    QCOMPARE(store.read(kSection, QStringLiteral("TEXT4"), QString()), QStringLiteral("N0CALL"));
    QCOMPARE(store.read(QStringLiteral("settings"), QStringLiteral("Text4"), QString()), QStringLiteral("N0CALL"));
    QCOMPARE(store.read(kSection, QStringLiteral("TEXT5"), QString()), QStringLiteral("K1ABC"));

    QVERIFY(store.write(kSection, QStringLiteral("TEXT4"), QStringLiteral("W1AW")));
    QCOMPARE(readBytes(path_), QByteArray("[Settings]\ntext4=W1AW\n  Text5 =K1ABC\n"));
}

void SettingsStoreTest::namesWithSurroundingSpaces_readBackWhatWasWritten() {
    writeBytes(path_, "[ other ]\nk=1\n");
    SettingsStore store(path_);
    QVERIFY(store.write(QStringLiteral(" other "), QStringLiteral(" k "), QStringLiteral("v")));
    QVERIFY(store.write(QStringLiteral("\tNEW\u00A0"), QStringLiteral("\u00A0KEY "), QStringLiteral("w")));
    QCOMPARE(store.read(QStringLiteral(" other "), QStringLiteral(" k "), QString()), QStringLiteral("v"));
    QCOMPARE(store.read(QStringLiteral("other"), QStringLiteral("K"), QString()), QStringLiteral("v"));
    QCOMPARE(store.read(QStringLiteral("\tNEW\u00A0"), QStringLiteral("\u00A0KEY "), QString()), QStringLiteral("w"));
    QCOMPARE(readBytes(path_), QByteArray("[ other ]\nk=v\n\n[NEW]\nKEY=w\n"));
}

void SettingsStoreTest::valueAndNamesStartingWithByteOrderMark_keepIt() {
    const QString bom(QChar(0xFEFF));
    SettingsStore store(path_);
    QVERIFY(store.write(bom + QStringLiteral("S"), bom + QStringLiteral("K"), bom + QStringLiteral("value")));
    QVERIFY(store.write(kSection, QStringLiteral("K"), bom));
    QCOMPARE(store.read(bom + QStringLiteral("S"), bom + QStringLiteral("K"), QString()), bom + QStringLiteral("value"));
    QCOMPARE(store.read(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("none")), QStringLiteral("none"));
    QCOMPARE(store.read(kSection, QStringLiteral("K"), QString()), bom);
}

void SettingsStoreTest::valueOf300Chars_readBackAsFirst264() {
    QString value;
    for (int i = 0; i < 300; ++i) {
        value += QChar(u'a' + i % 26);
    }
    SettingsStore store(path_);
    QVERIFY(store.write(kSection, QStringLiteral("FILTERTEXT1"), value));
    QVERIFY(readBytes(path_).contains(value.toUtf8())); // stored whole, cut only when read
    QCOMPARE(store.read(kSection, QStringLiteral("FILTERTEXT1"), QString()), value.left(264));
    QCOMPARE(store.read(kSection, QStringLiteral("MISSING"), value), value.left(264));

    // A character outside the basic plane is not split at the limit.
    const QString wide = QString(263, QLatin1Char('x')) + QString::fromUtf8("\xF0\x9F\x93\xBB") + QStringLiteral("y");
    QVERIFY(store.write(kSection, QStringLiteral("FILTERTEXT2"), wide));
    QCOMPARE(store.read(kSection, QStringLiteral("FILTERTEXT2"), QString()), QString(263, QLatin1Char('x')));
}

void SettingsStoreTest::values_keptUnchanged() {
    const QStringList values{QStringLiteral("a=b=c"),
                             QStringLiteral("; not a comment"),
                             QStringLiteral("   leading and trailing   "),
                             QStringLiteral("\"quoted\""),
                             QStringLiteral("[SETTINGS]"),
                             QStringLiteral("back\\slash"),
                             QString::fromUtf8("Grüße 73 \xE2\x9C\x93")};
    SettingsStore store(path_);
    for (int i = 0; i < values.size(); ++i) {
        QVERIFY(store.write(kSection, QStringLiteral("KEY%1").arg(i), values[i]));
    }
    for (int i = 0; i < values.size(); ++i) {
        QCOMPARE(store.read(kSection, QStringLiteral("KEY%1").arg(i), QString()), values[i]);
    }
    QVERIFY(readBytes(path_).contains(QByteArray("KEY2=   leading and trailing   \n")));
}

void SettingsStoreTest::lineBreakInValue_writtenAsSpace_andAddsNoKey() {
    SettingsStore store(path_);
    QVERIFY(store.write(kSection, QStringLiteral("FILTERTEXT1"), QStringLiteral("one\r\nCALLSIGN=EVIL\ntwo\rthree")));
    QCOMPARE(store.read(kSection, QStringLiteral("FILTERTEXT1"), QString()),
             QStringLiteral("one CALLSIGN=EVIL two three"));
    QCOMPARE(store.read(kSection, QStringLiteral("CALLSIGN"), QStringLiteral("none")), QStringLiteral("none"));
    QCOMPARE(readBytes(path_).count('\n'), 2);
}

void SettingsStoreTest::write_keepsEveryOtherLineByteForByte() {
    const QByteArray before = "orphan=before any section\n"
                              "; a comment\n"
                              "[Other]\n"
                              "LEFT=1\n"
                              "no equals sign here\n"
                              "\n"
                              "[SETTINGS]\n"
                              "TOP=5\n"
                              "   \n"
                              "[Third]\n"
                              "x=y";
    writeBytes(path_, before);
    SettingsStore store(path_);
    QCOMPARE(store.read(QStringLiteral("Other"), QStringLiteral("LEFT"), QString()), QStringLiteral("1"));
    QCOMPARE(store.read(kSection, QStringLiteral("LEFT"), QStringLiteral("300")), QStringLiteral("300"));
    QCOMPARE(store.read(kSection, QStringLiteral("orphan"), QStringLiteral("-")), QStringLiteral("-"));

    QVERIFY(store.write(kSection, QStringLiteral("LEFT"), QStringLiteral("77")));
    QVERIFY(store.write(QStringLiteral("NEW"), QStringLiteral("K"), QStringLiteral("v")));
    QCOMPARE(readBytes(path_), QByteArray("orphan=before any section\n"
                                          "; a comment\n"
                                          "[Other]\n"
                                          "LEFT=1\n"
                                          "no equals sign here\n"
                                          "\n"
                                          "[SETTINGS]\n"
                                          "TOP=5\n"
                                          "LEFT=77\n"
                                          "   \n"
                                          "[Third]\n"
                                          "x=y\n"
                                          "\n"
                                          "[NEW]\n"
                                          "K=v\n"));
}

void SettingsStoreTest::duplicateKeys_firstWinsForRead_andFirstIsUpdated() {
    writeBytes(path_, "[SETTINGS]\nTEXT4=first\nTEXT4=second\n[SETTINGS]\nTEXT5=later section\n");
    SettingsStore store(path_);
    QCOMPARE(store.read(kSection, QStringLiteral("TEXT4"), QString()), QStringLiteral("first"));
    QCOMPARE(store.read(kSection, QStringLiteral("TEXT5"), QString()), QStringLiteral("later section"));
    QVERIFY(store.write(kSection, QStringLiteral("text4"), QStringLiteral("new")));
    QVERIFY(store.write(kSection, QStringLiteral("TEXT5"), QStringLiteral("changed")));
    QCOMPARE(readBytes(path_), QByteArray("[SETTINGS]\nTEXT4=new\nTEXT4=second\n[SETTINGS]\nTEXT5=changed\n"));
}

void SettingsStoreTest::crlfFileWithBom_staysCrlfWithBom() {
    writeBytes(path_, "\xEF\xBB\xBF[SETTINGS]\r\nLEFT=300\r\n");
    SettingsStore store(path_);
    QCOMPARE(store.read(kSection, QStringLiteral("LEFT"), QString()), QStringLiteral("300"));
    QVERIFY(store.write(kSection, QStringLiteral("LEFT"), QStringLiteral("10")));
    QVERIFY(store.write(kSection, QStringLiteral("TOP"), QStringLiteral("20")));
    QCOMPARE(readBytes(path_), QByteArray("\xEF\xBB\xBF[SETTINGS]\r\nLEFT=10\r\nTOP=20\r\n"));
}

void SettingsStoreTest::binaryJunk_readGivesDefault_andWriteKeepsTheJunk() {
    QByteArray junk;
    for (int i = 0; i < 2048; ++i) {
        junk += char((i * 7919 + 13) % 256); // every byte value, NUL and broken UTF-8 included
    }
    junk.replace('\n', 'x'); // keep it a single line, so that no stray "[...]" in it reads as a section
    writeBytes(path_, junk);
    SettingsStore store(path_);
    QCOMPARE(store.read(kSection, QStringLiteral("LEFT"), QStringLiteral("300")), QStringLiteral("300"));
    QVERIFY(store.write(kSection, QStringLiteral("LEFT"), QStringLiteral("5")));
    const QByteArray after = readBytes(path_);
    QVERIFY(after.startsWith(junk + '\n'));
    QCOMPARE(store.read(kSection, QStringLiteral("LEFT"), QString()), QStringLiteral("5"));
}

void SettingsStoreTest::badNames_refusedWithReason_fileUntouched() {
    writeBytes(path_, "[SETTINGS]\nLEFT=1\n");
    SettingsStore store(path_);
    QVERIFY(!store.write(kSection, QStringLiteral("A=B"), QStringLiteral("x")));
    QVERIFY(store.lastError().contains(QStringLiteral("A=B")));
    QVERIFY(!store.write(kSection, QStringLiteral(" "), QStringLiteral("x")));
    QVERIFY(!store.write(QStringLiteral("A]B"), QStringLiteral("K"), QStringLiteral("x")));
    QVERIFY(
        !store.writeAll(kSection, {{QStringLiteral("GOOD"), QStringLiteral("1")}, {QStringLiteral("BAD\nKEY"), {}}}));
    QCOMPARE(readBytes(path_), QByteArray("[SETTINGS]\nLEFT=1\n"));
}

void SettingsStoreTest::failureBeforeReplace_leavesOldFileIntact() {
    writeBytes(path_, "[SETTINGS]\nLEFT=300\n");
    SettingsStore store(path_);
    // The new contents are written aside (on Linux into an unnamed file) while the old file stays as it was.
    QByteArray seenByHook;
    store.setBeforeReplaceHook([&] {
        seenByHook = readBytes(path_);
        return false;
    });
    QVERIFY(!store.write(kSection, QStringLiteral("LEFT"), QStringLiteral("999")));
    QCOMPARE(seenByHook, QByteArray("[SETTINGS]\nLEFT=300\n"));
    QVERIFY(!store.lastError().isEmpty());
    QCOMPARE(readBytes(path_), QByteArray("[SETTINGS]\nLEFT=300\n"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{QStringLiteral("parlevox.ini")});

    store.setBeforeReplaceHook([] { return true; });
    QVERIFY(store.write(kSection, QStringLiteral("LEFT"), QStringLiteral("999")));
    QCOMPARE(store.read(kSection, QStringLiteral("LEFT"), QString()), QStringLiteral("999"));
}

void SettingsStoreTest::crashBetweenWritingAndReplacing_leavesOldFile_andNextSaveWorks() {
    writeBytes(path_, "[SETTINGS]\nLEFT=300\n");
    // A child process dies at that moment for real: no clean-up of any kind runs.
    const pid_t child = ::fork();
    if (child == 0) {
        SettingsStore store(path_);
        store.setBeforeReplaceHook([]() -> bool { ::_exit(42); });
        store.write(kSection, QStringLiteral("LEFT"), QStringLiteral("999"));
        ::_exit(1);
    }
    QVERIFY(child > 0);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 42);
    QCOMPARE(readBytes(path_), QByteArray("[SETTINGS]\nLEFT=300\n"));

    SettingsStore store(path_);
    QVERIFY2(store.write(kSection, QStringLiteral("TOP"), QStringLiteral("60")), qPrintable(store.lastError()));
    QCOMPARE(readBytes(path_), QByteArray("[SETTINGS]\nLEFT=300\nTOP=60\n"));
}

void SettingsStoreTest::unwritableFolder_writeFailsWithReason() {
    // Running as root makes permissions useless here; a regular file standing where a folder should be works.
    const QString blocker = dir_->filePath(QStringLiteral("plainfile"));
    writeBytes(blocker, "not a folder");
    SettingsStore store(blocker + QStringLiteral("/sub/parlevox.ini"));
    QVERIFY(!store.write(kSection, QStringLiteral("LEFT"), QStringLiteral("300")));
    QVERIFY2(store.lastError().contains(blocker), qPrintable(store.lastError()));
    QCOMPARE(readBytes(blocker), QByteArray("not a folder"));

    // An existing file in a folder where no new file can be made stays as it was.
    SettingsStore direct(blocker + QStringLiteral("/parlevox.ini"));
    QVERIFY(!direct.write(kSection, QStringLiteral("LEFT"), QStringLiteral("300")));
    QVERIFY(!direct.lastError().isEmpty());
}

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "SettingsStoreTest.moc"
