// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <functional>

// An INI file with the semantics of the Windows profile-string functions:
// - section and key names are compared without regard to case or surrounding white space;
// - values are stored and returned unchanged (no quotes, no escapes); a read returns at most
//   MaxValueLength characters;
// - a write keeps every other line and creates the file, the section or the key when missing;
//   a fresh file lists keys in the order written;
// - reading never creates the file; a missing file, section or key gives the default.
// Every write replaces the file atomically (temporary file + rename), so a crash leaves the old or the
// new file, never a broken one. A line break inside a value is written as a space, so no value can add
// or change keys. The file is UTF-8 text, or Windows-1252 when it is not valid UTF-8 (files of the old
// Windows program); values are written in the file's encoding, except that a value Windows-1252 cannot hold
// turns the whole file into UTF-8, every line converted. Lines the store does not understand (junk) and the
// lines a write does not change are carried over byte for byte.
class SettingsStore {
public:
    static constexpr int MaxValueLength = 264;
    using Entries = QList<QPair<QString, QString>>;

    explicit SettingsStore(QString filePath);

    QString read(const QString& section, const QString& key, const QString& defaultValue) const;

    // Returns false (and sets lastError()) when the file could not be written; the old file stays.
    bool write(const QString& section, const QString& key, const QString& value);
    // Several keys of one section in one atomic replace, in the order given.
    bool writeAll(const QString& section, const Entries& entries);

    QString lastError() const { return lastError_; }
    QString filePath() const { return path_; }

    // For tests: runs after the new contents are in the temporary file and before that file replaces the old
    // one; returning false abandons the write there, as a crash at that moment would.
    void setBeforeReplaceHook(std::function<bool()> hook) { beforeReplace_ = std::move(hook); }

private:
    QString path_;
    QString lastError_;
    std::function<bool()> beforeReplace_;
};
