// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Transport.h"

class QUdpSocket;

// UDP 5198 and 5199 on one local address. Datagrams longer than el::MaxDatagram are read and dropped.
class UdpTransport final : public Transport {
    Q_OBJECT
public:
    explicit UdpTransport(QObject* parent = nullptr);
    // Binds both ports; false with a reason (port in use, address not on this machine).
    bool bind(const QHostAddress& address, QString* why, quint16 dataPort = 5198, quint16 controlPort = 5199);

    void sendControl(const QHostAddress& to, const QByteArray& datagram) override;
    void sendData(const QHostAddress& to, const QByteArray& datagram) override;

private:
    void drain(QUdpSocket* socket, bool control);
    QUdpSocket* data_ = nullptr;
    QUdpSocket* control_ = nullptr;
    quint16 peerDataPort_ = 5198;
    quint16 peerControlPort_ = 5199;
};
