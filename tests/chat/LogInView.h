// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPlainTextEdit>
#include <QTextBlock>

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
