// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Directory.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <functional>
#include <memory>

struct DirectoryTiming {
    int reloginMs = 5 * 60 * 1000; // login again while Online/Busy
    int listRefreshMs = 10 * 60 * 1000;
    int exchangeTimeoutMs = 15000; // a server that has not finished by then counts as failed
    int backoffFirstMs = 5000;     // after every server failed: wait, doubling up to backoffMaxMs
    int backoffMaxMs = 5 * 60 * 1000;
};

// The real directory: one TCP connection to port 5200 per exchange, servers tried in turn until one
// answers, starting with the one that answered last. Exchanges are queued (one at a time). Failures go to
// standard error via notice() and are retried with back-off; the latest good list stays in use meanwhile.
class DirectoryClient final : public Directory {
    Q_OBJECT
public:
    DirectoryClient(QStringList servers, QString callsign, QString password, QString description,
                    const QHostAddress& bind = {}, DirectoryTiming timing = {}, quint16 port = el::DirectoryPort,
                    QObject* parent = nullptr);
    ~DirectoryClient() override;

    void setStatus(el::DirectoryStatus status) override;
    void refreshList() override;
    std::optional<el::StationEntry> find(const QString& callsign) const override;
    std::optional<el::StationEntry> findByAddress(const QHostAddress& address) const override;
    bool hasList() const override { return hasList_; }
    bool refreshing() const override;
    bool reachable() const override { return reachable_; }
    int stationCount() const { return static_cast<int>(stations_.size()); }

    // Logs off (status Off) and calls done once: when that exchange ended (well or not), when timeoutMs
    // passed, or when the client is destroyed, whichever comes first.
    void logOff(int timeoutMs, std::function<void()> done);

Q_SIGNALS:
    void notice(const QString& line);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    QList<el::StationEntry> stations_;    // the latest good list
    QHash<QString, qsizetype> byCall_;    // callsign in capitals -> first entry in stations_
    QHash<quint32, qsizetype> byAddress_; // IPv4 -> first entry in stations_
    bool hasList_ = false;
    bool reachable_ = false;
};
