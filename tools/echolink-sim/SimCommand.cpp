// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimCommand.h"

#include <algorithm>
#include <array>

namespace {

struct Word {
    const char* word;
    SimCommand::Kind kind;
    enum Argument { NoArgument, Text, Callsign, CallsignAndText, Milliseconds, Count, CountAndText } argument;
};

constexpr std::array<Word, 17> Words{{
    {"chat", SimCommand::Kind::Chat, Word::Text},
    {"connect", SimCommand::Kind::Connect, Word::CallsignAndText},
    {"drop", SimCommand::Kind::Drop, Word::Callsign},
    {"drop-all", SimCommand::Kind::DropAll, Word::NoArgument},
    {"key", SimCommand::Kind::Key, Word::NoArgument},
    {"unkey", SimCommand::Kind::Unkey, Word::NoArgument},
    {"receive", SimCommand::Kind::Receive, Word::Callsign},
    {"unreceive", SimCommand::Kind::Unreceive, Word::NoArgument},
    {"refuse", SimCommand::Kind::Refuse, Word::Callsign},
    {"accept", SimCommand::Kind::Accept, Word::Callsign},
    {"pause", SimCommand::Kind::Pause, Word::Milliseconds},
    {"wait-client", SimCommand::Kind::WaitClient, Word::NoArgument},
    {"echo", SimCommand::Kind::Echo, Word::Text},
    {"close", SimCommand::Kind::Close, Word::NoArgument},
    {"quit", SimCommand::Kind::Quit, Word::NoArgument},
    {"burst", SimCommand::Kind::Burst, Word::CountAndText},
    {"storm", SimCommand::Kind::Storm, Word::Count},
}};

// Bursts and storms are load tests; a million events would only stall the station for minutes.
constexpr int MaxCount = 1000000;

bool isCallsignChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('*') || c == QLatin1Char('/');
}

std::optional<QString> parseCallsign(const QString& text, QString* error) {
    if (text.isEmpty()) {
        *error = QStringLiteral("a callsign is missing");
        return std::nullopt;
    }
    for (QChar c : text) {
        if (!isCallsignChar(c)) {
            *error = QStringLiteral("\"%1\" is not a callsign").arg(text);
            return std::nullopt;
        }
    }
    return text.toUpper();
}

int hexValue(QChar c) {
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
        return c.unicode() - '0';
    }
    const QChar lower = c.toLower();
    if (lower >= QLatin1Char('a') && lower <= QLatin1Char('f')) {
        return lower.unicode() - 'a' + 10;
    }
    return -1;
}

std::optional<int> parseCount(const QString& word, const QString& text, QString* error) {
    bool ok = false;
    const int count = text.toInt(&ok);
    if (!ok || count < 1 || count > MaxCount) {
        *error = QStringLiteral("%1 needs a count from 1 to %2, not \"%3\"").arg(word).arg(MaxCount).arg(text);
        return std::nullopt;
    }
    return count;
}

} // namespace

std::optional<QString> unescapeText(const QString& text, QString* error) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\')) {
            out += c;
            continue;
        }
        if (i + 1 >= text.size()) {
            *error = QStringLiteral("a lone \\ at the end; write \\\\ for a backslash");
            return std::nullopt;
        }
        const QChar e = text.at(++i);
        switch (e.unicode()) {
        case '\\':
            out += QLatin1Char('\\');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'x': {
            const int hi = i + 1 < text.size() ? hexValue(text.at(i + 1)) : -1;
            const int lo = i + 2 < text.size() ? hexValue(text.at(i + 2)) : -1;
            if (hi < 0 || lo < 0) {
                *error = QStringLiteral("\\x needs two hex digits");
                return std::nullopt;
            }
            out += QChar(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            *error = QStringLiteral("unknown escape \\%1; write \\\\ for a backslash").arg(e);
            return std::nullopt;
        }
    }
    return out;
}

