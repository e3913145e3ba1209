// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/StatusRefresh.h"

#include "clock/ClockLogging.h"
#include "clock/TimeTexts.h"
#include "platform/Clock.h"
#include "platform/EchoLinkClient.h"
#include "platform/Voice.h"
#include "ui/Controls.h"
#include "ui/TransmitState.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDebug>
#include <QLabel>

namespace {
bool ticked(const QCheckBox* box) {
    return controls::checkValue(box) == 1;
}
} // namespace

StatusRefresh::StatusRefresh(const Widgets& widgets, EchoLinkClient& echoLink, Voice& voice, const Clock& clock,
                             TransmitState& transmit, const QLocale& locale, QObject* parent)
    : QObject(parent), w_(widgets), echoLink_(echoLink), voice_(voice), clock_(clock), transmit_(transmit),
      locale_(locale), clockFormat_(timetexts::clockFormat(locale)), schedule_(clock.now()) {
    connect(w_.TheTime, &QAbstractButton::clicked, this, &StatusRefresh::TheTime_Click);
}

void StatusRefresh::Timer1_Timer() {
    // One reading for the whole tick, so the display and the announcement agree.
    const QDateTime now = clock_.now();
    controls::setLabelValue(w_.ShowTime, locale_.toString(now.time(), clockFormat_));
    refreshFromStation();
    const QString due = schedule_.tick(now, {ticked(w_.OnHour), ticked(w_.QuarterHour), ticked(w_.HalfHour)});
    if (!due.isEmpty()) {
        speak(due);
    }
}

void StatusRefresh::TheTime_Click() {
    speak(timetexts::sayTheTime(clock_.now().time()));
}

// While EchoLink does not answer, the displays keep what they last showed and the next tick tries
// again; the clock and the announcements go on regardless.
void StatusRefresh::refreshFromStation() {
    if (!echoLink_.isAvailable()) {
        outage_.failed(QStringLiteral("the station program is not running"));
        return;
    }
    const CallResult<int> count = echoLink_.ConnectedCount();
    if (!count) {
        outage_.failed(count.error);
        return;
    }
    controls::setLabelValue(w_.NumStations, QString::number(count.value));
    const CallResult<bool> transmitting = echoLink_.IsTransmitting();
    if (!transmitting) {
        outage_.failed(transmitting.error);
        return;
    }
    transmit_.set(transmitting.value);
    outage_.succeeded();
}

void StatusRefresh::speak(const QString& text) {
    if (!voice_.speak(text)) {
        qCWarning(lcClock).noquote() << QStringLiteral("Could not speak the time: the voice is not available");
    }
}
