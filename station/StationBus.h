// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Node.h"
#include "StationBusIntrospection.h"

#include <QDBusContext>
#include <QObject>

// The station's object on the session bus (org.parlevox.EchoLink at /org/parlevox/EchoLink): each
// public slot is a method of the interface, each signal an event, all answered from the Node. A refusal
// is a D-Bus error reply. Connect's reply may be delayed while the station list is refreshed.
class StationBus : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.parlevox.EchoLink")
    // Generated from src/platform/org.parlevox.EchoLink.xml, so introspection names the signals' arguments.
    Q_CLASSINFO("D-Bus Introspection", PARLEVOX_STATION_BUS_INTROSPECTION)
public:
    explicit StationBus(Node& node, QObject* parent = nullptr);

    // Sends Closing.
    void close();

public Q_SLOTS:
    void Connect(const QString& callsign, int flag);
    void Disconnect(const QString& callsign);
    void DisconnectAll();
    void SetTransmit(bool on);
    bool IsTransmitting();
    bool IsReceiving();
    int ConnectedCount();
    bool IsConnected(const QString& callsign);
    QString OwnCallsign();
    void SendChatText(const QString& text);

Q_SIGNALS:
    void Closing();
    void ChatTextReceived(const QString& sText);
    void Connected(const QString& sCallConnected, const QString& sName, const QString& sAddr);
    void Disconnected(const QString& sCall);
    void ReceivingChanged(bool receiving, const QString& callsign);

private:
    void answer(const NodeReply& reply);
    Node& node_;
};
