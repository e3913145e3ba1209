// SPDX-License-Identifier: GPL-3.0-or-later
#include "chat/ChatRules.h"

#include "BuildConfig.h"

namespace chat {

namespace {
constexpr QChar Cr(u'\r');
constexpr QChar Lf(u'\n');
constexpr QChar Tab(u'\t');
constexpr QChar ZeroWidthSpace(u'\u200B');
constexpr char16_t ControlPictures = u'\u2400';
constexpr char16_t DeletePicture = u'\u2421';
// QTextDocument marks the start and end of a frame with these; inserted as text they split the line.
constexpr QChar BeginningOfFrame(u'\uFDD0');
constexpr QChar EndOfFrame(u'\uFDD1');

constexpr int CreditsYear = 2026;
} // namespace

ChatLine splitChatLine(const QString& sText) {
    const qsizetype at = sText.indexOf(QLatin1Char('>'));
    if (at < 0) {
        return {QString(), sText};
    }
    return {sText.left(at), sText.mid(at)};
}

bool isVersionQuery(const QString& sText) {
    return sText.contains(QStringLiteral("/ver/"), Qt::CaseSensitive);
}

QString versionReply() {
    return QStringLiteral("%1  v%2.%3")
        .arg(QLatin1String(buildconfig::ProductName))
        .arg(buildconfig::VersionMajor)
        .arg(buildconfig::VersionMinor);
}

bool filterWordMatches(const QString& sText, const QString& word) {
    return !word.isEmpty() && sText.contains(word, Qt::CaseSensitive);
}

bool isFiltered(const QString& sText, const QStringList& words) {
    for (const QString& word : words) {
        if (filterWordMatches(sText, word)) {
            return true;
        }
    }
    return false;
}

QString stampedLine(const ChatLine& line, const QString& stamp) {
    return line.sender + QStringLiteral(" (") + stamp + QLatin1Char(')') + line.messagePart;
}

QString speechTail(const ChatLine& line) {
    return line.sender + QLatin1Char(':') + line.messagePart;
}

QString spokenText(const ChatLine& line, bool stampedLogging) {
    QString tail = speechTail(line);
    if (stampedLogging) {
        tail.replace(QLatin1Char('>'), QLatin1Char(' '));
        tail.replace(QLatin1Char('-'), QStringLiteral(" : "));
    }
    return QStringLiteral("Message from  ") + tail;
}

QString logDisplayText(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / MaxUnbrokenRun + 1);
    int run = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == Cr || c == Lf || c == QChar::ParagraphSeparator) {
            if (c == Cr && i + 1 < text.size() && text.at(i + 1) == Lf) {
                ++i;
            }
            out += Lf;
            run = 0;
            continue;
        }
        if (c == QLatin1Char(' ') || c == Tab) {
            // Only these are sure places to wrap; a no-break space is not one.
            out += c;
            run = 0;
            continue;
        }
        if (c.unicode() < 0x20) {
            out += QChar(static_cast<char16_t>(ControlPictures + c.unicode()));
        } else if (c.unicode() == 0x7F) {
            out += QChar(DeletePicture);
        } else if (c == BeginningOfFrame || c == EndOfFrame) {
            out += QChar::ReplacementCharacter;
        } else {
            out += c;
        }
        // Never between the two halves of a surrogate pair.
        if (++run >= MaxUnbrokenRun && !c.isHighSurrogate()) {
            out += ZeroWidthSpace;
            run = 0;
        }
    }
    return out;
}

QString outgoingText(const QString& typed, bool stampOn, const QString& stamp) {
    if (typed.startsWith(QLatin1Char('.')) || !stampOn) {
        return typed;
    }
    return QLatin1Char('(') + stamp + QStringLiteral(") >") + typed;
}

QString sentLogLine(const QString& ownCallsign, const QString& sentText) {
    return ownCallsign + QStringLiteral("> ") + sentText + Lf;
}

QString credits() {
    const QString name = QLatin1String(buildconfig::ProductName);
    return QStringLiteral("%1 %2\n").arg(name).arg(CreditsYear) +
           QStringLiteral("Written by the %1 project team\n").arg(name) +
           QStringLiteral("Project home: https://parlevox.org\n") + QStringLiteral("Write to: team@parlevox.org\n") +
           QStringLiteral("\n") +
           QStringLiteral("%1 is free to use. F2 says the status, F3 stops its speech.\n").arg(name);
}

} // namespace chat
