// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DBusEchoLinkClient.h"

#include "platform/EchoLinkBus.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QPointer>

namespace {

QString notRunningMessage() {
    return QStringLiteral("The EchoLink station program is not running.");
}

QString notAnsweringMessage() {
    return QStringLiteral("The EchoLink station program is not answering.");
}

bool isStationGone(const QDBusError& error) {
    const QDBusError::ErrorType type = error.type();
    return type == QDBusError::ServiceUnknown || type == QDBusError::Disconnected ||
           error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

// How a station that predates a method answers it; some bindings only say so in the message.
bool isNoSuchMethod(const QDBusError& error) {
    const QDBusError::ErrorType type = error.type();
    return type == QDBusError::UnknownMethod || type == QDBusError::UnknownInterface ||
           error.message().contains(QLatin1String("No such method"), Qt::CaseInsensitive);
}

bool isTimeout(QDBusError::ErrorType type) {
    return type == QDBusError::NoReply || type == QDBusError::Timeout || type == QDBusError::TimedOut;
}

// How long start-up waits for the bus to start a station: it takes the name before it opens any port.
constexpr int ActivationTimeoutMs = 5000;

// At start-up only: when no program owns the name but the bus knows how to start one, has the bus start it.
// Calls never do this, so a station that the user ends stays ended. Empty when the station now owns the name
// or when the bus cannot start one (*activatable false); otherwise why it did not start.
QString startStation(const QDBusConnection& connection, bool* activatable) {
    const QString service = QString::fromLatin1(EchoLinkBus::Service);
    QDBusConnectionInterface* bus = connection.interface();
    const QDBusReply<QStringList> names = bus != nullptr ? bus->activatableServiceNames() : QDBusReply<QStringList>();
    *activatable = names.isValid() && names.value().contains(service);
    if (!*activatable) {
        return {};
    }
    QDBusMessage start =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("StartServiceByName"));
    start << service << 0u;
    const QDBusMessage reply = connection.call(start, QDBus::Block, ActivationTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return {};
    }
    if (isTimeout(QDBusError(reply).type())) {
        return QStringLiteral("it did not start within %1 s").arg(ActivationTimeoutMs / 1000);
    }
    QString why = reply.errorMessage().trimmed();
    while (why.endsWith(QLatin1Char('.'))) {
        why.chop(1);
    }
    return why.isEmpty() ? reply.errorName() : why;
}

template <typename T> bool holds(const QVariant& v) {
    return v.metaType() == QMetaType::fromType<T>();
}

} // namespace

DBusEchoLinkClient::DBusEchoLinkClient(const QDBusConnection& connection, QObject* parent, int callTimeoutMs)
    : EchoLinkClient(parent), connection_(connection), callTimeoutMs_(callTimeoutMs > 0 ? callTimeoutMs : 1) {
    delivery_.setSingleShot(true);
    delivery_.setInterval(0);
    connect(&delivery_, &QTimer::timeout, this, &DBusEchoLinkClient::deliverEvents);
    // Watch first, then ask: an owner that appears in between is reported by the watcher.
    watcher_ = new QDBusServiceWatcher(QString::fromLatin1(EchoLinkBus::Service), connection_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) { onOwnerChanged(newOwner); });
    bindSignals();
    if (connection_.isConnected() && connection_.interface() != nullptr) {
        present_ = connection_.interface()->isServiceRegistered(QString::fromLatin1(EchoLinkBus::Service)).value();
    }
}

DBusEchoLinkClient::~DBusEchoLinkClient() = default;

std::unique_ptr<DBusEchoLinkClient> DBusEchoLinkClient::connectToSession(QString* error, QObject* parent) {
    return connectTo(QDBusConnection::sessionBus(), error, parent);
}

std::unique_ptr<DBusEchoLinkClient> DBusEchoLinkClient::connectTo(const QDBusConnection& connection, QString* error,
                                                                  QObject* parent) {
    QString message;
    if (!connection.isConnected()) {
        message = QStringLiteral("No D-Bus session bus is available, so Parlevox cannot reach the EchoLink station "
                                 "program. Start Parlevox inside a desktop session, or start the station program "
                                 "and Parlevox together under dbus-run-session.");
        const QString detail = connection.lastError().message();
        if (!detail.isEmpty()) {
            message += QStringLiteral("\n\n(%1)").arg(detail);
        }
    } else {
        auto client = std::make_unique<DBusEchoLinkClient>(connection, parent);
        if (client->isAvailable()) {
            return client;
        }
        bool activatable = false;
        const QString why = startStation(connection, &activatable);
        if (activatable && why.isEmpty()) {
            // A fresh client reads the new owner now; the first one would hear of it only from the event loop.
            client = std::make_unique<DBusEchoLinkClient>(connection, parent);
            if (client->isAvailable()) {
                return client;
            }
        }
        if (activatable) {
            message = QStringLiteral("The EchoLink station could not start: %1. Run parlevox-station --setup to "
                                     "enter your callsign and password, or start echolink-sim to try Parlevox "
                                     "without a station.")
                          .arg(why.isEmpty() ? QStringLiteral("it ended as soon as it was started") : why);
        } else {
            message = QStringLiteral("No EchoLink station program is running. Start the station program (for "
                                     "example build/bin/echolink-sim --demo) and then start Parlevox again.");
        }
    }
    if (error != nullptr) {
        *error = message;
    }
    return nullptr;
}

