// SPDX-License-Identifier: GPL-3.0-or-later
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <optional>

namespace {

// The file as a list of raw lines. Only the lines a write changes are rebuilt; every other line goes back
// byte for byte, whatever it holds.
struct IniLines {
    QByteArray bom;
    bool crlf = false;
    QList<QByteArray> lines; // without '\n'; a CRLF line keeps its '\r'
};

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

IniLines splitLines(QByteArray data) {
    IniLines ini;
    if (data.startsWith(kUtf8Bom)) {
        ini.bom = kUtf8Bom;
        data.remove(0, kUtf8Bom.size());
    }
    ini.lines = data.split('\n');
    if (!ini.lines.isEmpty() && ini.lines.last().isEmpty()) {
        ini.lines.removeLast(); // the end of the last line, not a line of its own
    }
    ini.crlf = !ini.lines.isEmpty() && ini.lines.first().endsWith('\r');
    return ini;
}

QByteArray joinLines(const IniLines& ini) {
    QByteArray data = ini.bom;
    for (const QByteArray& line : ini.lines) {
        data += line;
        data += '\n';
    }
    return data;
}

// QString::fromUtf8 drops a leading U+FEFF, so a value or name starting with one would not read back.
QString decoded(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

QByteArray content(const QByteArray& line) {
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// The name of a section header line ("[name]", spaces allowed around it).
std::optional<QString> sectionOf(const QByteArray& line) {
    const QByteArray text = content(line).trimmed();
    if (!text.startsWith('[')) {
        return std::nullopt;
    }
    const qsizetype close = text.indexOf(']');
    const QByteArray name = text.mid(1, close < 0 ? -1 : close - 1);
    return decoded(name.trimmed());
}

// The key of a "key=value" line; comments and lines without '=' have none.
std::optional<QString> keyOf(const QByteArray& line) {
    const QByteArray text = content(line);
    const qsizetype equals = text.indexOf('=');
    if (equals < 0 || text.trimmed().startsWith(';')) {
        return std::nullopt;
    }
    return decoded(text.left(equals).trimmed());
}

// Everything after the first '=', unchanged.
QString valueOf(const QByteArray& line) {
    const QByteArray text = content(line);
    return decoded(text.mid(text.indexOf('=') + 1));
}

// Names are stored trimmed, so they are looked up trimmed: " TEXT4" finds the TEXT4 it wrote.
bool sameName(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

struct SectionRange {
    qsizetype header = -1; // index of the header line
    qsizetype end = -1;    // one past the last line of the section
};

QList<SectionRange> sectionsNamed(const IniLines& ini, const QString& section) {
    QList<SectionRange> found;
    for (qsizetype i = 0; i < ini.lines.size(); ++i) {
        const auto name = sectionOf(ini.lines[i]);
        if (!name) {
            continue;
        }
        if (!found.isEmpty() && found.last().end < 0) {
            found.last().end = i;
        }
        if (sameName(*name, section)) {
            found.append({i, -1});
        }
    }
    if (!found.isEmpty() && found.last().end < 0) {
        found.last().end = ini.lines.size();
    }
    return found;
}

// The first line holding the key in any section of that name; duplicates after it are never seen.
std::optional<qsizetype> findKey(const IniLines& ini, const QList<SectionRange>& sections, const QString& key) {
    for (const SectionRange& range : sections) {
        for (qsizetype i = range.header + 1; i < range.end; ++i) {
            const auto name = keyOf(ini.lines[i]);
            if (name && sameName(*name, key)) {
                return i;
            }
        }
    }
    return std::nullopt;
}

QString cut(const QString& value) {
    if (value.size() <= SettingsStore::MaxValueLength) {
        return value;
    }
    qsizetype length = SettingsStore::MaxValueLength;
    if (value.at(length - 1).isHighSurrogate()) {
        --length; // never leave half a character
    }
    return value.left(length);
}

// A line break would start a new line and so a new key: it is written as a space.
QString flattened(const QString& value) {
    QString flat = value;
    flat.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return flat;
}

QString nameProblem(const QString& section, const SettingsStore::Entries& entries) {
    const QString trimmedSection = section.trimmed();
    if (trimmedSection.isEmpty() || section.contains(QLatin1Char(']')) || section.contains(QLatin1Char('\n')) ||
        section.contains(QLatin1Char('\r'))) {
        return QStringLiteral("The section name \"%1\" cannot be stored.").arg(section);
    }
    for (const auto& [key, value] : entries) {
        const QString trimmedKey = key.trimmed();
        if (trimmedKey.isEmpty() || key.contains(QLatin1Char('=')) || key.contains(QLatin1Char('\n')) ||
            key.contains(QLatin1Char('\r')) || trimmedKey.startsWith(QLatin1Char(';')) ||
            trimmedKey.startsWith(QLatin1Char('['))) {
            return QStringLiteral("The key name \"%1\" cannot be stored.").arg(key);
        }
    }
    return QString();
}

QByteArray makeLine(const QByteArray& text, bool crlf) {
    return crlf ? text + '\r' : text;
}

void setEntry(IniLines& ini, const QString& section, const QString& key, const QString& value) {
    const QByteArray valueBytes = flattened(value).toUtf8();
    const QList<SectionRange> sections = sectionsNamed(ini, section);
    if (const auto at = findKey(ini, sections, key)) {
        // The key keeps its spelling in the file; only the value changes.
        const QByteArray text = content(ini.lines[*at]);
        ini.lines[*at] = makeLine(text.left(text.indexOf('=') + 1) + valueBytes, ini.crlf);
        return;
    }
    const QByteArray line = makeLine(key.trimmed().toUtf8() + '=' + valueBytes, ini.crlf);
    if (sections.isEmpty()) {
        if (!ini.lines.isEmpty() && !content(ini.lines.last()).trimmed().isEmpty()) {
            ini.lines.append(makeLine(QByteArray(), ini.crlf));
        }
        ini.lines.append(makeLine('[' + section.trimmed().toUtf8() + ']', ini.crlf));
        ini.lines.append(line);
        return;
    }
    // After the last non-blank line of the first such section, so that keys keep the order written.
    const SectionRange& range = sections.first();
    qsizetype insertAt = range.header + 1;
    for (qsizetype i = range.header + 1; i < range.end; ++i) {
        if (!content(ini.lines[i]).trimmed().isEmpty()) {
            insertAt = i + 1;
        }
    }
    ini.lines.insert(insertAt, line);
}

} // namespace

SettingsStore::SettingsStore(QString filePath) : path_(std::move(filePath)) {}

QString SettingsStore::read(const QString& section, const QString& key, const QString& defaultValue) const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        return cut(defaultValue);
    }
    const IniLines ini = splitLines(file.readAll());
    const auto at = findKey(ini, sectionsNamed(ini, section), key);
    return cut(at ? valueOf(ini.lines[*at]) : defaultValue);
}

bool SettingsStore::write(const QString& section, const QString& key, const QString& value) {
    return writeAll(section, {{key, value}});
}

bool SettingsStore::writeAll(const QString& section, const Entries& entries) {
    if (const QString problem = nameProblem(section, entries); !problem.isEmpty()) {
        lastError_ = problem;
        return false;
    }
    if (entries.isEmpty()) {
        lastError_.clear();
        return true;
    }

    IniLines ini;
    QFile old(path_);
    if (old.exists()) {
        // Never replace a file we could not read: its other lines would be lost.
        if (!old.open(QIODevice::ReadOnly)) {
            lastError_ = QStringLiteral("Cannot read the settings file %1: %2").arg(path_, old.errorString());
            return false;
        }
        ini = splitLines(old.readAll());
        old.close();
    } else {
#ifdef Q_OS_WIN
        ini.crlf = true;
#endif
    }
    for (const auto& [key, value] : entries) {
        setEntry(ini, section, key, value);
    }

    const QString folder = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(folder)) {
        lastError_ = QStringLiteral("Cannot create the folder %1 for the settings file.").arg(folder);
        return false;
    }
    QSaveFile file(path_);
    const QByteArray data = joinLines(ini);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        lastError_ = QStringLiteral("Cannot write the settings file %1: %2").arg(path_, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (beforeReplace_ && !beforeReplace_()) {
        lastError_ = QStringLiteral("Writing the settings file %1 was interrupted; the old file is kept.").arg(path_);
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        lastError_ = QStringLiteral("Cannot replace the settings file %1: %2").arg(path_, file.errorString());
        return false;
    }
    lastError_.clear();
    return true;
}
