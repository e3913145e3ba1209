// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/MainLayout.h"
#include "platform/Voice.h"
#include "ui/WindowPlacement.h"

#include <QTimer>
#include <QWidget>

class Clock;
class EchoLinkClient;
class InternetOptions;
class SettingsStore;
class SpeechHold;

// The main window: builds its controls, creates the features that own their handlers, and handles
// start-up, saving and the ways the program ends.
class TextMessageTTS : public QWidget {
    Q_OBJECT
public:
    struct Services {
        EchoLinkClient& echoLink;
        Voice& voice;
        Clock& clock;
        SettingsStore& settings;
        InternetOptions& internet;
    };

    explicit TextMessageTTS(Services services, QWidget* parent = nullptr);
    ~TextMessageTTS() override;

    // Caption, settings, the internet window's start-up hook, timers. False when the station cannot
    // give the local callsign: start-up cannot go on (the message is in *error).
    bool Form_Load(QString* error);

    // Writes the main settings file; false (with a message to the user) when it could not be written.
    bool SaveData();
    void SaveIt_Click();
    void Exit_Click();
    // The EchoLink_ handlers keep the old program's names on purpose, so either code base finds the other.
    void EchoLink_Closing();
    // The station program vanished or hung (false), or a station program answers again (true).
    void EchoLink_AvailabilityChanged(bool available);

    QTimer& timer1() { return Timer1; }
    QTimer& timer4() { return Timer4; }

Q_SIGNALS:
    // The program is to end now with this exit status; main() quits the event loop.
    void endRequested(int status);

protected:
    // Closing the window in any way ends the program without saving.
    void closeEvent(QCloseEvent* event) override;

private:
    void endProgram();
    bool saveBoth(QString* failure);
    void reportSaveFailure(const QString& failure);

    EchoLinkClient& echoLink_;
    Voice& voice_;
    Clock& clock_;
    SettingsStore& settings_;
    InternetOptions& internet_;
    // The old program's timer names, kept on purpose (docs/glossary.md).
    QTimer Timer1; // every 1 s: refreshes clock, station count and transmit state, speaks the time on schedule
    QTimer Timer4; // every 30 s: the stay-connected sweep that reconnects ticked favourites
    QString ownCallsign_;
    placement::StoredPosition position_; // as read at start-up, for the saves
    bool ending_ = false;
    SpeechHold* hold_ = nullptr;
    SettingsControls settingsControls_;
    QLabel* numStations_ = nullptr;

    // features
};
