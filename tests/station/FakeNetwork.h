// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stand-ins for the station's network: a transport that records what is sent and delivers what a test
// injects, a directory whose list and answers the test sets, and a directory server on TCP.

#include "AudioSource.h"
#include "Directory.h"
#include "Transport.h"

#include <QHash>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

class FakeTransport final : public Transport {
    Q_OBJECT
public:
    struct Sent {
        QHostAddress to;
        bool control = false;
        QByteArray datagram;
    };
    QList<Sent> sent;

    void sendControl(const QHostAddress& to, const QByteArray& datagram) override { sent.append({to, true, datagram}); }
    void sendData(const QHostAddress& to, const QByteArray& datagram) override { sent.append({to, false, datagram}); }

    void receiveControl(const QString& from, const QByteArray& datagram) {
        emit controlReceived(QHostAddress(from), datagram);
    }
    void receiveData(const QString& from, const QByteArray& datagram) {
        emit dataReceived(QHostAddress(from), datagram);
    }
    // What went to one address, control or data.
    QList<QByteArray> sentTo(const QString& address, bool control) const {
        QList<QByteArray> out;
        for (const Sent& s : sent) {
            if (s.to == QHostAddress(address) && s.control == control) {
                out.append(s.datagram);
            }
        }
        return out;
    }
};

class FakeDirectory final : public Directory {
    Q_OBJECT
public:
    QHash<QString, el::StationEntry> stations; // key: callsign in capitals
    bool listed = true;                        // hasList()
    bool isReachable = true;                   // reachable()
    bool autoAnswer = true;                    // refreshList() answers at once (listUpdated) when reachable
    bool busyRefreshing = false;               // refreshing()
    int refreshes = 0;
    QList<el::DirectoryStatus> statuses;

    void add(const QString& callsign, const QString& address,
             el::DirectoryStatus status = el::DirectoryStatus::Online) {
        el::StationEntry entry;
        entry.callsign = callsign;
        entry.address = QHostAddress(address);
        entry.status = status;
        stations.insert(callsign.toUpper(), entry);
    }
    // Finishes a refresh started with autoAnswer off.
    void answerRefresh(bool ok) {
        busyRefreshing = false;
        listed = listed || ok;
        if (ok) {
            emit listUpdated();
        } else {
            emit listFailed(QStringLiteral("no directory server answered"));
        }
    }

    void setStatus(el::DirectoryStatus status) override { statuses.append(status); }
    void refreshList() override {
        ++refreshes;
        if (busyRefreshing) {
            return;
        }
        busyRefreshing = true;
        if (autoAnswer) {
            // From the event loop, as a real download would answer.
            QMetaObject::invokeMethod(
                this, [this] { answerRefresh(isReachable); }, Qt::QueuedConnection);
        }
    }
    std::optional<el::StationEntry> find(const QString& callsign) const override {
        const auto it = stations.constFind(callsign.toUpper());
        return it == stations.cend() ? std::nullopt : std::optional<el::StationEntry>(*it);
    }
    std::optional<el::StationEntry> findByAddress(const QHostAddress& address) const override {
        for (const el::StationEntry& entry : stations) {
            if (entry.address == address) {
                return entry;
            }
        }
        return std::nullopt;
    }
    bool hasList() const override { return listed; }
    bool refreshing() const override { return busyRefreshing; }
    bool reachable() const override { return isReachable; }
};

class FakeAudioSource final : public AudioSource {
    Q_OBJECT
public:
    bool running = false;
    void start() override { running = true; }
    void stop() override { running = false; }
    void deliver(const QByteArray& frames) { emit framesReady(frames); }
};

class FakeAudioSink final : public AudioSink {
    Q_OBJECT
public:
    QList<QPair<QByteArray, quint16>> played;
    void play(const QByteArray& gsmFrames, quint16 sequence) override { played.append({gsmFrames, sequence}); }
};

// A directory server on address:5200: records each request (a login once its three lines are in) and answers
// it as the test sets.
enum ServerMode { Answer, Silent, CloseAtOnce, Endless, NoServer };
class DirectoryServer : public QObject {
    Q_OBJECT
public:
    explicit DirectoryServer(const QString& address, ServerMode m = Answer) : mode(m) {
        if (mode != NoServer) {
            QVERIFY(server_.listen(QHostAddress(address), el::DirectoryPort));
        }
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                accept(s);
            }
        });
    }
    void stop() { server_.close(); }

    ServerMode mode;
    QByteArray loginReply = "OK";
    QByteArray listReply;
    int chunk = 0; // bytes per TCP segment; 0: all at once
    bool closeAfter = true;
    int connections = 0;
    QList<QByteArray> requests;
    QHostAddress peer;

    int countOf(const QByteArray& part) const {
        return int(
            std::count_if(requests.cbegin(), requests.cend(), [&](const QByteArray& r) { return r.contains(part); }));
    }

private:
    QTcpServer server_;

    void accept(QTcpSocket* s) {
        ++connections;
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        if (mode == CloseAtOnce) {
            s->close();
            return;
        }
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto* got = new QByteArray;
        connect(s, &QObject::destroyed, [got] { delete got; });
        connect(s, &QTcpSocket::readyRead, this, [this, s, got] {
            *got += s->readAll();
            if (got->startsWith('l') && got->count('\r') < 3) {
                return;
            }
            requests << *got;
            peer = s->peerAddress();
            respond(s, got->startsWith('s') ? listReply : loginReply);
        });
    }

    void respond(QTcpSocket* s, const QByteArray& reply) {
        if (mode == Endless) { // well-formed entries, more than any list may hold, until the client hangs up
            const QByteArray entries = ("Q1X\n" + QByteArray(400, 'x') + " [ON 00:00]\n1\n127.1.0.1\n").repeated(1000);
            s->write("@@@\n90000\n" + entries);
            connect(s, &QTcpSocket::bytesWritten, s,
                    [s, entries] { s->bytesToWrite() < entries.size() && s->write(entries); });
        } else if (mode == Answer) {
            auto* timer = new QTimer(s);
            timer->setTimerType(Qt::PreciseTimer);
            connect(timer, &QTimer::timeout, s, [this, s, timer, reply, sent = qsizetype(0)]() mutable {
                const qsizetype n = chunk > 0 ? chunk : reply.size();
                s->write(reply.mid(sent, n));
                s->flush();
                sent += n;
                if (sent >= reply.size()) {
                    timer->stop();
                    if (closeAfter) {
                        s->disconnectFromHost();
                    }
                }
            });
            timer->start(chunk > 0 ? 1 : 0);
        }
    }
};