QString escapeText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::optional<SimCommand> parseSimCommand(const QString& rawLine, QString* error) {
    QString line = rawLine;
    // A script written with CRLF line ends: the CR belongs to the line end. A CR inside a text is written \r.
    if (line.endsWith(QLatin1Char('\r'))) {
        line.chop(1);
    }
    qsizetype start = 0;
    while (start < line.size() && line.at(start).isSpace()) {
        ++start;
    }
    if (start == line.size() || line.at(start) == QLatin1Char('#')) {
        return SimCommand{};
    }
    const qsizetype space = line.indexOf(QLatin1Char(' '), start);
    const QString word = line.mid(start, space < 0 ? -1 : space - start).toLower();
    // The argument is everything after the single space that ends the command word, kept exactly.
    const QString argument = space < 0 ? QString() : line.mid(space + 1);

    const auto found =
        std::find_if(Words.begin(), Words.end(), [&](const Word& w) { return word == QLatin1String(w.word); });
    if (found == Words.end()) {
        *error = QStringLiteral("unknown command \"%1\" (see --help)").arg(word);
        return std::nullopt;
    }
    SimCommand command;
    command.kind = found->kind;
    switch (found->argument) {
    case Word::NoArgument:
        if (!argument.trimmed().isEmpty()) {
            *error = QStringLiteral("%1 takes no argument").arg(word);
            return std::nullopt;
        }
        break;
    case Word::Text: {
        const auto text = unescapeText(argument, error);
        if (!text) {
            return std::nullopt;
        }
        command.text = *text;
        break;
    }
    case Word::Callsign: {
        const auto call = parseCallsign(argument.trimmed(), error);
        if (!call) {
            return std::nullopt;
        }
        command.callsign = *call;
        break;
    }
    case Word::CallsignAndText: {
        const QString trimmed = argument.trimmed();
        const qsizetype gap = trimmed.indexOf(QLatin1Char(' '));
        const auto call = parseCallsign(gap < 0 ? trimmed : trimmed.left(gap), error);
        if (!call) {
            return std::nullopt;
        }
        const auto name = unescapeText(gap < 0 ? QString() : trimmed.mid(gap + 1).trimmed(), error);
        if (!name) {
            return std::nullopt;
        }
        command.callsign = *call;
        command.text = *name;
        break;
    }
    case Word::Count: {
        const auto count = parseCount(word, argument.trimmed(), error);
        if (!count) {
            return std::nullopt;
        }
        command.count = *count;
        break;
    }
    case Word::CountAndText: {
        // The text is everything after the single space that ends the number, kept exactly.
        const qsizetype gap = argument.indexOf(QLatin1Char(' '));
        const auto count = parseCount(word, gap < 0 ? argument : argument.left(gap), error);
        if (!count) {
            return std::nullopt;
        }
        const auto text = unescapeText(gap < 0 ? QString() : argument.mid(gap + 1), error);
        if (!text) {
            return std::nullopt;
        }
        command.count = *count;
        command.text = *text;
        break;
    }
    case Word::Milliseconds: {
        bool ok = false;
        const int ms = argument.trimmed().toInt(&ok);
        if (!ok || ms < 0) {
            *error = QStringLiteral("pause needs a number of milliseconds, not \"%1\"").arg(argument.trimmed());
            return std::nullopt;
        }
        command.ms = ms;
        break;
    }
    }
    return command;
}

QString simCommandHelp() {
    return QStringLiteral(
        "Commands, one a line (from stdin, or from the file given with --script):\n"
        "  chat TEXT            a chat text arrives, exactly TEXT (everything after \"chat \"),\n"
        "                       e.g. chat QA1BRK>hello all\n"
        "  connect CALL [NAME]  station CALL connects (NAME and address invented when not given/known)\n"
        "  drop CALL            station CALL drops\n"
        "  drop-all             every connected station drops\n"
        "  key | unkey          the transmitter keys / unkeys\n"
        "  receive CALL         a transmission of CALL is heard (ReceivingChanged true); one heard before\n"
        "                       ends first. Dropping CALL, drop-all and close end it too\n"
        "  unreceive            the transmission being heard ends (ReceivingChanged false)\n"
        "  refuse CALL          a Connect request for CALL is refused from now on\n"
        "  accept CALL          a Connect request for CALL works again\n"
        "  pause MS             wait MS milliseconds before the next command\n"
        "  wait-client          wait until a client has made its first request\n"
        "  echo TEXT            print \"# TEXT\" (to follow a script's progress)\n"
        "  close                the station closes: sends Closing, then ends (exit code 0)\n"
        "  quit                 end at once, without Closing (exit code 0)\n"
        "  burst N TEXT         N chat texts \"TEXT #1\" ... \"TEXT #N\" at once, as fast as possible; the\n"
        "                       SendChatText replies are counted (not logged one by one) and a summary\n"
        "                       \"# burst done: ...\" follows when all came or none came for 10 s\n"
        "  storm N              N stations QS1 ... connect, then all drop, at once (one summary line)\n"
        "  # ...                a comment; blank lines are ignored too\n"
        "In TEXT and NAME: \\r carriage return, \\n line feed, \\t tab, \\\\ backslash, \\xHH a character by\n"
        "its code. A CR at the very end of a line is taken as part of a CRLF line end.\n"
        "\n"
        "Output, one a line: \"> Method args\" for each request a client makes, \"! message\" when it is\n"
        "refused, \"< Signal args\" for each event sent, \"# ...\" for notes. Texts are printed escaped.\n"
        "\n"
        "When the input ends (end of stdin or of the script), the station ends (exit code 0) after the\n"
        "remaining commands have run, unless --stay or --demo is given: then it keeps running until\n"
        "killed, interrupted, or told to close or quit.\n");
}
