// SPDX-License-Identifier: GPL-3.0-or-later
#include "UdpTransport.h"

#include "Packets.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

UdpTransport::UdpTransport(QObject* parent) : Transport(parent) {}

bool UdpTransport::bind(const QHostAddress& address, QString* why, quint16 dataPort, quint16 controlPort) {
    peerDataPort_ = dataPort;
    peerControlPort_ = controlPort;
    auto open = [&](QUdpSocket*& socket, quint16 port, bool control) {
        socket = new QUdpSocket(this);
        if (!socket->bind(address, port)) {
            if (why) {
                *why = QStringLiteral("cannot use UDP port %1 on %2: %3")
                           .arg(port)
                           .arg(address.toString(), socket->errorString());
            }
            return false;
        }
        connect(socket, &QUdpSocket::readyRead, this, [this, socket, control] { drain(socket, control); });
        return true;
    };
    return open(data_, dataPort, false) && open(control_, controlPort, true);
}

void UdpTransport::drain(QUdpSocket* socket, bool control) {
    // Read everything waiting; a datagram too long for any EchoLink packet is read and forgotten.
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram(el::MaxDatagram + 1);
        if (!datagram.isValid() || datagram.data().size() > el::MaxDatagram) {
            continue;
        }
        QHostAddress from = datagram.senderAddress();
        if (from.protocol() == QAbstractSocket::IPv6Protocol) {
            bool ok = false;
            const quint32 v4 = from.toIPv4Address(&ok);
            if (!ok) {
                continue;
            }
            from = QHostAddress(v4);
        }
        if (control) {
            emit controlReceived(from, datagram.data());
        } else {
            emit dataReceived(from, datagram.data());
        }
    }
}

void UdpTransport::sendControl(const QHostAddress& to, const QByteArray& datagram) {
    if (control_) {
        control_->writeDatagram(datagram, to, peerControlPort_);
    }
}

void UdpTransport::sendData(const QHostAddress& to, const QByteArray& datagram) {
    if (data_) {
        data_->writeDatagram(datagram, to, peerDataPort_);
    }
}
