// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "MainLayout.h"
#include "StatusRefresh.h"
#include "TransmitState.h"
#include "TransmitToggle.h"
#include "Voice.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

// The real main-window layout with the clock feature wired to fakes, as the main window wires it.
struct ClockFixture {
    explicit ClockFixture(const QTime& start = QTime(9, 5), const QLocale& locale = QLocale(QLocale::C)) {
        buildMainLayout(&window);
        clock.time.setTime(start);
        transmit = new TransmitState(TransmitState::findLabel(&window), &window);
        refresh = new StatusRefresh(StatusRefresh::Widgets::find(&window), echoLink, speaker, clock, *transmit, locale,
                                    &window);
        toggle = new TransmitToggle(TransmitToggle::Widgets::find(&window), echoLink, *transmit, &window);
    }

    template <typename T = QLabel> T* control(const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }
    QLabel* label1() { return control("Label1"); }
    QColor label1Colour() { return label1()->palette().color(QPalette::Window); }
    // Moves the clock to the given time and lets Timer1 tick once.
    void tickAt(const QTime& time) {
        clock.time.setTime(time);
        refresh->Timer1_Timer();
    }

    QWidget window;
    FakeEchoLinkClient echoLink;
    FakeVoice voice;
    Speaker speaker{voice};
    FakeClock clock;
    TransmitState* transmit = nullptr;
    StatusRefresh* refresh = nullptr;
    TransmitToggle* toggle = nullptr;
};

inline const QColor Red(255, 0, 0);
inline const QColor Green(0, 255, 0);
inline const QString TransmittingText = QStringLiteral("Transmitting Transmitting");
inline const QString ReceivingText = QStringLiteral("  Receiving       Mode");
