// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Node.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>

// The station's settings: [STATION] in parlevox-station.ini (in the user's configuration folder, or the
// file given with --config), overridden by --bind and --directory.
struct StationSettings {
    QString callsign;
    QString password;
    QString name;
    QString location; // the directory description
    QString info;     // station information sent to each peer
    QStringList directoryServers{QStringLiteral("servers.echolink.org")};
    QHostAddress bind = QHostAddress::AnyIPv4;
    int maxConnections = 4;
    AcceptPolicy accept = AcceptPolicy::Directory;
    QString audioIn;       // microphone: a device description as --list-devices shows it; empty = system default
    QString audioOut;      // speaker, likewise
    double rxGainDb = 0.0; // on the stations heard, -40 to +40
    double txGainDb = 0.0; // on our microphone, likewise
    QString file;          // the file they were read from
};

struct SettingsLoad {
    std::optional<StationSettings> settings; // nullopt: cannot run (no file, no callsign); see errors
    QStringList warnings;                    // a bad value fell back to its default; a file others can read
    QString error;                           // why the station cannot start, naming the file and the keys
};

// The callsign form the reader takes (capitals already applied): 3 to 15 of A-Z 0-9 - /, * at either end.
bool plausibleCallsign(const QString& call);
// Host names separated by commas, as DIRECTORY and --directory take them; nullopt when one is not a host name.
std::optional<QStringList> parseDirectoryServers(const QString& text);
// Default path: $XDG_CONFIG_HOME/parlevox-station.ini via QStandardPaths::GenericConfigLocation.
QString defaultSettingsPath();
// Reads the file; overrides (empty = none) replace the file's BIND and DIRECTORY.
SettingsLoad loadStationSettings(const QString& path, const QString& bindOverride = {},
                                 const QString& directoryOverride = {});
// Writes a settings file readable by the owner only (mode 0600), creating its folder. False with a reason.
bool writeStationSettings(const QString& path, const StationSettings& settings, QString* why = nullptr);
