// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

// One line of the stand-in station's command language: what the other stations (and the station's own
// operator) do. Read from stdin or a script file, and produced by the demo.
struct SimCommand {
    enum class Kind {
        None,       // blank line or comment
        Chat,       // text: a chat text arrives, exactly as given
        Connect,    // callsign, text = name (may be empty): a station connects
        Drop,       // callsign: a station drops
        DropAll,    // every station drops
        Key,        // the transmitter keys
        Unkey,      // the transmitter unkeys
        Receive,    // callsign: a transmission of that station is heard (ending one heard before)
        Unreceive,  // the transmission being heard ends
        Refuse,     // callsign: Connect of it is refused from now on
        Accept,     // callsign: Connect of it works again
        Pause,      // ms: wait before the next command
        WaitClient, // wait until a client has made its first request
        Echo,       // text: print "# text" (lets a driving script know where the station is)
        Close,      // the station closes: Closing is sent, then the program ends
        Quit,       // the program ends without Closing
        Burst,      // count, text: count chat texts "text #1" ... as fast as possible; replies are counted
        Storm,      // count: count stations connect, then all of them drop, as fast as possible
    };
    Kind kind = Kind::None;
    QString callsign;
    QString text;
    int ms = 0;
    int count = 0;
};

// Parses one line. Returns nullopt and a message in *error for a line that is not a command.
std::optional<SimCommand> parseSimCommand(const QString& line, QString* error);

// The command language, for --help and the documentation.
QString simCommandHelp();

// Escapes: \r carriage return, \n line feed, \t tab, \\ backslash, \xHH any other byte-sized character.
// unescapeText returns nullopt and a message for a bad escape. escapeText is the inverse, for printing a
// text on one line; it escapes control characters and the backslash only.
std::optional<QString> unescapeText(const QString& text, QString* error);
QString escapeText(const QString& text);
