// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file round trip. Input: the initial file bytes (none when the input starts with NUL), then
// NUL-separated records "section NUL key NUL value". Records with an empty section join the previous
// record's section in one writeAll. After every write, every (section, key) named in the input reads
// back as last written to it (line breaks as spaces, cut to 264 characters) or, if never written, as
// it read before any write: writes change nothing else.
#include "FuzzCheck.h"
#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <memory>

namespace {

QTemporaryDir* workDir = nullptr;

constexpr int MaxNames = 6;
constexpr int MaxRecords = 16;
const QString Absent = QStringLiteral("\x01(absent)");

// Names compare without regard to case or surrounding white space.
// Unlike QString::fromUtf8, keeps a leading U+FEFF, so that values and names can start with one.
QString text(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

bool sameName(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

QString asStored(const QString& value) {
    QString flat = value;
    flat.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return flat;
}

QString asRead(const QString& stored) {
    if (stored.size() <= SettingsStore::MaxValueLength) {
        return stored;
    }
    const qsizetype length = SettingsStore::MaxValueLength;
    return stored.left(stored.at(length - 1).isHighSurrogate() ? length - 1 : length);
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("\x01(missing)");
}

struct Record {
    QString section;
    QString key;
    QString value;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const QString shm = QStringLiteral("/dev/shm");
    workDir = QDir(shm).exists() ? new QTemporaryDir(shm + QStringLiteral("/parlevox-fuzz-XXXXXX")) : new QTemporaryDir;
    FUZZ_CHECK(workDir->isValid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype fileEnd = input.indexOf('\0');
    const QString path = workDir->filePath(QStringLiteral("parlevox.ini"));
    QFile::remove(path);
    if (fileEnd != 0) {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly));
        file.write(input.left(fileEnd < 0 ? input.size() : fileEnd));
    }
    if (fileEnd < 0) {
        return 0;
    }

    QList<Record> records;
    QStringList sections;
    QStringList keys;
    const QList<QByteArray> fields = input.mid(fileEnd + 1).split('\0');
    for (qsizetype i = 0; i + 2 < fields.size() && records.size() < MaxRecords; i += 3) {
        Record r{text(fields[i]), text(fields[i + 1]), text(fields[i + 2])};
        if (!r.section.isEmpty() && !sections.contains(r.section) && sections.size() < MaxNames) {
            sections << r.section;
        }
        if (!keys.contains(r.key) && keys.size() < MaxNames) {
            keys << r.key;
        }
        records << r;
    }

    SettingsStore store(path);
    const bool existed = QFile::exists(path);
    // expected[s][k]: what section s, key k must read back as, before the cut.
    QList<QStringList> expected;
    for (const QString& section : sections) {
        QStringList row;
        for (const QString& key : keys) {
            row << store.read(section, key, Absent);
        }
        expected << row;
    }
    FUZZ_CHECK(QFile::exists(path) == existed); // reading never creates the file

    QString section;
    for (qsizetype i = 0; i < records.size();) {
        SettingsStore::Entries entries;
        section = records[i].section.isEmpty() ? section : records[i].section;
        do {
            entries.append({records[i].key, records[i].value});
            ++i;
        } while (i < records.size() && records[i].section.isEmpty());

        const QByteArray before = fileBytes(path);
        if (!store.writeAll(section, entries)) {
            FUZZ_CHECK(!store.lastError().isEmpty());
            FUZZ_CHECK(fileBytes(path) == before); // a refused write leaves the file as it was
            continue;
        }
        for (const auto& [key, value] : entries) {
            for (qsizetype s = 0; s < sections.size(); ++s) {
                for (qsizetype k = 0; k < keys.size(); ++k) {
                    if (sameName(sections[s], section) && sameName(keys[k], key)) {
                        expected[s][k] = asStored(value);
                    }
                }
            }
        }
        for (qsizetype s = 0; s < sections.size(); ++s) {
            for (qsizetype k = 0; k < keys.size(); ++k) {
                FUZZ_CHECK(store.read(sections[s], keys[k], Absent) == asRead(expected[s][k]));
            }
        }
    }
    return 0;
}
