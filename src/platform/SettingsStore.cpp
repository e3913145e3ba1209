// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>
#include <iterator>
#include <optional>

namespace {

// The file as a list of raw lines. Only the lines a write changes are rebuilt; every other line goes back
// byte for byte, whatever it holds.
struct IniLines {
    QByteArray bom;
    bool crlf = false;
    // Files of the old Windows program are in its ANSI code page; they stay in it when values are written.
    bool windows1252 = false;
    QList<QByteArray> lines; // without '\n'; a CRLF line keeps its '\r'
};

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. The five bytes it leaves undefined stand for the C1
// controls of the same number, as Windows itself decodes them, so every byte reads back to itself.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromWindows1252(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[i] = (byte >= 0x80 && byte < 0xA0) ? QChar(kCp1252High[byte - 0x80]) : QChar(char16_t(byte));
    }
    return text;
}

std::optional<QByteArray> toWindows1252(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            bytes += char(u);
            continue;
        }
        const auto* found = std::find(std::begin(kCp1252High), std::end(kCp1252High), u);
        if (found == std::end(kCp1252High)) {
            return std::nullopt;
        }
        bytes += char(0x80 + (found - std::begin(kCp1252High)));
    }
    return bytes;
}

bool isUtf8(const QByteArray& data) {
    // Stateless: a sequence cut off at the end of the file is an error too.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(data); // decodes only when made into a string
    return !decoder.hasError();
}

IniLines splitLines(QByteArray data) {
    IniLines ini;
    if (data.startsWith(kUtf8Bom)) {
        ini.bom = kUtf8Bom;
        data.remove(0, kUtf8Bom.size());
    }
    ini.windows1252 = !isUtf8(data);
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
QString decoded(const IniLines& ini, const QByteArray& bytes) {
    if (ini.windows1252) {
        return fromWindows1252(bytes);
    }
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

// Text that cannot be written in the file's code page makes the whole file UTF-8, so that every line, old and
// new, reads back as it was meant.
QByteArray encoded(IniLines& ini, const QString& text) {
    if (ini.windows1252) {
        if (const auto bytes = toWindows1252(text)) {
            return *bytes;
        }
        for (QByteArray& line : ini.lines) {
            line = fromWindows1252(line).toUtf8();
        }
        ini.windows1252 = false;
    }
    return text.toUtf8();
}

// A file kept in Windows-1252 must still read as Windows-1252 after the write. When its only bytes that are not
// valid UTF-8 were in a value just replaced, it would read as UTF-8 and its letters would change meaning: then it
// becomes UTF-8 as a whole instead.
void keepMeaning(IniLines& ini) {
    if (!ini.windows1252) {
        return;
    }
    const QByteArray data = joinLines(ini);
    const bool ascii = std::all_of(data.cbegin(), data.cend(), [](char c) { return static_cast<uchar>(c) < 0x80; });
    if (ascii || !isUtf8(data)) {
        return;
    }
    for (QByteArray& line : ini.lines) {
        line = fromWindows1252(line).toUtf8();
    }
    ini.windows1252 = false;
}

QByteArray content(const QByteArray& line) {
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// The name of a section header line ("[name]", spaces allowed around it).
std::optional<QString> sectionOf(const IniLines& ini, const QByteArray& line) {
    const QByteArray text = content(line).trimmed();
    if (!text.startsWith('[')) {
        return std::nullopt;
    }
    const qsizetype close = text.indexOf(']');
    const QByteArray name = text.mid(1, close < 0 ? -1 : close - 1);
    return decoded(ini, name.trimmed());
}

// The key of a "key=value" line; comments and lines without '=' have none.
std::optional<QString> keyOf(const IniLines& ini, const QByteArray& line) {
    const QByteArray text = content(line);
    const qsizetype equals = text.indexOf('=');
    if (equals < 0 || text.trimmed().startsWith(';')) {
        return std::nullopt;
    }
    return decoded(ini, text.left(equals).trimmed());
}

// Everything after the first '=', unchanged.
QString valueOf(const IniLines& ini, const QByteArray& line) {
    const QByteArray text = content(line);
    return decoded(ini, text.mid(text.indexOf('=') + 1));
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
        const auto name = sectionOf(ini, ini.lines[i]);
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
            const auto name = keyOf(ini, ini.lines[i]);
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
    // Encoded first: text that turns the file into UTF-8 changes every line before any is looked at. All three
    // are tried before any is kept, so that none stays in the code page the file just left.
    const QString texts[] = {flattened(value), key.trimmed(), section.trimmed()};
    for (const QString& text : texts) {
        (void)encoded(ini, text);
    }
    const QByteArray valueBytes = encoded(ini, texts[0]);
    const QByteArray keyBytes = encoded(ini, texts[1]);
    const QByteArray sectionBytes = encoded(ini, texts[2]);
    const QList<SectionRange> sections = sectionsNamed(ini, section);
    if (const auto at = findKey(ini, sections, key)) {
        // The key keeps its spelling in the file; only the value changes.
        const QByteArray text = content(ini.lines[*at]);
        ini.lines[*at] = makeLine(text.left(text.indexOf('=') + 1) + valueBytes, ini.crlf);
        return;
    }
    const QByteArray line = makeLine(keyBytes + '=' + valueBytes, ini.crlf);
    if (sections.isEmpty()) {
        if (!ini.lines.isEmpty() && !content(ini.lines.last()).trimmed().isEmpty()) {
            ini.lines.append(makeLine(QByteArray(), ini.crlf));
        }
        ini.lines.append(makeLine('[' + sectionBytes + ']', ini.crlf));
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
    return cut(at ? valueOf(ini, ini.lines[*at]) : defaultValue);
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
    keepMeaning(ini);
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
