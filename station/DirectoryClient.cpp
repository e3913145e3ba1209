// SPDX-License-Identifier: GPL-3.0-or-later
#include "DirectoryClient.h"

#include <QTcpSocket>
#include <QTime>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <utility>

namespace {

enum class Kind { Login, List };

// A login reply is judged by its first line; a server that sends more than this without one is not a
// directory we can talk to.
constexpr qsizetype MaxLoginReply = 1024;
// Qt reads ahead into its own buffer; bounding it keeps an endless sender from filling memory behind the
// back of our own limit.
constexpr qint64 SocketReadBuffer = qint64(64) * 1024;
// The start of a list reply is parsed on every read so that garbage is noticed at once; after that only when
// "+++" may have arrived (or the server closed), so a long list that trickles in is not parsed over and over.
constexpr qsizetype ParseEveryReadBelow = qsizetype(64) * 1024;
constexpr qsizetype MaxReplyShown = 80;
constexpr qsizetype MaxServerMessage = 200;

QString printable(QStringView text, qsizetype max) {
    QString out;
    for (const QChar c : text) {
        if (out.size() >= max) {
            break;
        }
        out += c.isPrint() ? c : QChar(u'?');
    }
    return out;
}

// The reply's first line, safe to show: control and non-ASCII bytes become '?'.
QString firstLine(QByteArrayView reply) {
    QString out;
    for (const char ch : reply) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r' || c == '\n' || out.size() >= MaxReplyShown) {
            break;
        }
        out += (c >= 0x20 && c < 0x7f) ? QChar(char16_t(c)) : QChar(u'?');
    }
    return out;
}

QString duration(int ms) {
    return ms % 1000 == 0 ? QStringLiteral("%1 s").arg(ms / 1000) : QStringLiteral("%1 ms").arg(ms);
}

} // namespace

struct DirectoryClient::Impl {
    struct Exchange {
        Kind kind = Kind::Login;
        el::DirectoryStatus status = el::DirectoryStatus::Online; // of a login
        QByteArray request;
        int attempt = 0;      // servers tried so far
        QStringList failures; // one clause per failed server
        bool refused = false; // some server answered the login with something other than OK
        QList<std::function<void()>> whenDone;
    };

    Impl(DirectoryClient& owner, QStringList serverList, QString call, QString pass, QString desc,
         const QHostAddress& local, DirectoryTiming t, quint16 p)
        : q(owner), servers(std::move(serverList)), callsign(std::move(call)), password(std::move(pass)),
          description(std::move(desc)), bind(local), timing(t), port(p), loginBackoff(t.backoffFirstMs),
          listBackoff(t.backoffFirstMs) {
        for (QTimer* timer : {&exchangeTimer, &loginRetry, &listRetry}) {
            timer->setSingleShot(true);
        }
        QObject::connect(&exchangeTimer, &QTimer::timeout, &q, [this] { timedOut(); });
        QObject::connect(&reloginTimer, &QTimer::timeout, &q, [this] { relogin(); });
        QObject::connect(&loginRetry, &QTimer::timeout, &q, [this] { relogin(); });
        QObject::connect(&listRefresh, &QTimer::timeout, &q, [this] { q.refreshList(); });
        QObject::connect(&listRetry, &QTimer::timeout, &q, [this] { q.refreshList(); });
    }

    DirectoryClient& q;
    const QStringList servers;
    const QString callsign;
    const QString password;
    const QString description;
    const QHostAddress bind;
    const DirectoryTiming timing;
    const quint16 port;

    std::optional<el::DirectoryStatus> status;
    std::deque<Exchange> queue;
    std::optional<Exchange> current;
    QTcpSocket* socket = nullptr;
    QByteArray reply;
    int preferred = 0; // index of the server that answered last
    int loginBackoff;
    int listBackoff;
    bool pumpScheduled = false;
    QString serverMessage;
    QTimer exchangeTimer, reloginTimer, loginRetry, listRefresh, listRetry;

    QString host() const { return servers.at((preferred + current->attempt) % servers.size()); }
    bool isLogoff() const { return current->kind == Kind::Login && current->status == el::DirectoryStatus::Off; }

    void enqueueLogin(el::DirectoryStatus s) {
        Exchange ex;
        ex.status = s;
        queue.push_back(std::move(ex));
        schedulePump();
    }

    void relogin() {
        if (!status || *status == el::DirectoryStatus::Off) {
            return;
        }
        const bool queued =
            std::any_of(queue.begin(), queue.end(), [](const Exchange& e) { return e.kind == Kind::Login; });
        if (!queued) {
            enqueueLogin(*status);
        }
    }

