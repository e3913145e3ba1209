// SPDX-License-Identifier: GPL-3.0-or-later
#include "StationSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <sys/stat.h>

namespace {

// A settings file is a few hundred bytes; anything past these is junk, not settings.
constexpr qint64 MaxFileBytes = qint64(64) * 1024;
constexpr qsizetype MaxLineBytes = 1024;
constexpr int DirectoryShownChars = 27;
// Beyond this a gain is a typo: +40 dB already turns a whisper into clipping.
constexpr double MaxGainDb = 40.0;

const QString Section = QStringLiteral("STATION");

QString exampleText() {
    return QStringLiteral("Example:\n"
                          "  [STATION]\n"
                          "  CALLSIGN=YOURCALL-L\n"
                          "  PASSWORD=your EchoLink password\n"
                          "  NAME=Your Name\n"
                          "  LOCATION=Your Town\n"
                          "Then make it readable by you only: chmod 600 %1\n"
                          "README.md, \"On the air with parlevox-station\", explains every key.");
}

bool plausibleHost(const QString& host) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]{0,252}[A-Za-z0-9])?$"));
    return pattern.match(host).hasMatch();
}

std::optional<QHostAddress> parseBind(const QString& text) {
    QHostAddress address;
    if (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv4Protocol) {
        return std::nullopt;
    }
    return address;
}

struct RawFile {
    QHash<QString, QString> values; // key in capitals -> value, trimmed; the last one wins
    QStringList warnings;
};

// Reads [STATION] as plain "KEY=value" lines: no quoting or escapes, so a password may hold any character
// but a line end. Lines starting with ; or # are comments; keys before any section count as [STATION].
RawFile parseIni(const QByteArray& bytes, const QString& path) {
    RawFile raw;
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF")) {
        data.remove(0, 3);
    }
    bool inStation = true;
    bool sawSection = false;
    bool sawTopKeys = false;
    QList<int> unreadable;
    const QList<QByteArray> lines = data.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.isEmpty() || text.startsWith(QLatin1Char(';')) || text.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.size() > MaxLineBytes || line.contains('\0')) {
            unreadable << static_cast<int>(i + 1);
            continue;
        }
        if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']'))) {
            sawSection = true;
            inStation = text.mid(1, text.size() - 2).trimmed().compare(Section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = text.indexOf(QLatin1Char('='));
        const QString key = text.left(equals).trimmed().toUpper();
        if (equals <= 0 || key.isEmpty()) {
            unreadable << static_cast<int>(i + 1);
            continue;
        }
        if (!inStation) {
            continue;
        }
        sawTopKeys = sawTopKeys || !sawSection;
        raw.values.insert(key, text.mid(equals + 1).trimmed());
    }
    if (!unreadable.isEmpty()) {
        raw.warnings << QStringLiteral("%1: %2 line(s) could not be read and were ignored (the first is line %3)")
                            .arg(path)
                            .arg(unreadable.size())
                            .arg(unreadable.first());
    }
    if (sawTopKeys) {
        raw.warnings
            << QStringLiteral("%1: keys before any section were read as [STATION]; put [STATION] above them").arg(path);
    }
    return raw;
}

QString badValue(const QString& key, const QString& value, const QString& fallback) {
    return QStringLiteral("%1=%2 is not valid; using %3").arg(key, value, fallback);
}

} // namespace

bool plausibleCallsign(const QString& call) {
    static const QRegularExpression pattern(QStringLiteral("^\\*?[A-Z0-9/-]*[A-Z0-9][A-Z0-9/-]*\\*?$"));
    return call.size() >= 3 && call.size() <= 15 && pattern.match(call).hasMatch();
}

std::optional<QStringList> parseDirectoryServers(const QString& text) {
    QStringList servers;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QString host = part.trimmed();
        if (host.isEmpty()) {
            continue;
        }
        if (!plausibleHost(host)) {
            return std::nullopt;
        }
        servers << host;
    }
    if (servers.isEmpty()) {
        return std::nullopt;
    }
    return servers;
}

QString defaultSettingsPath() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("parlevox-station.ini"));
}

