// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SimBusIntrospection.h"
#include "Station.h"

#include <QDBusContext>
#include <QObject>

// The station's object on the bus: each public slot is a method of org.parlevox.EchoLink, each signal an
// event. Logs every request as "> Method args", answers from the Station, and turns a refusal into an
// error reply (logged as "! message").
class StationBusObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.parlevox.EchoLink")
    // The interface from src/platform/org.parlevox.EchoLink.xml, so that introspection also shows the argument
    // names of the signals.
    Q_CLASSINFO("D-Bus Introspection", PARLEVOX_SIM_BUS_INTROSPECTION)
public:
    // printQueries false leaves the read-only requests (IsTransmitting, ConnectedCount, IsConnected,
    // OwnCallsign, IsReceiving) out of the log; a client polling every second otherwise floods it.
    StationBusObject(Station& station, LineSink log, bool printQueries, QObject* parent = nullptr);

public Q_SLOTS:
    void Connect(const QString& callsign, int flag);
    void Disconnect(const QString& callsign);
    void DisconnectAll();
    void SetTransmit(bool on);
    bool IsTransmitting();
    int ConnectedCount();
    bool IsConnected(const QString& callsign);
    QString OwnCallsign();
    void SendChatText(const QString& text);
    bool IsReceiving();

Q_SIGNALS:
    void Closing();
    void ChatTextReceived(const QString& sText);
    void Connected(const QString& sCallConnected, const QString& sName, const QString& sAddr);
    void Disconnected(const QString& sCall);
    void ReceivingChanged(bool receiving, const QString& callsign);

private:
    void request(const QString& line, bool query);
    void answer(const StationReply& reply);

    Station& station_;
    LineSink log_;
    bool printQueries_;
};
