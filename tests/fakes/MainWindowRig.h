// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// For tests that link the app library: the main window's controls, fakes behind them, the clock at 09:05.
#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "app/MainLayout.h"
#include "platform/InternetOptions.h"
#include "ui/Controls.h"

#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>

// Records what the program does to the internet options window.
class FakeInternetOptions : public InternetOptions {
public:
    QString lastConnectedNode = QStringLiteral("None");
    bool qrzInfo = true, saveSucceeds = true;
    QStringList addresses;
    int saves = 0;
    QString saveFailure = QStringLiteral("Cannot write the settings file /cfg/parlevoxinet.ini: Disk full");

    void setLastConnectedNode(const QString& text) override { lastConnectedNode = text; }
    bool showQrzInfo() override { return qrzInfo; }
    void navigate(const QString& address) override { addresses << address; }
    void showWindow() override {}
    bool SaveData2() override { return ++saves, saveSucceeds; }
    QString saveError() const override { return saveFailure; }
};

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