void DBusEchoLinkClient::bindSignals() {
    if (!connection_.isConnected()) {
        return;
    }
    const QString service = QString::fromLatin1(EchoLinkBus::Service);
    const QString path = QString::fromLatin1(EchoLinkBus::ObjectPath);
    const QString iface = QString::fromLatin1(EchoLinkBus::Interface);
    // Bound to the well-known name: the bus connection follows its owner, so a restarted station is heard too.
    connection_.connect(service, path, iface, QStringLiteral("Closing"), this, SLOT(onBusClosing()));
    connection_.connect(service, path, iface, QStringLiteral("ChatTextReceived"), this,
                        SLOT(onBusChatTextReceived(QString)));
    connection_.connect(service, path, iface, QStringLiteral("Connected"), this,
                        SLOT(onBusConnected(QString, QString, QString)));
    connection_.connect(service, path, iface, QStringLiteral("Disconnected"), this, SLOT(onBusDisconnected(QString)));
    connection_.connect(service, path, iface, QStringLiteral("ReceivingChanged"), this,
                        SLOT(onBusReceivingChanged(bool, QString)));
}

// Each event is queued so that it reaches the program's handlers from the event loop, one at a time,
// in the order the station sent them.
void DBusEchoLinkClient::onBusClosing() {
    post([this] { emit Closing(); });
}

void DBusEchoLinkClient::onBusChatTextReceived(const QString& sText) {
    post([this, sText] { emit ChatTextReceived(sText); });
}

void DBusEchoLinkClient::onBusConnected(const QString& sCallConnected, const QString& sName, const QString& sAddr) {
    post([this, sCallConnected, sName, sAddr] { emit Connected(sCallConnected, sName, sAddr); });
}

void DBusEchoLinkClient::onBusDisconnected(const QString& sCall) {
    post([this, sCall] { emit Disconnected(sCall); });
}

void DBusEchoLinkClient::onBusReceivingChanged(bool receiving, const QString& callsign) {
    receivingSupported_ = true;
    post([this, receiving, callsign] { emit ReceivingChanged(receiving, callsign); });
}

void DBusEchoLinkClient::post(std::function<void()> event) {
    events_.push_back(std::move(event));
    if (!delivery_.isActive()) {
        delivery_.start();
    }
}

void DBusEchoLinkClient::deliverEvents() {
    // A handler may end the program or run a local event loop that lands here again: each event is taken
    // off the queue before it is handed out.
    const QPointer<DBusEchoLinkClient> alive(this);
    QElapsedTimer slice;
    slice.start();
    while (!events_.empty()) {
        const std::function<void()> event = std::move(events_.front());
        events_.pop_front();
        event();
        if (alive.isNull()) {
            return;
        }
        if (slice.elapsed() >= DeliverySliceMs) {
            break;
        }
    }
    if (!events_.empty() && !delivery_.isActive()) {
        delivery_.start();
    }
}

void DBusEchoLinkClient::onOwnerChanged(const QString& newOwner) {
    ++ownerEpoch_;
    receivingSupported_.reset();
    // A new owner is a new program: whatever hung before is gone.
    setState(!newOwner.isEmpty(), false);
}

void DBusEchoLinkClient::setState(bool present, bool hung) {
    const bool before = isAvailable();
    present_ = present;
    hung_ = hung;
    const bool after = isAvailable();
    if (hung_ && !probing_) {
        probe();
    }
    if (before != after) {
        post([this, after] { emit availabilityChanged(after); });
    }
}

// Asks a hung station a harmless question in the background, again and again, until it answers or goes.
void DBusEchoLinkClient::probe() {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(EchoLinkBus::Service), QString::fromLatin1(EchoLinkBus::ObjectPath),
        QString::fromLatin1(EchoLinkBus::Interface), QStringLiteral("OwnCallsign"));
    message.setAutoStartService(false);
    probing_ = true;
    const quint64 epoch = ownerEpoch_;
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(message, callTimeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, epoch] {
        watcher->deleteLater();
        probing_ = false;
        if (epoch != ownerEpoch_ || !hung_) {
            return;
        }
        if (!watcher->isError()) {
            setState(present_, false);
        } else if (isStationGone(watcher->error())) {
            setState(false, false);
        } else {
            probe();
        }
    });
}

QDBusMessage DBusEchoLinkClient::methodCall(const char* method, const QVariantList& args) const {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(EchoLinkBus::Service), QString::fromLatin1(EchoLinkBus::ObjectPath),
        QString::fromLatin1(EchoLinkBus::Interface), QString::fromLatin1(method));
    message.setArguments(args);
    // Never let the bus start something on our behalf; the user starts the station program.
    message.setAutoStartService(false);
    return message;
}

