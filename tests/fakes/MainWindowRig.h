// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// For tests that link the app library: the main window's controls with every feature's handler wired to fakes as
// the window wires them, the clock at 09:05.
#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "app/MainLayout.h"
#include "platform/InternetOptions.h"
#include "ui/Controls.h"
#include "ui/TransmitState.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
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

struct Fakes {
    FakeEchoLinkClient echoLink;
    FakeVoice voice;
    FakeClock clock;
    FakeInternetOptions internet;
};

struct MainWindowRig : Fakes {
    static inline const QString LookupRoot = QStringLiteral("https://lookup.example/db/");
    QWidget window;
    MainControls ui{buildMainLayout(&window)};
    const IncomingChat::Widgets& in = ui.chat.incoming;
    const OutgoingChat::Widgets& out = ui.chat.outgoing;
    const ConnectionAnnouncements::Widgets& aw = ui.stations.announcements;
    IncomingChat incoming{in, echoLink, voice, clock};
    OutgoingChat outgoing{out, echoLink, voice, clock};
    TransmitState transmit{ui.clock.transmitLabel};
    StatusRefresh refresh{ui.clock.refresh, echoLink, voice, clock, transmit, QLocale(QLocale::C)};
    TransmitToggle toggle{ui.clock.transmit, echoLink, transmit};
    CallsignConnection typed{ui.stations.callsign, echoLink, voice};
    FavouriteStations favourites{ui.stations.favourites, echoLink, voice};
    ConnectionAnnouncements announcer{aw, internet, voice, clock, LookupRoot};

    template <typename W = QWidget> W* control(const char* name) {
        return window.findChild<W*>(QString::fromLatin1(name));
    }
    bool show() {
        window.show();
        return QTest::qWaitForWindowActive(&window);
    }
    void tickAt(const QTime& time) {
        clock.time.setTime(time);
        refresh.Timer1_Timer();
    }
    // The transmit label's text and its colour, if it has one.
    QString look() {
        QLabel* label = control<QLabel>("Label1");
        return label->text() + u' ' +
               (label->autoFillBackground() ? label->palette().window().color().name() : QString());
    }
    // Slot 0 is the typed-callsign box, 1 to 5 the favourites.
    QLineEdit* box(int slot) { return slot == 0 ? ui.stations.callsign.callsign : slotRow(slot).callsign; }
    void click(int slot) { slot == 0 ? ui.stations.callsign.getCall->click() : slotRow(slot).toggle->click(); }
    const FavouriteSlot& slotRow(int slot) const { return ui.stations.favourites.rows.at(slot - 1); }
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
