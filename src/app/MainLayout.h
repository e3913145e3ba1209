// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "chat/IncomingChat.h"
#include "chat/OutgoingChat.h"
#include "clock/StatusRefresh.h"
#include "clock/TransmitToggle.h"
#include "stations/CallsignConnection.h"
#include "stations/ConnectedStations.h"
#include "stations/ConnectionAnnouncements.h"
#include "stations/FavouriteStations.h"
#include "stations/StatusKeys.h"

#include <QList>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The main window's controls, grouped by the feature that works them. A control may sit in several groups.
struct ChatControls {
    IncomingChat::Widgets incoming;
    OutgoingChat::Widgets outgoing;
};

struct StationControls {
    FavouriteStations::Widgets favourites;
    CallsignConnection::Widgets callsign;
    ConnectionAnnouncements::Widgets announcements;
    QList<ConnectedStations::Toggle> toggles; // the five favourites, then "Connect to Callsign"
    StatusKeys::Widgets statusKeys;
};

struct ClockControls {
    QLabel* transmitLabel = nullptr; // Label1
    StatusRefresh::Widgets refresh;
    TransmitToggle::Widgets transmit;
};

// What the settings file keeps; the names are those of the controls and of its keys.
struct SettingsControls {
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QCheckBox* Check3 = nullptr;
    QLineEdit* FilterText1 = nullptr;
    QLineEdit* FilterText2 = nullptr;
    QLineEdit* FilterText3 = nullptr;
    QLineEdit* FilterText4 = nullptr;
    QLineEdit* FilterText5 = nullptr;
    QLineEdit* FilterText6 = nullptr;
    QLineEdit* FilterText7 = nullptr;
    QLineEdit* FilterText8 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Text5 = nullptr;
    QLineEdit* Text6 = nullptr;
    QLineEdit* Text7 = nullptr;
    QLineEdit* Text8 = nullptr;
    QCheckBox* OnHour = nullptr;
    QCheckBox* QuarterHour = nullptr;
    QCheckBox* HalfHour = nullptr;
    QCheckBox* ConDisc = nullptr;
    QLineEdit* Callsign = nullptr;
};

// The window's own: saving, ending, the internet window, and the station count it marks unknown.
struct WindowControls {
    QPushButton* SaveIt = nullptr;
    QPushButton* Exit = nullptr;
    QPushButton* Command13 = nullptr; // "Show Internet Options"
    QLabel* NumStations = nullptr;
};

struct MainControls {
    ChatControls chat;
    StationControls stations;
    ClockControls clock;
    SettingsControls settings;
    WindowControls window;
};

// Builds every control of the main window at its fixed place, each with its object name, caption,
// font, colour, accessible name and tab order, and hands them out by feature.
MainControls buildMainLayout(QWidget* window);
