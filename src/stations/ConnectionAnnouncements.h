// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "stations/StationRules.h"

#include <QObject>
#include <QString>

class Clock;
class InternetOptions;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class Voice;

// Connects and disconnects as the station program reports them: the last connected node in both
// windows, the call connect history, and, when "Stations When Con/Disc" is ticked, the spoken
// announcement and the look-up page of a newly connected station.
class ConnectionAnnouncements : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QLabel* lastConnectedNode = nullptr; // Label2
        QPlainTextEdit* callHistory = nullptr;
        QCheckBox* announce = nullptr;       // ConDisc
        QPushButton* clearHistory = nullptr; // Command1
    };

    // qrzRoot: the look-up site's root address, ending in "/".
    ConnectionAnnouncements(const Widgets& widgets, InternetOptions& internet, Voice& voice, const Clock& clock,
                            QString qrzRoot, QObject* parent = nullptr);

    // The callsign as last prepared for the look-up and for speech; kept between events.
    QString TempCall;
    void SplitCall();

    // Spelt "Echolink_" as the old program spelt these two handlers (the others are "EchoLink_"); kept on
    // purpose, so either code base finds the other.
    void Echolink_connected(const QString& sCallConnected, const QString& sName, const QString& sAddr);
    void Echolink_Disconnected(const QString& sCall);
    void Command1_Click();

private:
    void announce(const QString& callsign, stations::ConnectionChange change);
    void speak(const QString& text);

    Widgets widgets_;
    InternetOptions& internet_;
    Voice& voice_;
    const Clock& clock_;
    QString qrzRoot_;
    // A full or failed voice refuses every announcement of a storm; one report per run of refusals is enough.
    bool voiceRefusing_ = false;
};
