// SPDX-License-Identifier: GPL-3.0-or-later
#include "stations/ConnectionAnnouncements.h"

#include "platform/Clock.h"
#include "platform/InternetOptions.h"
#include "platform/QrzAddress.h"
#include "platform/Voice.h"
#include "stations/StationsLogging.h"
#include "ui/Controls.h"

#include <QCheckBox>
#include <QDebug>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

using stations::ConnectionChange;
using stations::StationKind;

ConnectionAnnouncements::ConnectionAnnouncements(const Widgets& widgets, InternetOptions& internet, Voice& voice,
                                                 const Clock& clock, QString qrzRoot, QObject* parent)
    : QObject(parent), widgets_(widgets), internet_(internet), voice_(voice), clock_(clock),
      qrzRoot_(std::move(qrzRoot)) {
    connect(widgets_.clearHistory, &QPushButton::clicked, this, &ConnectionAnnouncements::Command1_Click);
}

void ConnectionAnnouncements::SplitCall() {
    TempCall = stations::splitCall(TempCall);
}

void ConnectionAnnouncements::Echolink_connected(const QString& sCallConnected, const QString& sName,
                                                 const QString& sAddr) {
    Q_UNUSED(sAddr)
    const QString node = stations::plainDisplayText(sCallConnected + QLatin1Char(' ') + sName);
    internet_.setLastConnectedNode(node);
    controls::setLabelValue(widgets_.lastConnectedNode, node);
    // The newest line is kept in view: the history is read to see who just came in.
    controls::appendToLog(widgets_.callHistory,
                          stations::historyLine(clock_.now().time(), sCallConnected) + QLatin1Char('\n'));
    announce(sCallConnected, ConnectionChange::Connected);
}

void ConnectionAnnouncements::Echolink_Disconnected(const QString& sCall) {
    announce(sCall, ConnectionChange::Disconnected);
}

void ConnectionAnnouncements::Command1_Click() {
    controls::clearLog(widgets_.callHistory);
}

void ConnectionAnnouncements::announce(const QString& callsign, ConnectionChange change) {
    if (controls::checkValue(widgets_.announce) != 1) {
        return;
    }
    const StationKind kind = stations::stationKind(callsign);
    if (kind == StationKind::NotAnnounced) {
        return;
    }
    if (const auto fixed = stations::fixedConferenceAnnouncement(callsign, change)) {
        speak(*fixed);
        return;
    }
    TempCall = stations::announcedCallsign(callsign, kind);
    // Looked up before spacing, so the address carries the callsign as written.
    if (change == ConnectionChange::Connected && stations::isLookedUp(kind) && internet_.showQrzInfo()) {
        internet_.navigate(qrzLookupAddress(qrzRoot_, TempCall));
    }
    SplitCall();
    speak(stations::announcementText(kind, TempCall, change));
}

void ConnectionAnnouncements::speak(const QString& text) {
    if (voice_.speak(text)) {
        voiceRefusing_ = false;
        return;
    }
    if (!voiceRefusing_) {
        qCWarning(lcStations) << "Could not hand the announcement to the voice:" << text
                              << "(further refusals are not reported until the voice takes one again)";
        voiceRefusing_ = true;
    }
}