SettingsLoad loadStationSettings(const QString& path, const QString& bindOverride, const QString& directoryOverride) {
    SettingsLoad load;
    const QString example = exampleText().arg(path);
    QFile file(path);
    if (!file.exists()) {
        load.error = QStringLiteral("no settings file %1. Create it with a [STATION] section that sets at least "
                                    "CALLSIGN and PASSWORD (NAME, LOCATION, INFO, DIRECTORY, BIND, MAXCONNECTIONS, "
                                    "ACCEPT, AUDIOIN, AUDIOOUT, RXGAIN and TXGAIN are optional).\n%2")
                         .arg(path, example);
        return load;
    }
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        load.error = QStringLiteral("cannot read the settings file %1: %2")
                         .arg(path, QFileInfo(path).isDir() ? QStringLiteral("it is a folder") : file.errorString());
        return load;
    }
    struct stat info {};
    if (::fstat(file.handle(), &info) == 0 && (info.st_mode & 077) != 0) {
        load.warnings << QStringLiteral("%1 can be read by other users of this machine (mode %2) and it holds your "
                                        "EchoLink password; make it private with: chmod 600 %1")
                             .arg(path)
                             .arg(info.st_mode & 0777, 4, 8, QLatin1Char('0'));
    }
    const QByteArray bytes = file.read(MaxFileBytes);
    if (!file.atEnd()) {
        load.warnings
            << QStringLiteral("%1 is larger than %2 bytes; only the start was read").arg(path).arg(MaxFileBytes);
    }
    RawFile raw = parseIni(bytes, path);
    load.warnings << raw.warnings;

    static const QStringList known{
        QStringLiteral("CALLSIGN"), QStringLiteral("PASSWORD"),       QStringLiteral("NAME"),
        QStringLiteral("LOCATION"), QStringLiteral("INFO"),           QStringLiteral("DIRECTORY"),
        QStringLiteral("BIND"),     QStringLiteral("MAXCONNECTIONS"), QStringLiteral("ACCEPT"),
        QStringLiteral("AUDIOIN"),  QStringLiteral("AUDIOOUT"),       QStringLiteral("RXGAIN"),
        QStringLiteral("TXGAIN")};
    QStringList unknown;
    for (auto it = raw.values.cbegin(); it != raw.values.cend(); ++it) {
        if (!known.contains(it.key())) {
            unknown << it.key();
        }
    }
    if (!unknown.isEmpty()) {
        unknown.sort();
        load.warnings << QStringLiteral("%1: unknown key(s) %2 ignored").arg(path, unknown.join(QStringLiteral(", ")));
    }

    StationSettings s;
    s.file = path;
    const QString call = raw.values.value(QStringLiteral("CALLSIGN")).toUpper();
    if (call.isEmpty()) {
        load.error = QStringLiteral("%1 sets no CALLSIGN. Put CALLSIGN=your callsign and PASSWORD=your EchoLink "
                                    "password in its [STATION] section.\n%2")
                         .arg(path, example);
        return load;
    }
    if (!plausibleCallsign(call)) {
        load.error = QStringLiteral("%1: CALLSIGN=%2 is not a callsign (3 to 15 letters, digits, - or /; a "
                                    "conference may have a * at either end)")
                         .arg(path, call);
        return load;
    }
    s.callsign = call;
    s.password = raw.values.value(QStringLiteral("PASSWORD"));
    if (s.password.isEmpty()) {
        load.warnings << QStringLiteral("%1 sets no PASSWORD: the directory will refuse the login, so stations "
                                        "cannot find you by callsign (connections by address still work)")
                             .arg(path);
    }
    s.name = raw.values.value(QStringLiteral("NAME"));
    s.location = raw.values.value(QStringLiteral("LOCATION"));
    if (s.location.size() > DirectoryShownChars) {
        load.warnings << QStringLiteral("LOCATION is %1 characters long; the directory shows only the first %2: %3")
                             .arg(s.location.size())
                             .arg(DirectoryShownChars)
                             .arg(s.location.left(DirectoryShownChars));
    }
    s.info = raw.values.value(QStringLiteral("INFO"));

    const StationSettings defaults;
    if (raw.values.contains(QStringLiteral("DIRECTORY"))) {
        const QString text = raw.values.value(QStringLiteral("DIRECTORY"));
        if (const auto servers = parseDirectoryServers(text)) {
            s.directoryServers = *servers;
        } else {
            load.warnings << badValue(QStringLiteral("DIRECTORY"), text, defaults.directoryServers.join(u','));
        }
    }
    if (const QString text = raw.values.value(QStringLiteral("BIND")); !text.isEmpty()) {
        if (const auto address = parseBind(text)) {
            s.bind = *address;
        } else {
            load.warnings << badValue(QStringLiteral("BIND"), text, QStringLiteral("all local addresses"));
        }
    }
    if (raw.values.contains(QStringLiteral("MAXCONNECTIONS"))) {
        const QString text = raw.values.value(QStringLiteral("MAXCONNECTIONS"));
        bool ok = false;
        const int max = text.toInt(&ok);
        if (ok && max >= 1 && max <= 100) {
            s.maxConnections = max;
        } else {
            load.warnings << badValue(QStringLiteral("MAXCONNECTIONS"), text,
                                      QString::number(defaults.maxConnections)) +
                                 QStringLiteral(" (allowed: 1 to 100)");
        }
    }
    if (const QString text = raw.values.value(QStringLiteral("ACCEPT")); !text.isEmpty()) {
        const QString lower = text.toLower();
        if (lower == QLatin1String("directory")) {
            s.accept = AcceptPolicy::Directory;
        } else if (lower == QLatin1String("any")) {
            s.accept = AcceptPolicy::Any;
        } else if (lower == QLatin1String("none")) {
            s.accept = AcceptPolicy::None;
        } else {
            load.warnings << badValue(QStringLiteral("ACCEPT"), text, QStringLiteral("directory")) +
                                 QStringLiteral(" (allowed: directory, any, none)");
        }
    }
    s.audioIn = raw.values.value(QStringLiteral("AUDIOIN"));
    s.audioOut = raw.values.value(QStringLiteral("AUDIOOUT"));
    for (const auto& [key, gain] :
         {std::pair{QStringLiteral("RXGAIN"), &s.rxGainDb}, std::pair{QStringLiteral("TXGAIN"), &s.txGainDb}}) {
        if (const QString text = raw.values.value(key); !text.isEmpty()) {
            bool ok = false;
            const double db = text.toDouble(&ok);
            if (ok && db >= -MaxGainDb && db <= MaxGainDb) { // false for NaN too
                *gain = db;
            } else {
                load.warnings << badValue(key, text, QStringLiteral("0")) + QStringLiteral(" (allowed: -40 to 40 dB)");
            }
        }
    }

    // Typed on the command line for this run: a typo there should stop the station, not fall back silently
    // to all addresses or to the public directory.
    if (!bindOverride.isEmpty()) {
        const auto address = parseBind(bindOverride.trimmed());
        if (!address) {
            load.error = QStringLiteral("--bind %1 is not an IPv4 address of this machine").arg(bindOverride);
            return load;
        }
        s.bind = *address;
    }
    if (!directoryOverride.isEmpty()) {
        const auto servers = parseDirectoryServers(directoryOverride);
        if (!servers) {
            load.error =
                QStringLiteral("--directory %1 is not a comma-separated list of host names").arg(directoryOverride);
            return load;
        }
        s.directoryServers = *servers;
    }
    load.settings = s;
    return load;
}

