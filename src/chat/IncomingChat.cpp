// SPDX-License-Identifier: GPL-3.0-or-later
#include "chat/IncomingChat.h"

#include "chat/ChatRules.h"
#include "platform/Clock.h"
#include "platform/EchoLinkClient.h"
#include "platform/TimePatterns.h"
#include "platform/Voice.h"
#include "ui/Controls.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScopeGuard>

IncomingChat::IncomingChat(const Widgets& widgets, EchoLinkClient& echoLink, Voice& voice, const Clock& clock,
                           QObject* parent)
    : QObject(parent), w_(widgets), echoLink_(echoLink), voice_(voice), clock_(clock) {
    Q_ASSERT(w_.IncomingText && w_.Check2 && w_.Check3 && w_.TextTX);
    for ([[maybe_unused]] QLineEdit* box : w_.FilterText) {
        Q_ASSERT(box);
    }
    // The log only ever grows at its end; an undo history would keep a second copy of everything.
    w_.IncomingText->setUndoRedoEnabled(false);
}

void IncomingChat::EchoLink_ChatTextReceived(const QString& sText) {
    pending_.enqueue(sText);
    if (handling_) {
        return;
    }
    handling_ = true;
    const auto done = qScopeGuard([this] { handling_ = false; });
    while (!pending_.isEmpty()) {
        handle(pending_.dequeue());
    }
}

void IncomingChat::handle(const QString& sText) {
    if (chat::isVersionQuery(sText)) {
        // A refused reply is not worth a word to the user, nor worth a wait for the station's answer; the
        // text itself is still handled.
        echoLink_.SendChatTextNoWait(chat::versionReply());
    }
    const bool filtered = chat::isFiltered(sText, filterWords());
    if (!filtered) {
        logAndAnnounce(sText);
    }
    controls::followLogEnd(w_.IncomingText);
    if (!filtered && focusMayGoToEntry()) {
        w_.TextTX->setFocus(Qt::OtherFocusReason);
    }
}

bool IncomingChat::focusMayGoToEntry() const {
    // Taking the focus from any other control would cut a screen reader short, and letters meant for a
    // callsign box would land in the message box, where Enter sends them to every station.
    const QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr || focus->window() != w_.TextTX->window()) {
        return true; // nobody is at work in this window
    }
    return focus == w_.TextTX || focus == w_.IncomingText;
}

void IncomingChat::logAndAnnounce(const QString& sText) {
    const chat::ChatLine line = chat::splitChatLine(sText);
    const bool stamped = controls::checkValue(w_.Check2) != 0;

    const QString logged = stamped ? chat::stampedLine(line, timepatterns::stamp24(clock_.now().time())) : sText;
    // handle() keeps the end in view for every text, logged or not, unless the user is reading older lines.
    controls::appendToLog(w_.IncomingText, chat::logDisplayText(logged) + QLatin1Char('\n'), false);

    if (controls::checkValue(w_.Check3) == 1) {
        // A voice without engine loses only the speech; the text is in the log.
        voice_.speak(chat::spokenText(line, stamped));
    }
}

QStringList IncomingChat::filterWords() const {
    QStringList words;
    for (const QLineEdit* box : w_.FilterText) {
        words << box->text();
    }
    return words;
}
