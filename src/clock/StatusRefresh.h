// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/AnnouncementSchedule.h"
#include "clock/OutageLog.h"

#include <QLocale>
#include <QObject>

class Clock;
class EchoLinkClient;
class QAbstractButton;
class QCheckBox;
class QLabel;
class TransmitState;
class Voice;

// The once-a-second refresh of the clock, the station count and the transmit/receive state, the
// scheduled time announcements, and the "Say the Time" button.
class StatusRefresh : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QLabel* ShowTime = nullptr;
        QLabel* NumStations = nullptr;
        QCheckBox* OnHour = nullptr;
        QCheckBox* QuarterHour = nullptr;
        QCheckBox* HalfHour = nullptr;
        QAbstractButton* TheTime = nullptr;
    };

    // locale gives the clock display its format (QLocale::system() in the program). The "Say the Time"
    // button is connected here.
    StatusRefresh(const Widgets& widgets, EchoLinkClient& echoLink, Voice& voice, const Clock& clock,
                  TransmitState& transmit, const QLocale& locale, QObject* parent = nullptr);

public Q_SLOTS:
    void Timer1_Timer();
    void TheTime_Click();

private:
    void refreshFromStation();
    void speak(const QString& text);

    Widgets w_;
    EchoLinkClient& echoLink_;
    Voice& voice_;
    const Clock& clock_;
    TransmitState& transmit_;
    QLocale locale_;
    QString clockFormat_;
    AnnouncementSchedule schedule_;
    OutageLog outage_{QStringLiteral("Status refresh")};
};
