// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "DirectoryProtocol.h"

#include <QObject>
#include <optional>

// The EchoLink directory as the station sees it: our status there and the station list. The real one
// (DirectoryClient) talks TCP to a list of servers; tests use a fake.
class Directory : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Directory() override = default;

    // Logs in with this status now and keeps doing so on schedule while Online or Busy; Off logs off once.
    virtual void setStatus(el::DirectoryStatus status) = 0;
    // Starts a download of the station list unless one is under way; listUpdated or listFailed follows.
    virtual void refreshList() = 0;
    // A station of the latest list, looked up without regard to case.
    virtual std::optional<el::StationEntry> find(const QString& callsign) const = 0;
    // A station of the latest list listed at this address (the first such one).
    virtual std::optional<el::StationEntry> findByAddress(const QHostAddress& address) const = 0;
    // Whether a list has been read since the start.
    virtual bool hasList() const = 0;
    // Whether a list download is under way.
    virtual bool refreshing() const = 0;
    // Whether the latest exchange with any server worked (false before the first one).
    virtual bool reachable() const = 0;

Q_SIGNALS:
    void listUpdated();
    void listFailed(const QString& why);
    // After each login: accepted or not, with a message for the user when not.
    void loginFinished(bool accepted, const QString& message);
};
