// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <array>

class EchoLinkClient;
class QCheckBox;
class QLineEdit;
class QPushButton;
class Voice;

// One favourite: its callsign box, its "Con/Disc" button and its "Stay Con" box.
struct FavouriteSlot {
    QLineEdit* callsign = nullptr;
    QPushButton* toggle = nullptr;
    QCheckBox* stayConnected = nullptr;
};

// The five favourite slots: a click connects or disconnects the slot's station, and the sweep run
// every 30 seconds connects each ticked slot whose station is not connected.
class FavouriteStations : public QObject {
    Q_OBJECT
public:
    static constexpr int SlotCount = 5;

    struct Widgets {
        // Text4..Text8, Command4..Command8 and Check4..Check8 (kept names, slots 1..5); each slot's button is
        // connected to toggle(slot) here, without a handler of its own.
        std::array<FavouriteSlot, SlotCount> rows;
    };

    // What a slot says when its connect is refused; slot is 0..4.
    static QString failureText(int slot);

    FavouriteStations(const Widgets& widgets, EchoLinkClient& echoLink, Voice& voice, QObject* parent = nullptr);

    // The stay-connected sweep. Every slot is visited; a failure only ends the work on its own slot.
    void Timer4_Timer();

private:
    void toggle(int slot);

    Widgets widgets_;
    EchoLinkClient& echoLink_;
    Voice& voice_;
};