std::optional<QDBusMessage> DBusEchoLinkClient::callStation(const char* method, const QVariantList& args,
                                                            QString* error, bool* noSuchMethod) {
    if (!present_) {
        *error = notRunningMessage();
        return std::nullopt;
    }
    if (hung_) {
        *error = notAnsweringMessage();
        return std::nullopt;
    }
    const QDBusMessage message = methodCall(method, args);
    const QDBusMessage reply = connection_.call(message, QDBus::Block, callTimeoutMs_);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return reply;
    }
    const QDBusError dbusError(reply);
    if (isTimeout(dbusError.type())) {
        setState(present_, true);
        *error = QStringLiteral("The EchoLink station program did not answer within %1 seconds.")
                     .arg(QString::number(callTimeoutMs_ / 1000.0, 'g', 3));
    } else if (isStationGone(dbusError)) {
        setState(false, false);
        *error = notRunningMessage();
    } else if (noSuchMethod != nullptr && isNoSuchMethod(dbusError)) {
        // An answer all the same: the station is there and well, it only predates the method.
        *noSuchMethod = true;
        *error = QStringLiteral("The EchoLink station program does not know %1.").arg(QString::fromLatin1(method));
    } else if (dbusError.name().startsWith(QLatin1String(EchoLinkBus::Interface) + QLatin1Char('.'))) {
        // The station's own refusal: its message is meant for the user.
        *error = dbusError.message().isEmpty() ? dbusError.name() : dbusError.message();
    } else {
        *error = QStringLiteral("The EchoLink station program could not carry out %1: %2")
                     .arg(QString::fromLatin1(method),
                          dbusError.message().isEmpty() ? dbusError.name() : dbusError.message());
    }
    return std::nullopt;
}

CallStatus DBusEchoLinkClient::callForStatus(const char* method, const QVariantList& args) {
    QString error;
    if (!callStation(method, args, &error)) {
        return CallStatus::failure(error);
    }
    return CallStatus::success();
}

template <typename T>
CallResult<T> DBusEchoLinkClient::callForValue(const char* method, const QVariantList& args, bool* noSuchMethod) {
    QString error;
    const std::optional<QDBusMessage> reply = callStation(method, args, &error, noSuchMethod);
    if (!reply) {
        return CallResult<T>::failure(error);
    }
    const QVariantList values = reply->arguments();
    if (values.size() != 1 || !holds<T>(values.first())) {
        return CallResult<T>::failure(QStringLiteral("The EchoLink station program gave an unexpected answer to %1 "
                                                     "(signature \"%2\").")
                                          .arg(QString::fromLatin1(method), reply->signature()));
    }
    return CallResult<T>::success(values.first().value<T>());
}

CallStatus DBusEchoLinkClient::Connect(const QString& callsign, int flag) {
    return callForStatus("Connect", {callsign, flag});
}

CallStatus DBusEchoLinkClient::Disconnect(const QString& callsign) {
    return callForStatus("Disconnect", {callsign});
}

CallStatus DBusEchoLinkClient::DisconnectAll() {
    return callForStatus("DisconnectAll", {});
}

CallStatus DBusEchoLinkClient::SetTransmit(bool on) {
    return callForStatus("SetTransmit", {on});
}

CallResult<bool> DBusEchoLinkClient::IsTransmitting() {
    return callForValue<bool>("IsTransmitting", {});
}

CallResult<int> DBusEchoLinkClient::ConnectedCount() {
    return callForValue<int>("ConnectedCount", {});
}

CallResult<bool> DBusEchoLinkClient::IsConnected(const QString& callsign) {
    return callForValue<bool>("IsConnected", {callsign});
}

CallResult<QString> DBusEchoLinkClient::OwnCallsign() {
    return callForValue<QString>("OwnCallsign", {});
}

CallStatus DBusEchoLinkClient::SendChatText(const QString& text) {
    return callForStatus("SendChatText", {text});
}

void DBusEchoLinkClient::SendChatTextNoWait(const QString& text) {
    // Nobody waits for the answer, so a hung or missing station costs nothing here; the next call that
    // waits, or the bus, notices it. One connection keeps the order of everything sent on it.
    if (present_ && !hung_) {
        connection_.send(methodCall("SendChatText", {text}));
    }
}

CallResult<bool> DBusEchoLinkClient::IsReceiving() {
    bool noSuchMethod = false;
    CallResult<bool> result = callForValue<bool>("IsReceiving", {}, &noSuchMethod);
    if (result.ok) {
        receivingSupported_ = true;
    } else if (noSuchMethod) {
        receivingSupported_ = false;
        result.error = receivingNotReportedMessage();
    }
    return result;
}

bool DBusEchoLinkClient::supportsReceiving() {
    if (!receivingSupported_.has_value()) {
        (void)IsReceiving();
    }
    return receivingSupported_.value_or(false);
}