bool writeStationSettings(const QString& path, const StationSettings& settings, QString* why) {
    auto fail = [why](const QString& reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return false;
    };
    const char* acceptNames[] = {"directory", "any", "none"};
    const QList<QPair<QString, QString>> entries{
        {QStringLiteral("CALLSIGN"), settings.callsign},
        {QStringLiteral("PASSWORD"), settings.password},
        {QStringLiteral("NAME"), settings.name},
        {QStringLiteral("LOCATION"), settings.location},
        {QStringLiteral("INFO"), settings.info},
        {QStringLiteral("DIRECTORY"), settings.directoryServers.join(QLatin1Char(','))},
        {QStringLiteral("BIND"),
         settings.bind == QHostAddress(QHostAddress::AnyIPv4) ? QString() : settings.bind.toString()},
        {QStringLiteral("MAXCONNECTIONS"), QString::number(settings.maxConnections)},
        {QStringLiteral("ACCEPT"), QString::fromLatin1(acceptNames[static_cast<int>(settings.accept)])},
        {QStringLiteral("AUDIOIN"), settings.audioIn},
        {QStringLiteral("AUDIOOUT"), settings.audioOut},
        {QStringLiteral("RXGAIN"), QString::number(settings.rxGainDb)},
        {QStringLiteral("TXGAIN"), QString::number(settings.txGainDb)},
    };
    QByteArray content = "[STATION]\n";
    for (const auto& [key, value] : entries) {
        // The reader trims values and ends them at a line end; refuse what would not read back the same.
        if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')) || value.contains(QChar(u'\0')) ||
            value != value.trimmed()) {
            return fail(QStringLiteral("%1 cannot hold line ends, NUL or leading or trailing spaces").arg(key));
        }
        content += key.toUtf8() + '=' + value.toUtf8() + '\n';
    }

    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        return fail(QStringLiteral("cannot create the folder %1").arg(folder));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return fail(file.errorString());
    }
    // Private before the password goes in.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        return fail(QStringLiteral("cannot make %1 private: %2").arg(path, file.errorString()));
    }
    if (file.write(content) != content.size() || !file.commit()) {
        return fail(file.errorString());
    }
    return true;
}
