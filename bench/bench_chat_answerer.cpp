// SPDX-License-Identifier: GPL-3.0-or-later
// The least a client of the station can do with chat: answer every ChatTextReceived with SendChatText
// ("re: " and the text, so the station can check the order). It measures what the bus itself allows.
//
//   bench_chat_answerer            waits for each answer before taking the next text, as Parlevox does
//   bench_chat_answerer --async    sends answers without waiting for them (pipelined)
#include "platform/EchoLinkBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <cstdio>

namespace {

class Answerer : public QObject {
    Q_OBJECT
public:
    Answerer(QDBusConnection bus, bool async) : bus_(std::move(bus)), async_(async) {}

public Q_SLOTS:
    void onChatTextReceived(const QString& sText) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QString::fromLatin1(EchoLinkBus::Service), QString::fromLatin1(EchoLinkBus::ObjectPath),
            QString::fromLatin1(EchoLinkBus::Interface), QStringLiteral("SendChatText"));
        call.setArguments({QStringLiteral("re: ") + sText});
        if (async_) {
            bus_.send(call);
        } else {
            bus_.call(call, QDBus::Block, 3000);
        }
    }

private:
    QDBusConnection bus_;
    bool async_;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "bench_chat_answerer: no session bus\n");
        return 1;
    }
    Answerer answerer(bus, QCoreApplication::arguments().contains(QStringLiteral("--async")));
    const QString service = QString::fromLatin1(EchoLinkBus::Service);
    const QString path = QString::fromLatin1(EchoLinkBus::ObjectPath);
    const QString iface = QString::fromLatin1(EchoLinkBus::Interface);
    bus.connect(service, path, iface, QStringLiteral("ChatTextReceived"), &answerer, SLOT(onChatTextReceived(QString)));
    // Like any client at start: ask the station who it is, so that it knows a client is there.
    bus.call(QDBusMessage::createMethodCall(service, path, iface, QStringLiteral("OwnCallsign")), QDBus::Block, 3000);
    return QCoreApplication::exec();
}

#include "bench_chat_answerer.moc"
