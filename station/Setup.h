// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "DirectoryProtocol.h"
#include "StationSettings.h"

#include <QString>
#include <cstdio>
#include <optional>

// parlevox-station --setup: asks in the terminal for the settings a station needs to go on the air, one plain
// prompt per line (nothing but text, so a screen reader reads it as it comes), writes the settings file and
// tries one login with the directory to tell the user whether the callsign and password work.
class Setup {
public:
    struct Options {
        QString path;              // the settings file
        QString directoryOverride; // --directory: servers for the login check only; the file keeps its own
        quint16 directoryPort = el::DirectoryPort;
        int loginTimeoutMs = 10000; // per server
    };

    // Answers are read from in (a terminal: the password is not echoed; else plain lines), text goes to out.
    Setup(Options options, std::FILE* in, std::FILE* out);

    // 0: the file was written (whatever the directory said); 1: the input ended before every answer was given
    // or the file could not be read or written; 2: --directory names no usable server.
    int run();

private:
    enum class Read { Answer, Ended };

    struct LoginResult {
        enum Kind { Accepted, Refused, Unreachable } kind = Unreachable;
        QString server;
        QString detail; // the refusal's first line, or why no server could be reached
    };

    // Asks until check() returns no reason; an empty answer takes fallback. Ended at the end of the input.
    template <typename Check>
    Read ask(const QString& prompt, const QString& fallback, bool secret, Check check, QString* answer);
    std::optional<QByteArray> readLine(bool* tooLong);
    bool loadCurrent(StationSettings* settings, bool* haveCurrent);
    LoginResult tryLogin(const StationSettings& settings, const QStringList& servers) const;
    void say(const QString& text);
    void sayPrompt(const QString& text);

    Options options_;
    std::FILE* in_;
    std::FILE* out_;
    bool terminal_;
};