    // Exchanges start from the event loop, never inside a caller's setStatus() or a signal handler of ours.
    void schedulePump() {
        if (pumpScheduled) {
            return;
        }
        pumpScheduled = true;
        QMetaObject::invokeMethod(
            &q,
            [this] {
                pumpScheduled = false;
                pump();
            },
            Qt::QueuedConnection);
    }

    void pump() {
        if (current || queue.empty()) {
            return;
        }
        current = std::move(queue.front());
        queue.pop_front();
        if (servers.isEmpty()) {
            current->failures << QStringLiteral("no directory server is configured");
            finishFailed();
            return;
        }
        current->request = current->kind == Kind::List
                               ? el::listRequest()
                               : el::buildLogin(callsign, password, current->status, QTime::currentTime(), description);
        tryServer();
    }

    void tryServer() {
        reply = QByteArray();
        socket = new QTcpSocket(&q);
        socket->setReadBufferSize(SocketReadBuffer);
        QObject::connect(socket, &QTcpSocket::connected, &q, [this] { socket->write(current->request); });
        QObject::connect(socket, &QTcpSocket::readyRead, &q, [this] { readReply(); });
        QObject::connect(socket, &QTcpSocket::disconnected, &q, [this] { closedByServer(); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, &q,
                         [this](QAbstractSocket::SocketError error) { socketError(error); });
        if (!bind.isNull() && !socket->bind(bind)) {
            failServer(QStringLiteral("cannot use local address %1 for %2: %3")
                           .arg(bind.toString(), host(), socket->errorString()));
            return;
        }
        exchangeTimer.start(timing.exchangeTimeoutMs);
        socket->connectToHost(host(), port);
    }

    void dropSocket() {
        exchangeTimer.stop();
        if (socket) {
            QObject::disconnect(socket, nullptr, &q, nullptr);
            socket->abort();
            socket->deleteLater();
            socket = nullptr;
        }
        reply = QByteArray();
    }

    void socketError(QAbstractSocket::SocketError error) {
        switch (error) {
        case QAbstractSocket::RemoteHostClosedError:
            closedByServer();
            return;
        case QAbstractSocket::ConnectionRefusedError:
            failServer(QStringLiteral("%1 refused the connection").arg(host()));
            return;
        case QAbstractSocket::HostNotFoundError:
            failServer(QStringLiteral("%1 was not found").arg(host()));
            return;
        default:
            failServer(QStringLiteral("%1: %2").arg(host(), socket->errorString()));
        }
    }

    void readReply() {
        const qsizetype limit = current->kind == Kind::Login ? MaxLoginReply : el::MaxListBytes;
        while (socket && socket->bytesAvailable() > 0) {
            reply += socket->read(std::min<qint64>(socket->bytesAvailable(), limit + 1 - reply.size()));
            if (reply.size() > limit) {
                if (current->kind == Kind::Login) {
                    judgeLogin(true);
                } else {
                    failServer(QStringLiteral("%1 sent more than %2 bytes").arg(host()).arg(limit));
                }
                return;
            }
        }
        if (current->kind == Kind::Login) {
            judgeLogin(false);
        } else {
            judgeList(false);
        }
    }

    void closedByServer() {
        if (!socket) {
            return;
        }
        if (socket->bytesAvailable() > 0) {
            const QTcpSocket* before = socket;
            readReply();
            if (socket != before) {
                return; // the rest decided this server's fate already
            }
        }
        if (reply.isEmpty()) {
            failServer(QStringLiteral("%1 closed the connection without answering").arg(host()));
        } else if (current->kind == Kind::Login) {
            judgeLogin(true);
        } else {
            judgeList(true);
        }
    }

    void timedOut() {
        const QString within = duration(timing.exchangeTimeoutMs);
        if (socket && socket->state() != QAbstractSocket::ConnectedState) {
            failServer(QStringLiteral("%1 could not be reached within %2").arg(host(), within));
        } else if (reply.isEmpty()) {
            failServer(QStringLiteral("%1 did not answer within %2").arg(host(), within));
        } else if (current->kind == Kind::Login) {
            judgeLogin(true);
        } else {
            failServer(QStringLiteral("%1 did not finish the list within %2 (%3 bytes)")
                           .arg(host(), within)
                           .arg(reply.size()));
        }
    }

    // A login reply counts when it starts with OK; anything else is a refusal once its first line is in.
    void judgeLogin(bool final) {
        if (el::loginAccepted(reply)) {
            succeed({});
            return;
        }
        if (!final && !reply.contains('\r') && !reply.contains('\n')) {
            return;
        }
        current->refused = true;
        failServer(QStringLiteral("%1 refused the %2 (reply \"%3\")")
                       .arg(host(), isLogoff() ? QStringLiteral("logoff") : QStringLiteral("login"), firstLine(reply)));
    }

    void judgeList(bool ended) {
        if (!ended) {
            const bool terminatorNear =
                QByteArrayView(reply).last(std::min<qsizetype>(reply.size(), 8)).contains("+++");
            if (!terminatorNear && reply.size() > ParseEveryReadBelow) {
                return;
            }
        }
        bool incomplete = false;
        QString why;
        std::optional<el::StationList> list = el::parseStationList(reply, ended, &incomplete, &why);
        if (list) {
            succeed(std::move(list));
        } else if (ended) {
            failServer(QStringLiteral("%1 closed the connection without a usable station list (%2)").arg(host(), why));
        } else if (!incomplete) {
            failServer(QStringLiteral("%1 sent a garbled station list (%2)").arg(host(), why));
        }
    }

    void failServer(const QString& what) {
        current->failures << what;
        dropSocket();
        if (++current->attempt < servers.size()) {
            Q_EMIT q.notice(QStringLiteral("directory: %1; trying %2").arg(what, host()));
            tryServer();
        } else {
            finishFailed();
        }
    }

    void succeed(std::optional<el::StationList> list) {
        preferred = (preferred + current->attempt) % servers.size();
        dropSocket();
        Exchange ex = *std::exchange(current, std::nullopt);
        q.reachable_ = true;
        if (ex.kind == Kind::List) {
            listBackoff = timing.backoffFirstMs;
            listRetry.stop();
            install(std::move(*list));
            if (!listRefresh.isActive()) {
                listRefresh.start(timing.listRefreshMs);
            }
            Q_EMIT q.listUpdated();
        } else if (ex.status != el::DirectoryStatus::Off) {
            loginBackoff = timing.backoffFirstMs;
            loginRetry.stop();
            Q_EMIT q.loginFinished(true, {});
            if (!q.hasList_) {
                q.refreshList();
            }
        }
        finish(ex);
    }

    void finishFailed() {
        dropSocket();
        Exchange ex = *std::exchange(current, std::nullopt);
        q.reachable_ = false;
        const QString failures = ex.failures.join(QStringLiteral("; "));
        if (ex.kind == Kind::List) {
            const int delay = std::exchange(listBackoff, std::min(listBackoff * 2, timing.backoffMaxMs));
            listRetry.start(delay);
            const QString kept =
                q.hasList_ ? QStringLiteral("keeping the previous list of %1 stations; ").arg(q.stations_.size())
                           : QString();
            const QString msg = QStringLiteral("directory: station list not loaded: %1; %2next try in %3")
                                    .arg(failures, kept, duration(delay));
            Q_EMIT q.notice(msg);
            Q_EMIT q.listFailed(msg);
        } else if (ex.status == el::DirectoryStatus::Off) {
            Q_EMIT q.notice(QStringLiteral("directory: logoff not confirmed: %1").arg(failures));
        } else {
            const QString hint = ex.refused ? QStringLiteral(": check CALLSIGN and PASSWORD") : QString();
            QString retry;
            if (status && *status != el::DirectoryStatus::Off) {
                const int delay = std::exchange(loginBackoff, std::min(loginBackoff * 2, timing.backoffMaxMs));
                loginRetry.start(delay);
                retry = QStringLiteral("; next try in %1").arg(duration(delay));
            }
            const QString msg = QStringLiteral("directory: login failed: %1%2%3").arg(failures, hint, retry);
            Q_EMIT q.notice(msg);
            Q_EMIT q.loginFinished(false, msg);
        }
        finish(ex);
    }

    void finish(Exchange& ex) {
        schedulePump();
        for (const auto& done : std::as_const(ex.whenDone)) {
            done();
        }
    }

    // Indexes are built once per download so lookups stay cheap on lists of tens of thousands.
    void install(el::StationList&& list) {
        QList<el::StationEntry> stations = std::move(list.stations);
        QHash<QString, qsizetype> byCall;
        QHash<quint32, qsizetype> byAddress;
        byCall.reserve(stations.size());
        byAddress.reserve(stations.size());
        // Backwards, so that the first entry of a callsign or address is the one that stays.
        for (qsizetype i = stations.size() - 1; i >= 0; --i) {
            byCall.insert(stations.at(i).callsign.toUpper(), i);
            bool ok = false;
            const quint32 v4 = stations.at(i).address.toIPv4Address(&ok);
            if (ok) {
                byAddress.insert(v4, i);
            }
        }
        q.stations_ = std::move(stations);
        q.byCall_ = std::move(byCall);
        q.byAddress_ = std::move(byAddress);
        q.hasList_ = true;
        if (!list.message.isEmpty() && list.message != serverMessage) {
            serverMessage = list.message;
            Q_EMIT q.notice(QStringLiteral("directory: message from the server: %1")
                                .arg(printable(serverMessage, MaxServerMessage)));
        }
    }
};

DirectoryClient::DirectoryClient(QStringList servers, QString callsign, QString password, QString description,
                                 const QHostAddress& bind, DirectoryTiming timing, quint16 port, QObject* parent)
    : Directory(parent), d(std::make_unique<Impl>(*this, std::move(servers), std::move(callsign), std::move(password),
                                                  std::move(description), bind, timing, port)) {}

DirectoryClient::~DirectoryClient() {
    // Whoever waits in logOff() hears of the end, even when it comes this way.
    QList<std::function<void()>> pending;
    if (d->current) {
        pending += d->current->whenDone;
    }
    for (const auto& ex : d->queue) {
        pending += ex.whenDone;
    }
    d->current.reset();
    d->queue.clear();
    d->dropSocket();
    for (const auto& done : std::as_const(pending)) {
        done();
    }
}

void DirectoryClient::setStatus(el::DirectoryStatus status) {
    if (d->status == status) {
        return;
    }
    d->status = status;
    // Queued logins carry the old status; the new one replaces them.
    for (auto it = d->queue.begin(); it != d->queue.end();) {
        if (it->kind == Kind::Login) {
            d->finish(*it);
            it = d->queue.erase(it);
        } else {
            ++it;
        }
    }
    d->loginRetry.stop();
    if (status == el::DirectoryStatus::Off) {
        d->reloginTimer.stop();
    } else {
        d->reloginTimer.start(d->timing.reloginMs);
    }
    d->enqueueLogin(status);
}

void DirectoryClient::logOff(int timeoutMs, std::function<void()> done) {
    auto once = std::make_shared<std::function<void()>>(std::move(done));
    auto fire = [once] {
        if (*once) {
            std::exchange(*once, nullptr)();
        }
    };
    QTimer::singleShot(std::max(0, timeoutMs), this, fire);
    const auto isLogoff = [](const Impl::Exchange& e) {
        return e.kind == Kind::Login && e.status == el::DirectoryStatus::Off;
    };
    if (d->status != el::DirectoryStatus::Off) {
        setStatus(el::DirectoryStatus::Off);
    }
    // A logoff already queued or under way will do; otherwise send one more.
    const auto queued = std::find_if(d->queue.begin(), d->queue.end(), isLogoff);
    if (queued != d->queue.end()) {
        queued->whenDone << fire;
    } else if (d->current && isLogoff(*d->current)) {
        d->current->whenDone << fire;
    } else {
        d->enqueueLogin(el::DirectoryStatus::Off);
        d->queue.back().whenDone << fire;
    }
}

void DirectoryClient::refreshList() {
    if (refreshing()) {
        return;
    }
    d->listRetry.stop();
    Impl::Exchange ex;
    ex.kind = Kind::List;
    d->queue.push_back(std::move(ex));
    d->schedulePump();
}

bool DirectoryClient::refreshing() const {
    if (d->current && d->current->kind == Kind::List) {
        return true;
    }
    return std::any_of(d->queue.begin(), d->queue.end(), [](const Impl::Exchange& e) { return e.kind == Kind::List; });
}

std::optional<el::StationEntry> DirectoryClient::find(const QString& callsign) const {
    const auto it = byCall_.constFind(callsign.trimmed().toUpper());
    if (it == byCall_.cend()) {
        return std::nullopt;
    }
    return stations_.at(*it);
}

std::optional<el::StationEntry> DirectoryClient::findByAddress(const QHostAddress& address) const {
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    const auto it = ok ? byAddress_.constFind(v4) : byAddress_.cend();
    if (it == byAddress_.cend()) {
        return std::nullopt;
    }
    return stations_.at(*it);
}
