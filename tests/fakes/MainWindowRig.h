// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "MainLayout.h"

#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <memory>

// The main window with one chat handler on it, fakes behind it and the clock at 09:05.
template <typename Chat> struct ChatWindow {
    QWidget window;
    FakeEchoLinkClient echoLink;
    FakeVoice voice;
    FakeClock clock;
    typename Chat::Widgets w;
    std::unique_ptr<Chat> chat;

    ChatWindow() {
        buildMainLayout(&window);
        clock.set(9, 5);
        w = Chat::Widgets::find(&window);
        chat = std::make_unique<Chat>(w, echoLink, voice, clock);
    }
    bool show() {
        window.show();
        return QTest::qWaitForWindowActive(&window);
    }
};

// Whether the last line with text in the log is wholly inside the visible part of the log.
inline bool newestLineInView(QPlainTextEdit* log) {
    QTextBlock block = log->document()->lastBlock();
    while (block.isValid() && block.text().isEmpty()) {
        block = block.previous();
    }
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock);
    const QRect caret = log->cursorRect(cursor);
    return caret.top() >= 0 && caret.bottom() <= log->viewport()->height();
}
