// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class Clock;
class EchoLinkClient;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class Voice;

// Typed chat: sends the entry box's line with Send or Enter (time-stamped when "Send Text With Time
// Stamp" is ticked, never when it starts with "."), logs it under the local callsign, and owns the two
// Clear buttons and the About credits. The object connects the buttons and the entry box it is given
// to its handlers itself.
//
// A line the station program refuses stays in the entry box and nothing is logged; the user hears
// "Message not sent" and the entry box shows why in its tool tip.
class OutgoingChat : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QLineEdit* TextTX = nullptr;
        QPushButton* Send = nullptr;
        QPlainTextEdit* ReceivedText = nullptr; // the sent log
        QPushButton* Clear = nullptr;
        QPlainTextEdit* IncomingText = nullptr;
        QPushButton* ClearRX = nullptr;
        QCheckBox* Check1 = nullptr; // "Send Text With Time Stamp"
        QPushButton* About = nullptr;
    };

    // Spoken when the station program does not take a line.
    static QString sendFailedSpeech() { return QStringLiteral("Message not sent"); }

    OutgoingChat(const Widgets& widgets, EchoLinkClient& echoLink, Voice& voice, const Clock& clock,
                 QObject* parent = nullptr);

public Q_SLOTS:
    void Send_Click();
    // A character key in the entry box; KeyAscii 13 is Enter. The key still reaches the box.
    void TextTX_KeyPress(int KeyAscii);
    void Clear_Click();
    void ClearRX_Click();
    void About_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The old program's names, kept on purpose (docs/glossary.md).
    void TXText();                         // sends the typed line ("Send" or Enter)
    void TXText2(const QString& sentText); // logs a line that went out, after the own callsign
    void TXText3();                        // shows the credits in the sent-text log ("About")
    void reportSendFailure(const QString& reason);
    void keepSentLogInView();

    Widgets w_;
    EchoLinkClient& echoLink_;
    Voice& voice_;
    const Clock& clock_;
};
