// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// For tests that link the app library: the main window's controls, fakes behind them, the clock at 09:05.
#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeInternetOptions.h"
#include "FakeVoice.h"
#include "app/MainLayout.h"
#include "ui/Controls.h"

#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>

struct MainWindowRig {
    QWidget window;
    FakeEchoLinkClient echoLink;
    FakeVoice voice;
    FakeClock clock;
    FakeInternetOptions internet;
    MainControls ui;

    MainWindowRig() : ui(buildMainLayout(&window)) {}
    template <typename W = QWidget> W* control(const char* name) {
        return window.findChild<W*>(QString::fromLatin1(name));
    }
    bool show() {
        window.show();
        return QTest::qWaitForWindowActive(&window);
    }
};

// A log's text once the event loop has come round.
inline QString logText(QPlainTextEdit* log) {
    controls::flushLog(log);
    return log->toPlainText();
}

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
