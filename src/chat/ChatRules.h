// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The text rules of the chat: how a received chat line is cut, filtered, logged and spoken, and how a
// typed line is stamped and logged. Everything here is case-sensitive.
namespace chat {

// A received chat text "SENDER>message" cut at its first ">": the sender before it, the message part
// from the ">" on (">hello"). A text without ">" has no sender; its message part is the whole text.
struct ChatLine {
    QString sender;
    QString messagePart;
};
ChatLine splitChatLine(const QString& sText);

// A received text asks for the program's version when it contains "/ver/" (lower case only).
bool isVersionQuery(const QString& sText);
// The answer to a version query: "Parlevox  v1.2".
QString versionReply();

// A non-empty filter word matches wherever it occurs in the whole text, sender included. An empty
// word never matches.
bool filterWordMatches(const QString& sText, const QString& word);
bool isFiltered(const QString& sText, const QStringList& words);

// "N0CALL (09:05)>hello": sender, the stamp in parentheses, the message part. Line breaks stay as
// received.
QString stampedLine(const ChatLine& line, const QString& stamp);
// "N0CALL:>hello".
QString speechTail(const ChatLine& line);
// What the voice says for a received text. With stamped logging the tail is made easier to listen
// to: every ">" becomes a space and every "-" becomes " : ", so N0CALL-L>hi is said as "N0CALL : L: hi".
QString spokenText(const ChatLine& line, bool stampedLogging);

// The text a log shows for a line of chat. Strangers' text is shown literally, but some characters
// would harm the log, so:
// - CR LF, a lone CR and a lone LF each become one line break, so a multi-line message reads as written;
// - other control characters are shown as their visible control pictures (BEL as U+2407);
// - the two characters the text document reserves for frames become U+FFFD;
// - a run of more than MaxUnbrokenRun characters without a space gets an invisible zero-width space
//   after every MaxUnbrokenRun characters: without a place to wrap, laying out a megabyte-long word
//   takes minutes and freezes the window. Removing U+200B gives the text back.
inline constexpr int MaxUnbrokenRun = 200;
QString logDisplayText(const QString& text);

// What goes out for a typed line: a line starting with "." goes out as typed; otherwise, when stamping
// is on, "(09:05) >" is put in front.
QString outgoingText(const QString& typed, bool stampOn, const QString& stamp);
// "N0CALL> (09:05) >hello" and a line break.
QString sentLogLine(const QString& ownCallsign, const QString& sentText);

// The credits written into the sent log by the About button: six lines, each ending in a line break.
QString credits();

} // namespace chat
