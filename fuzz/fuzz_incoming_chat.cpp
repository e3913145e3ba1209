// SPDX-License-Identifier: GPL-3.0-or-later
// A stranger's chat text from arrival to the log line and the spoken text, through the real handler.
// Input: one flags byte (value % 3: "Time Stamp Incoming", value / 3 % 3: "Announce Text"), the chat
// text, then up to eight NUL-separated filter words.
#include "chat/ChatRules.h"
#include "ui/Controls.h"
#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "FuzzCheck.h"
#include "chat/IncomingChat.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <memory>

namespace {

// The handler and its window live for the whole run; Qt allows one application per process.
struct Harness {
    QWidget window;
    IncomingChat::Widgets w;
    FakeEchoLinkClient echoLink;
    FakeVoice voice;
    FakeClock clock;
    std::unique_ptr<IncomingChat> chat;

    Harness() {
        w.IncomingText = new QPlainTextEdit(&window);
        for (QLineEdit*& box : w.FilterText) {
            box = new QLineEdit(&window);
        }
        w.Check2 = new QCheckBox(&window);
        w.Check3 = new QCheckBox(&window);
        w.TextTX = new QLineEdit(&window);
        chat = std::make_unique<IncomingChat>(w, echoLink, voice, clock);
        QObject::connect(&echoLink, &EchoLinkClient::ChatTextReceived, chat.get(),
                         &IncomingChat::EchoLink_ChatTextReceived);
    }
};

Harness* harness = nullptr;
constexpr qsizetype MaxLogSize = 64 * 1024;

bool isLineBreak(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

// Line breaks as the reader sees them: CR LF counts once.
qsizetype lineBreaks(const QString& text) {
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        n += isLineBreak(text[i]) && !(text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n');
    }
    return n;
}

// Text that the log shows exactly as received (nothing to replace, break or mark).
bool isOrdinary(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || isLineBreak(c) || c == QChar::Nbsp || c == u'\u200B' ||
            c == u'\uFDD0' || c == u'\uFDD1') {
            return false;
        }
    }
    return true;
}

// No line of the log is a run the layout cannot wrap; a surrogate pair may push a run one past the limit.
bool wrappable(const QString& log) {
    qsizetype run = 0;
    for (const QChar c : log) {
        const bool breakable = c == u' ' || c == u'\t' || c == u'\n' || c == u'\u200B';
        run = breakable ? 0 : run + 1;
        if (run > chat::MaxUnbrokenRun + 1) {
            return false;
        }
    }
    return true;
}

void checkPureRules(const QString& text) {
    const chat::ChatLine line = chat::splitChatLine(text);
    FUZZ_CHECK(line.sender + line.messagePart == text);
    FUZZ_CHECK(!line.sender.contains(u'>'));
    FUZZ_CHECK(text.contains(u'>') ? line.messagePart.startsWith(u'>') : line.sender.isEmpty());

    const QString shown = chat::logDisplayText(text);
    for (const QChar c : shown) {
        FUZZ_CHECK(c.unicode() >= 0x20 || c == u'\n' || c == u'\t');
        FUZZ_CHECK(c != u'\uFDD0' && c != u'\uFDD1' && c.unicode() != 0x7F);
    }
    FUZZ_CHECK(wrappable(shown));
    if (isOrdinary(text)) {
        FUZZ_CHECK(QString(shown).remove(u'\u200B') == text);
    }

    const QString out = chat::outgoingText(text, true, QStringLiteral("09:05"));
    FUZZ_CHECK(out.endsWith(text) && (text.startsWith(u'.') ? out == text : out.startsWith(u'(')));
    FUZZ_CHECK(chat::sentLogLine(QStringLiteral("N0CALL"), text).endsWith(u'\n'));
}

} // namespace

// fontconfig keeps some of what it allocates while looking up a font for new characters for good.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_incoming_chat";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    harness = new Harness;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    Harness& h = *harness;
    const int stampCheck = data[0] % 3;
    const int announceCheck = data[0] / 3 % 3;
    const QList<QByteArray> parts =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size) - 1).split('\0');
    const QString text = QString::fromUtf8(parts.first());
    QStringList words;
    for (std::size_t i = 0; i < h.w.FilterText.size(); ++i) {
        const qsizetype at = static_cast<qsizetype>(i) + 1;
        words << (at < parts.size() ? QString::fromUtf8(parts[at]) : QString());
        h.w.FilterText.at(i)->setText(words.last());
    }
    // The handler reads the words from the boxes, which may not keep all of what they were given.
    words.clear();
    for (const QLineEdit* box : h.w.FilterText) {
        words << box->text();
    }
    controls::setCheckValue(h.w.Check2, stampCheck);
    controls::setCheckValue(h.w.Check3, announceCheck);
    checkPureRules(text);

    if (h.w.IncomingText->document()->characterCount() > MaxLogSize) {
        h.w.IncomingText->clear();
    }
    h.voice.spoken.clear();
    h.echoLink.sentChat.clear();
    h.echoLink.calls.clear();
    const QString logBefore = h.w.IncomingText->toPlainText();

    h.echoLink.ChatTextReceived(text);
    controls::flushLog(h.w.IncomingText); // the event loop comes round

    bool filtered = false;
    for (const QString& word : words) {
        filtered = filtered || (!word.isEmpty() && text.contains(word));
    }
    const bool versionQuery = text.contains(QStringLiteral("/ver/"));
    FUZZ_CHECK(h.echoLink.sentChat == (versionQuery ? QStringList{chat::versionReply()} : QStringList{}));

    const QString log = h.w.IncomingText->toPlainText();
    FUZZ_CHECK(log.startsWith(logBefore)); // the log only grows at its end
    const QString added = log.mid(logBefore.size());
    if (filtered) {
        FUZZ_CHECK(added.isEmpty() && h.voice.spoken.isEmpty());
        return 0;
    }
    const bool stamped = stampCheck != 0;
    FUZZ_CHECK(added.endsWith(u'\n') && added.count(u'\n') == lineBreaks(text) + 1);
    FUZZ_CHECK(wrappable(added));
    const chat::ChatLine line = chat::splitChatLine(text);
    const QString logged = stamped ? line.sender + QStringLiteral(" (09:05)") + line.messagePart : text;
    if (isOrdinary(text)) {
        FUZZ_CHECK(QString(added).remove(u'\u200B') == logged + u'\n');
    }

    if (announceCheck == 1) {
        FUZZ_CHECK(h.voice.spoken.size() == 1);
        const QString prefix = QStringLiteral("Message from  ");
        FUZZ_CHECK(h.voice.spoken.first().startsWith(prefix));
        FUZZ_CHECK(h.voice.spoken.first().size() >= prefix.size() + text.size());
    } else {
        FUZZ_CHECK(h.voice.spoken.isEmpty());
    }
    return 0;
}
