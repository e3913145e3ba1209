// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Station.h"

#include <QDBusContext>
#include <QObject>

// The station's object on the bus: each public slot is a method of org.parlevox.EchoLink, each signal an
// event. Logs every request as "> Method args", answers from the Station, and turns a refusal into an
// error reply (logged as "! message").
class StationBusObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.parlevox.EchoLink")
    // The interface as in src/platform/org.parlevox.EchoLink.xml (a test compares the two), so that
    // introspection also shows the argument names of the signals.
    Q_CLASSINFO("D-Bus Introspection", ""
                                       "<interface name=\"org.parlevox.EchoLink\">\n"
                                       "  <method name=\"Connect\">\n"
                                       "    <arg name=\"callsign\" type=\"s\" direction=\"in\"/>\n"
                                       "    <arg name=\"flag\" type=\"i\" direction=\"in\"/>\n"
                                       "  </method>\n"
                                       "  <method name=\"Disconnect\">\n"
                                       "    <arg name=\"callsign\" type=\"s\" direction=\"in\"/>\n"
                                       "  </method>\n"
                                       "  <method name=\"DisconnectAll\"/>\n"
                                       "  <method name=\"SetTransmit\">\n"
                                       "    <arg name=\"on\" type=\"b\" direction=\"in\"/>\n"
                                       "  </method>\n"
                                       "  <method name=\"IsTransmitting\">\n"
                                       "    <arg type=\"b\" direction=\"out\"/>\n"
                                       "  </method>\n"
                                       "  <method name=\"ConnectedCount\">\n"
                                       "    <arg type=\"i\" direction=\"out\"/>\n"
                                       "  </method>\n"
                                       "  <method name=\"IsConnected\">\n"
                                       "    <arg name=\"callsign\" type=\"s\" direction=\"in\"/>\n"
                                       "    <arg type=\"b\" direction=\"out\"/>\n"
                                       "  </method>\n"
                                       "  <method name=\"OwnCallsign\">\n"
                                       "    <arg type=\"s\" direction=\"out\"/>\n"
                                       "  </method>\n"
                                       "  <method name=\"SendChatText\">\n"
                                       "    <arg name=\"text\" type=\"s\" direction=\"in\"/>\n"
                                       "  </method>\n"
                                       "  <method name=\"IsReceiving\">\n"
                                       "    <arg type=\"b\" direction=\"out\"/>\n"
                                       "  </method>\n"
                                       "  <signal name=\"Closing\"/>\n"
                                       "  <signal name=\"ChatTextReceived\">\n"
                                       "    <arg name=\"sText\" type=\"s\"/>\n"
                                       "  </signal>\n"
                                       "  <signal name=\"Connected\">\n"
                                       "    <arg name=\"sCallConnected\" type=\"s\"/>\n"
                                       "    <arg name=\"sName\" type=\"s\"/>\n"
                                       "    <arg name=\"sAddr\" type=\"s\"/>\n"
                                       "  </signal>\n"
                                       "  <signal name=\"Disconnected\">\n"
                                       "    <arg name=\"sCall\" type=\"s\"/>\n"
                                       "  </signal>\n"
                                       "  <signal name=\"ReceivingChanged\">\n"
                                       "    <arg name=\"receiving\" type=\"b\"/>\n"
                                       "    <arg name=\"callsign\" type=\"s\"/>\n"
                                       "  </signal>\n"
                                       "</interface>\n"
                                       "")
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
