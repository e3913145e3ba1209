// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/EchoLinkClient.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QDBusServiceWatcher;

// EchoLinkClient backed by a station program on D-Bus (service org.parlevox.EchoLink).
//
// Calls block the calling thread without running an event loop (QDBus::Block), so no handler can start
// inside another; each call gives up after the call timeout. After a timeout the station counts as hung:
// further calls fail at once until the station answers again (probed in the background), so a hung
// station costs the window one timeout, not one per call. While no program owns the service, calls fail
// at once too. Station events and availability changes are queued and arrive through the event loop, in
// the order they happened, in slices of a few milliseconds: a flood of events from the station leaves the
// window free to react between the slices.
//
// Each window creates its own instance; any number of instances can share one bus connection.
class DBusEchoLinkClient final : public EchoLinkClient {
    Q_OBJECT
public:
    static constexpr int DefaultCallTimeoutMs = 3000;

    explicit DBusEchoLinkClient(const QDBusConnection& connection, QObject* parent = nullptr,
                                int callTimeoutMs = DefaultCallTimeoutMs);
    ~DBusEchoLinkClient() override;

    // Start-up: binds to the station program on the user's session bus, having the bus start it first when
    // none runs and the bus can (a D-Bus service file), waiting a few seconds for it. Returns nullptr and a
    // message for the user in *error when there is no session bus or no station program runs or starts.
    static std::unique_ptr<DBusEchoLinkClient> connectToSession(QString* error, QObject* parent = nullptr);
    // The same on a given connection (a private bus in tests, or a bus chosen by the caller).
    static std::unique_ptr<DBusEchoLinkClient> connectTo(const QDBusConnection& connection, QString* error,
                                                         QObject* parent = nullptr);

    CallStatus Connect(const QString& callsign, int flag) override;
    CallStatus Disconnect(const QString& callsign) override;
    CallStatus DisconnectAll() override;
    CallStatus SetTransmit(bool on) override;
    CallResult<bool> IsTransmitting() override;
    CallResult<int> ConnectedCount() override;
    CallResult<bool> IsConnected(const QString& callsign) override;
    CallResult<QString> OwnCallsign() override;
    CallStatus SendChatText(const QString& text) override;
    void SendChatTextNoWait(const QString& text) override;
    // A station without the method answers with receivingNotReportedMessage() and stays available.
    CallResult<bool> IsReceiving() override;
    // Asks the station once; the answer holds until another program owns the service.
    bool supportsReceiving() override;

    bool isAvailable() const override { return present_ && !hung_; }

private Q_SLOTS:
    void onBusClosing();
    void onBusChatTextReceived(const QString& sText);
    void onBusConnected(const QString& sCallConnected, const QString& sName, const QString& sAddr);
    void onBusDisconnected(const QString& sCall);
    void onBusReceivingChanged(bool receiving, const QString& callsign);

private:
    // The reply of a successful call, or nullopt with *error set; *noSuchMethod tells a station that lacks
    // the method from one that failed at it.
    std::optional<QDBusMessage> callStation(const char* method, const QVariantList& args, QString* error,
                                            bool* noSuchMethod = nullptr);
    CallStatus callForStatus(const char* method, const QVariantList& args);
    template <typename T>
    CallResult<T> callForValue(const char* method, const QVariantList& args, bool* noSuchMethod = nullptr);

    void bindSignals();
    void onOwnerChanged(const QString& newOwner);
    void setState(bool present, bool hung);
    void probe();
    QDBusMessage methodCall(const char* method, const QVariantList& args) const;
    // Queues an event for the event loop; deliverEvents() hands them out, a slice at a time.
    void post(std::function<void()> event);
    void deliverEvents();

    // How long one slice of event delivery may take before the event loop gets its turn.
    static constexpr int DeliverySliceMs = 8;

    QDBusConnection connection_;
    QDBusServiceWatcher* watcher_ = nullptr;
    std::deque<std::function<void()>> events_;
    QTimer delivery_;
    int callTimeoutMs_;
    bool present_ = false;                   // some program owns the service name
    bool hung_ = false;                      // the owner let a call time out and has not answered since
    bool probing_ = false;                   // a background probe is pending
    quint64 ownerEpoch_ = 0;                 // counts owner changes, so a late probe answer of an old owner is ignored
    std::optional<bool> receivingSupported_; // unknown until the present owner answered IsReceiving or signalled
};
