// SPDX-License-Identifier: GPL-3.0-or-later
#include "chat/OutgoingChat.h"

#include "chat/ChatRules.h"
#include "platform/Clock.h"
#include "platform/EchoLinkClient.h"
#include "platform/TimePatterns.h"
#include "platform/Voice.h"
#include "ui/Controls.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolTip>
#include <limits>

OutgoingChat::OutgoingChat(const Widgets& widgets, EchoLinkClient& echoLink, Voice& voice, const Clock& clock,
                           QObject* parent)
    : QObject(parent), w_(widgets), echoLink_(echoLink), voice_(voice), clock_(clock) {
    Q_ASSERT(w_.TextTX && w_.Send && w_.ReceivedText && w_.Clear && w_.IncomingText && w_.ClearRX && w_.Check1 &&
             w_.About);
    // A typed line has no length limit (the box's own default would cut it at 32767 characters).
    w_.TextTX->setMaxLength(std::numeric_limits<int>::max());
    // Ctrl+Z in the sent log must not take back logged lines, and the history would double its size.
    w_.ReceivedText->setUndoRedoEnabled(false);

    connect(w_.Send, &QPushButton::clicked, this, &OutgoingChat::Send_Click);
    connect(w_.Clear, &QPushButton::clicked, this, &OutgoingChat::Clear_Click);
    connect(w_.ClearRX, &QPushButton::clicked, this, &OutgoingChat::ClearRX_Click);
    connect(w_.About, &QPushButton::clicked, this, &OutgoingChat::About_Click);
    w_.TextTX->installEventFilter(this);
}

bool OutgoingChat::eventFilter(QObject* watched, QEvent* event) {
    if (watched == w_.TextTX && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            TextTX_KeyPress(13);
        } else if (!key->text().isEmpty()) {
            TextTX_KeyPress(key->text().at(0).unicode());
        }
    }
    return false; // the key goes on to the box
}

void OutgoingChat::Send_Click() {
    TXText();
    w_.TextTX->setFocus(Qt::OtherFocusReason);
}

void OutgoingChat::TextTX_KeyPress(int KeyAscii) {
    if (KeyAscii == 13) {
        TXText();
    }
    keepSentLogInView();
    w_.TextTX->setFocus(Qt::OtherFocusReason);
}

void OutgoingChat::Clear_Click() {
    controls::clearLog(w_.ReceivedText);
    w_.TextTX->setFocus(Qt::OtherFocusReason);
}

void OutgoingChat::ClearRX_Click() {
    controls::clearLog(w_.IncomingText);
    w_.TextTX->setFocus(Qt::OtherFocusReason);
}

void OutgoingChat::About_Click() {
    TXText3();
}

void OutgoingChat::TXText() {
    const QString typed = w_.TextTX->text();
    const bool stampOn = controls::checkValue(w_.Check1) == 1;
    const QString sent = chat::outgoingText(typed, stampOn, timepatterns::stamp24(clock_.now().time()));
    const CallStatus status = echoLink_.SendChatText(sent);
    if (!status) {
        reportSendFailure(status.error);
        return;
    }
    if (!w_.TextTX->toolTip().isEmpty()) {
        w_.TextTX->setToolTip(QString());
        w_.TextTX->setAccessibleDescription(QString());
    }
    TXText2(sent);
    w_.TextTX->clear();
    w_.TextTX->setFocus(Qt::OtherFocusReason);
    keepSentLogInView();
}

void OutgoingChat::TXText2(const QString& sentText) {
    // The line has gone out: it is logged even when the station cannot tell its own callsign, so the
    // user sees it was sent and does not send it twice.
    const CallResult<QString> own = echoLink_.OwnCallsign();
    const QString callsign = own ? own.value : QString();
    controls::appendToLog(w_.ReceivedText, chat::logDisplayText(chat::sentLogLine(callsign, sentText)));
}

void OutgoingChat::TXText3() {
    // The credits replace the log, lines not yet shown included.
    controls::clearLog(w_.ReceivedText);
    w_.ReceivedText->setPlainText(chat::credits());
}

void OutgoingChat::reportSendFailure(const QString& reason) {
    // Heard by an operator who listens rather than looks, and shown where the kept text is.
    voice_.speak(sendFailedSpeech());
    const QString detail = reason.isEmpty() ? QStringLiteral("the station program did not take it") : reason;
    const QString plain =
        QStringLiteral("Message not sent: %1. The text is kept; press Send to try again.").arg(detail);
    // Wrapped in a paragraph so the tool tip shows the reason literally, whatever characters it holds.
    const QString tip = QStringLiteral("<p>") + plain.toHtmlEscaped() + QStringLiteral("</p>");
    w_.TextTX->setToolTip(tip);
    w_.TextTX->setAccessibleDescription(plain);
    if (w_.TextTX->isVisible()) {
        QToolTip::showText(w_.TextTX->mapToGlobal(QPoint(0, w_.TextTX->height())), tip, w_.TextTX);
    }
}

void OutgoingChat::keepSentLogInView() {
    controls::keepLogEndInView(w_.ReceivedText);
}
