// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

// The two UDP ports of an EchoLink station. Peers are told apart by address only: datagrams go to the
// peer's fixed ports, whatever port they came from. The real one is UdpTransport; tests use a fake.
class Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Transport() override = default;

    virtual void sendControl(const QHostAddress& to, const QByteArray& datagram) = 0; // to port 5199
    virtual void sendData(const QHostAddress& to, const QByteArray& datagram) = 0;    // to port 5198

Q_SIGNALS:
    void controlReceived(const QHostAddress& from, const QByteArray& datagram);
    void dataReceived(const QHostAddress& from, const QByteArray& datagram);
};
