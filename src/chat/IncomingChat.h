// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <array>

class Clock;
class EchoLinkClient;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class Voice;

// Chat text from the connected stations: answers a version query, drops texts containing a filter
// word, logs the rest (time-stamped when "Time Stamp Incoming" is ticked or greyed), speaks them when
// "Announce Text" is ticked and keeps the newest line in view. A logged text puts the focus in the entry box
// only when it was there or in the incoming log already, or nowhere in this window.
// Each step goes on when an earlier one fails: a refused reply or a voice without engine loses nothing.
class IncomingChat : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QPlainTextEdit* IncomingText = nullptr;
        std::array<QLineEdit*, 8> FilterText{};
        QCheckBox* Check2 = nullptr; // "Time Stamp Incoming"
        QCheckBox* Check3 = nullptr; // "Announce Text"
        QLineEdit* TextTX = nullptr;
    };

    IncomingChat(const Widgets& widgets, EchoLinkClient& echoLink, Voice& voice, const Clock& clock,
                 QObject* parent = nullptr);

public Q_SLOTS:
    // Bound to EchoLinkClient::ChatTextReceived; the old program's handler name, kept on purpose.
    void EchoLink_ChatTextReceived(const QString& sText);

private:
    void handle(const QString& sText);
    void logAndAnnounce(const QString& sText);
    bool focusMayGoToEntry() const;
    QStringList filterWords() const;

    Widgets w_;
    EchoLinkClient& echoLink_;
    Voice& voice_;
    const Clock& clock_;
    // A text that arrives while another is being handled (a call to the station may let events in)
    // waits here, so texts are always logged in the order they came.
    QQueue<QString> pending_;
    bool handling_ = false;
};
