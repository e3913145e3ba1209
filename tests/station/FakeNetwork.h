// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stand-ins for the station's network: a transport that records what is sent and delivers what a test
// injects, and a directory whose list and answers the test sets.

#include "AudioSource.h"
#include "Directory.h"
#include "Transport.h"

#include <QHash>
#include <QList>

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
