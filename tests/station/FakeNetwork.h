// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stand-ins for the station's network: a transport that records what is sent, a directory whose list the
// test sets, and a directory server on TCP (listOf() makes its lists); col() reads a column of a data row.

#include "AudioSource.h"
#include "DataRow.h"
#include "Directory.h"
#include "Transport.h"

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

class FakeTransport final : public Transport {
public:
    QHash<std::pair<QString, bool>, QList<QByteArray>> sent; // (to, control): the datagrams in order

    void sendControl(const QHostAddress& to, const QByteArray& d) override { sent[{to.toString(), true}] << d; }
    void sendData(const QHostAddress& to, const QByteArray& d) override { sent[{to.toString(), false}] << d; }
    void receiveControl(const QString& from, const QByteArray& d) { emit controlReceived(QHostAddress(from), d); }
    void receiveData(const QString& from, const QByteArray& d) { emit dataReceived(QHostAddress(from), d); }
    QList<QByteArray> sentTo(const QString& address, bool control) const { return sent.value({address, control}); }
};

class FakeDirectory final : public Directory {
public:
    QList<el::StationEntry> stations;
    bool listed = true;
    int refreshes = 0;

    void add(const QString& call, const QString& address, el::DirectoryStatus status = el::DirectoryStatus::Online) {
        stations.append({call, {}, status, {}, 0, QHostAddress(address)});
    }
    void answerRefresh() {
        listed = true;
        emit listUpdated();
    }
    void setStatus(el::DirectoryStatus) override {}
    void refreshList() override { ++refreshes; }
    std::optional<el::StationEntry> find(const QString& callsign) const override {
        const auto it = std::find_if(stations.cbegin(), stations.cend(), [&](const el::StationEntry& e) {
            return e.callsign.compare(callsign, Qt::CaseInsensitive) == 0;
        });
        return it == stations.cend() ? std::nullopt : std::optional(*it);
    }
    std::optional<el::StationEntry> findByAddress(const QHostAddress&) const override { return std::nullopt; }
    bool hasList() const override { return listed; }
    bool refreshing() const override { return false; }
    bool reachable() const override { return true; }
};

class FakeAudioSource final : public AudioSource {
public:
    bool running = false;
    void start() override { running = true; }
    void stop() override { running = false; }
};

class FakeAudioSink final : public AudioSink {
public:
    QList<QByteArray> played;
    void play(const QByteArray& gsmFrames, quint16) override { played.append(gsmFrames); }
};

inline QByteArray listOf(int count, bool endMarker = true) {
    QByteArray out = "@@@\n" + QByteArray::number(count) + '\n';
    for (int i = 0; i < count; ++i) {
        out += "Q1S" + QByteArray::number(i) + "\ns [ON 12:34]\n" + QByteArray::number(i) + "\n127.1.0." +
               QByteArray::number(i % 256) + '\n';
    }
    return endMarker ? out + "+++" : out;
}

// A directory server on address:5200: records each request (a login once its three lines are in) and answers.
enum ServerMode { Answer, Silent, CloseAtOnce, Endless, NoServer };
class DirectoryServer : public QObject {
public:
    explicit DirectoryServer(const QString& address, ServerMode m = Answer) : mode(m) {
        QVERIFY(mode == NoServer || server_.listen(QHostAddress(address), el::DirectoryPort));
        connect(&server_, &QTcpServer::newConnection, this, [this] { accept(server_.nextPendingConnection()); });
    }
    ServerMode mode;
    QByteArray loginReply = "OK", listReply = listOf(3);
    int chunk = 1 << 30; // bytes sent each millisecond
    bool closeAfter = true;
    int connections = 0;
    QList<QByteArray> requests;
    QHostAddress peer;

private:
    QTcpServer server_;

    void accept(QTcpSocket* s) {
        ++connections;
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        if (mode == CloseAtOnce) {
            return s->close();
        }
        connect(s, &QTcpSocket::readyRead, this, [this, s, got = QByteArray()]() mutable {
            if (!(got += s->readAll()).startsWith('l') || got.count('\r') >= 3) {
                requests << got;
                peer = s->peerAddress();
                respond(s, got.startsWith('s') ? listReply : loginReply);
            }
        });
    }
    void respond(QTcpSocket* s, QByteArray reply) {
        if (mode == Endless) { // well-formed entries, more than any list may hold, until the client hangs up
            const QByteArray entries = ("Q1X\n" + QByteArray(400, 'x') + " [ON 00:00]\n1\n127.1.0.1\n").repeated(1000);
            s->write("@@@\n90000\n" + entries);
            connect(s, &QTcpSocket::bytesWritten, s,
                    [s, entries] { s->bytesToWrite() < entries.size() && s->write(entries); });
        } else if (mode == Answer) {
            auto* timer = new QTimer(s);
            connect(timer, &QTimer::timeout, s, [this, s, timer, reply]() mutable {
                s->write(reply.first(std::min<qsizetype>(chunk, reply.size())));
                s->flush();
                reply.remove(0, chunk);
                if (reply.isEmpty() && timer->isActive()) {
                    timer->stop();
                    closeAfter ? s->disconnectFromHost() : void();
                }
            });
            timer->start(1);
        }
    }
};
