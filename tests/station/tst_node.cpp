// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "EchoLinkBus.h"
#include "FakeNetwork.h"
#include "Node.h"
#include "Packets.h"

#include <QSignalSpy>
#include <QtTest>

using el::DirectoryStatus;

namespace {

const QString A = QStringLiteral("127.0.0.2");
const QString B = QStringLiteral("127.0.0.3");
const QString C = QStringLiteral("127.0.0.4");

// keep-alive, peer time-out, retry, give up, recall block, list wait, BYE grace, talk end (ms)
constexpr NodeTiming Fast{60, 300, 40, 200, 600, 150, 300, 100};

QByteArray sdes(const char* call, const char* name = "Op") {
    return el::buildSdes(QString::fromLatin1(call), QString::fromLatin1(name));
}

} // namespace

class NodeTest : public QObject {
    Q_OBJECT

    FakeTransport net_;
    FakeDirectory dir_;
    FakeAudioSource source_;
    FakeAudioSink sink_;
    std::unique_ptr<Node> node_;
    std::unique_ptr<QSignalSpy> up_, down_, chat_;

    void makeNode(NodeConfig config = {}) {
        if (config.callsign.isEmpty()) {
            config.callsign = QStringLiteral("q1our");
            config.name = QStringLiteral("Olive");
            config.info = QStringLiteral("Parlevox test station");
        }
        node_ = std::make_unique<Node>(config, net_, dir_, source_, sink_, Fast);
        up_ = std::make_unique<QSignalSpy>(node_.get(), &Node::connected);
        down_ = std::make_unique<QSignalSpy>(node_.get(), &Node::disconnected);
        chat_ = std::make_unique<QSignalSpy>(node_.get(), &Node::chatReceived);
    }
    NodeReply call(const QString& callsign) {
        std::optional<NodeReply> answer;
        node_->connectTo(callsign, [&](const NodeReply& r) { answer = r; });
        (void)QTest::qWaitFor([&] { return answer.has_value(); }, 2000);
        return answer.value_or(NodeReply::failure("none", QStringLiteral("no answer")));
    }
    // A peer calls us and we answer it.
    void accepted(const QString& address, const char* call) {
        dir_.add(QString::fromLatin1(call), address);
        const auto before = up_->size();
        net_.receiveControl(address, sdes(call));
        QCOMPARE(up_->size(), before + 1);
    }
    int countSdes(const QString& to) const { return static_cast<int>(net_.sentTo(to, true).count(node_sdes())); }
    QByteArray node_sdes() const { return el::buildSdes(QStringLiteral("Q1OUR"), QStringLiteral("Olive")); }

private Q_SLOTS:
    void init() {
        net_.sent.clear();
        sink_.played.clear();
        source_.running = false;
        dir_.stations.clear();
        dir_.listed = true;
        dir_.isReachable = true;
        dir_.autoAnswer = true;
        dir_.busyRefreshing = false;
        dir_.refreshes = 0;
        dir_.add(QStringLiteral("Q1AAA-L"), A);
        makeNode();
    }
    void cleanup() { node_.reset(); }

    void callAnswered_connectsOnce() {
        QSignalSpy notices(node_.get(), &Node::notice);
        QVERIFY(call(QStringLiteral(" q1aaa-l ")).ok);
        QCOMPARE(notices.value(0).value(0).toString(), QStringLiteral("calling Q1AAA-L at 127.0.0.2"));
        QCOMPARE(net_.sentTo(A, true).value(0), node_sdes());
        QVERIFY(call(QStringLiteral("Q1AAA-L")).ok); // joins the call under way
        QCOMPARE(node_->connectedCount(), 0);
        QVERIFY(!node_->isConnected(QStringLiteral("Q1AAA-L")));
        net_.receiveControl(A, sdes("Q1AAA-L", "Alice"));
        QCOMPARE(up_->size(), 1);
        QCOMPARE(up_->at(0), (QVariantList{QStringLiteral("Q1AAA-L"), QStringLiteral("Alice"), A}));
        QVERIFY(node_->isConnected(QStringLiteral("q1aaa-l")));
        QVERIFY(net_.sentTo(A, false).contains(el::buildInfo(QStringLiteral("Parlevox test station"))));
        net_.receiveControl(A, sdes("Q1AAA-L", "Alice")); // a keep-alive, not a second connect
        QCOMPARE(up_->size(), 1);
        QCOMPARE(node_->connectedCount(), 1);
    }

    void callByAddress_takesCallsignFromAnswer() {
        QVERIFY(call(C).ok);
        net_.receiveControl(C, sdes("q1ccc", "Carl"));
        QCOMPARE(up_->value(0).value(0).toString(), QStringLiteral("Q1CCC"));
        QVERIFY(node_->isConnected(QStringLiteral("Q1CCC")));
    }

    void refusedCall_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("says");
        row("own callsign", "Q1OUR", EchoLinkBus::ErrorRefused, "own callsign");
        row("busy", "Q1BSY", EchoLinkBus::ErrorRefused, "busy");
        row("off line", "Q1OFF", EchoLinkBus::ErrorRefused, "off line");
        row("unknown after refresh", "Q1NOPE", EchoLinkBus::ErrorRefused, "not in the EchoLink station list");
        row("empty", "  ", EchoLinkBus::ErrorInvalidArgument, "no callsign");
    }
    void refusedCall() {
        QFETCH(QString, callsign);
        QFETCH(QString, error);
        QFETCH(QString, says);
        dir_.add(QStringLiteral("Q1BSY"), B, DirectoryStatus::Busy);
        dir_.add(QStringLiteral("Q1OFF"), C, DirectoryStatus::Off);
        const NodeReply reply = call(callsign);
        QVERIFY(!reply.ok);
        QCOMPARE(reply.errorName, error);
        QVERIFY2(reply.message.contains(says), qPrintable(reply.message));
        QVERIFY(net_.sent.isEmpty());
    }

    void unknownCallsign_refreshesListOnce_thenCalls() {
        dir_.autoAnswer = false;
        std::optional<NodeReply> answer;
        node_->connectTo(QStringLiteral("Q1NEW"), [&](const NodeReply& r) { answer = r; });
        QCOMPARE(dir_.refreshes, 1);
        QVERIFY(!answer);
        dir_.add(QStringLiteral("Q1NEW"), B);
        dir_.answerRefresh(true);
        QVERIFY(answer && answer->ok);
        QCOMPARE(countSdes(B), 1);
    }

    void connectionLimit_refusesCallsAndIgnoresCallers() {
        NodeConfig config;
        config.callsign = QStringLiteral("Q1OUR");
        config.maxConnections = 1;
        makeNode(config);
        accepted(B, "Q1BBB");
        const NodeReply reply = call(QStringLiteral("Q1AAA-L"));
        QVERIFY(!reply.ok && reply.message.contains(QLatin1String("limit of 1")));
        dir_.add(QStringLiteral("Q1CCC"), C);
        net_.receiveControl(C, sdes("Q1CCC"));
        QVERIFY(net_.sentTo(C, true).isEmpty());
        QCOMPARE(node_->connectedCount(), 1);
    }

    void unansweredCall_retriesEndsQuietly_andBlocksRecall() {
        QVERIFY(call(QStringLiteral("Q1AAA-L")).ok);
        QTRY_VERIFY_WITH_TIMEOUT(countSdes(A) >= 3, 1000);
        QTest::qWait(Fast.giveUpMs + 50);
        const int sent = countSdes(A);
        QTest::qWait(120);
        QCOMPARE(countSdes(A), sent); // given up
        QVERIFY(up_->isEmpty() && down_->isEmpty());
        const NodeReply again = call(QStringLiteral("q1aaa-l"));
        QVERIFY(!again.ok);
        QVERIFY2(again.message.contains(QLatin1String("did not answer")), qPrintable(again.message));
        QTest::qWait(Fast.recallBlockMs);
        QVERIFY(call(QStringLiteral("Q1AAA-L")).ok);
    }

    void firstListLoading_callWaitsForIt_data() {
        QTest::addColumn<bool>("listComes");
        QTest::addColumn<int>("answerAfterMs");
        QTest::addColumn<bool>("replyOk");
        QTest::addColumn<bool>("called");
        row("list in time", true, 20, true, true);
        row("list late: answered, still called", true, 400, true, true);
        row("no directory reachable", false, 20, false, false);
    }
    void firstListLoading_callWaitsForIt() {
        QFETCH(bool, listComes);
        QFETCH(int, answerAfterMs);
        QFETCH(bool, replyOk);
        QFETCH(bool, called);
        dir_.listed = false;
        dir_.autoAnswer = false;
        std::optional<NodeReply> answer;
        node_->connectTo(QStringLiteral("Q1AAA-L"), [&](const NodeReply& r) { answer = r; });
        QVERIFY(dir_.busyRefreshing);
        QTest::qWait(answerAfterMs);
        dir_.answerRefresh(listComes);
        QVERIFY(answer.has_value());
        QCOMPARE(answer->ok, replyOk);
        QCOMPARE(countSdes(A) > 0, called);
    }

    void caller_data() {
        QTest::addColumn<int>("policy");
        QTest::addColumn<QString>("listedAt"); // empty: not listed
        QTest::addColumn<bool>("answered");
        const int dir = int(AcceptPolicy::Directory), any = int(AcceptPolicy::Any), none = int(AcceptPolicy::None);
        row("directory, listed here", dir, B, true);
        row("directory, listed elsewhere", dir, C, false);
        row("directory, unknown", dir, "", false);
        row("any, unknown", any, "", true);
        row("none, listed", none, B, false);
    }
    void caller() {
        QFETCH(int, policy);
        QFETCH(QString, listedAt);
        QFETCH(bool, answered);
        NodeConfig config;
        config.callsign = QStringLiteral("Q1OUR");
        config.accept = AcceptPolicy(policy);
        makeNode(config);
        if (!listedAt.isEmpty()) {
            dir_.add(QStringLiteral("Q1BBB"), listedAt);
        }
        net_.receiveControl(B, sdes("Q1BBB", "Bob"));
        QCOMPARE(up_->size(), answered ? 1 : 0);
        // A caller we do not take hears nothing at all, on either port.
        QCOMPARE(net_.sentTo(B, true).isEmpty() && net_.sentTo(B, false).isEmpty(), !answered);
        QCOMPARE(dir_.refreshes, policy == int(AcceptPolicy::Directory) && !answered ? 1 : 0);
        if (!answered) {
            net_.receiveControl(B, sdes("Q1BBB", "Bob")); // its retry within seconds: no second download
            QCOMPARE(dir_.refreshes, policy == int(AcceptPolicy::Directory) ? 1 : 0);
        }
    }

    void keepAliveAndSilence() {
        accepted(B, "Q1BBB");
        const int first = countSdes(B);
        for (int i = 0; i < 6; ++i) { // the peer's keep-alives hold it past the time-out
            QTest::qWait(Fast.peerTimeoutMs / 3);
            net_.receiveControl(B, sdes("Q1BBB"));
        }
        QVERIFY(countSdes(B) >= first + 3);
        QVERIFY(down_->isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(down_->size(), 1, 2000);
        QCOMPARE(down_->at(0).at(0).toString(), QStringLiteral("Q1BBB"));
        QTest::qWait(100);
        QCOMPARE(down_->size(), 1);
        QCOMPARE(node_->connectedCount(), 0);
    }

    void endings_giveOneDisconnected_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("byeSent");
        row("peer's BYE", "bye", false);
        row("Disconnect", "disconnect", true);
        row("DisconnectAll", "all", true);
    }
    void endings_giveOneDisconnected() {
        QFETCH(QString, how);
        QFETCH(bool, byeSent);
        accepted(B, "Q1BBB");
        accepted(C, "Q1CCC");
        net_.sent.clear();
        if (how == QLatin1String("bye")) {
            net_.receiveControl(B, el::buildBye());
            net_.receiveControl(B, el::buildBye());
        } else if (how == QLatin1String("disconnect")) {
            QVERIFY(node_->disconnect(QStringLiteral("q1bbb")).ok);
            QCOMPARE(node_->disconnect(QStringLiteral("Q1BBB")).errorName,
                     QString::fromLatin1(EchoLinkBus::ErrorNotConnected));
        } else {
            QVERIFY(node_->disconnectAll().ok);
        }
        QCOMPARE(net_.sentTo(B, true).contains(el::buildBye()), byeSent);
        QCOMPARE(down_->count({QStringLiteral("Q1BBB")}), 1);
        QCOMPARE(node_->connectedCount(), how == QLatin1String("all") ? 0 : 1);
        // A peer that missed the end and sends its keep-alive is told with a BYE, not taken back.
        net_.sent.clear();
        net_.receiveControl(B, sdes("Q1BBB"));
        QCOMPARE(net_.sentTo(B, true), QList<QByteArray>{el::buildBye()});
        QCOMPARE(up_->size(), 2);
    }

    void chat() {
        QCOMPARE(node_->sendChat(QStringLiteral("hi")).errorName, QString::fromLatin1(EchoLinkBus::ErrorNotConnected));
        accepted(B, "Q1BBB");
        accepted(C, "Q1CCC");
        net_.sent.clear();
        QVERIFY(node_->sendChat(QStringLiteral("hello all")).ok);
        const QByteArray out = el::buildChat(QStringLiteral("Q1OUR"), QStringLiteral("hello all"));
        QCOMPARE(net_.sentTo(B, false), QList<QByteArray>{out});
        QCOMPARE(net_.sentTo(C, false), QList<QByteArray>{out});

        net_.sent.clear();
        net_.receiveData(B, QByteArray("oNDATAQ1BBB>one\rtwo\r\n", 22)); // NUL included
        net_.receiveData(B, QByteArray("oNDATA\rJust info\r", 18));
        net_.receiveData(B, QByteArray("oNDATAQ1AAA-L>Q1DDD>relayed\n\n\r\n", 32)); // as a node relays it
        net_.receiveData(QStringLiteral("127.0.0.9"), QByteArray("oNDATAQ1XXX>stranger\r\n", 23));
        QCOMPARE(chat_->size(), 2);
        QCOMPARE(chat_->at(0).at(0).toString(), QStringLiteral("Q1BBB>one\rtwo"));
        QCOMPARE(chat_->at(1).at(0).toString(), QStringLiteral("Q1AAA-L>Q1DDD>relayed"));
        // The conference hears it with our callsign in front; the sender gets no echo.
        QCOMPARE(net_.sentTo(C, false).value(0),
                 el::buildChat(QStringLiteral("Q1OUR"), QStringLiteral("Q1BBB>one\rtwo")));
        QVERIFY(net_.sentTo(B, false).isEmpty());
    }

    void conferenceInfo_listsEveryoneOnChange() {
        accepted(B, "Q1BBB");
        net_.sent.clear();
        accepted(C, "Q1CCC");
        for (const QString& to : {B, C}) {
            const QList<QByteArray> data = net_.sentTo(to, false);
            QVERIFY(!data.isEmpty());
            const QString info = el::parseText(data.last())->text;
            QVERIFY2(info.contains(QLatin1String("Q1OUR")) && info.contains(QLatin1String("Q1BBB")) &&
                         info.contains(QLatin1String("Q1CCC")),
                     qPrintable(info));
        }
        net_.sent.clear();
        net_.receiveControl(C, el::buildBye());
        QVERIFY(!el::parseText(net_.sentTo(B, false).value(0))->text.contains(QLatin1String("Q1CCC")));
    }

    void voice_oneTalkerRelayedRenumbered() {
        accepted(A, "Q1AAA-L");
        accepted(B, "Q1BBB");
        accepted(C, "Q1CCC");
        net_.sent.clear();
        QSignalSpy receiving(node_.get(), &Node::receivingChanged);
        const QByteArray frames(el::GsmFramesPerPacket * el::GsmFrameBytes, '\xd8');
        el::VoiceHeader header;
        header.sequence = 500;
        net_.receiveData(B, el::buildVoice(header, frames));
        header.sequence = 7;
        net_.receiveData(C, el::buildVoice(header, QByteArray(frames.size(), '\xd1'))); // not while B talks
        QCOMPARE(sink_.played.size(), 1);
        QCOMPARE(sink_.played.at(0).first, frames);
        for (const QString& to : {A, C}) {
            const auto relayed = el::parseVoice(net_.sentTo(to, false).value(0));
            QVERIFY(relayed);
            QCOMPARE(relayed->frames.toByteArray(), frames);
            QCOMPARE(relayed->header.sequence, quint16(0));
        }
        QVERIFY(net_.sentTo(B, false).isEmpty());
        QCOMPARE(receiving, (QList<QVariantList>{{true, QStringLiteral("Q1BBB")}}));
        QVERIFY(node_->isReceiving());
        QTRY_COMPARE(receiving.size(), 2); // quiet for a moment: the transmission is over
        QCOMPARE(receiving.at(1), (QVariantList{false, QStringLiteral("Q1BBB")}));
        net_.receiveData(C, el::buildVoice(header, frames)); // now C has the floor, until it drops
        net_.receiveControl(C, el::buildBye());
        QCOMPARE(receiving.size(), 4);
        QCOMPARE(receiving.at(3), (QVariantList{false, QStringLiteral("Q1CCC")}));
        QVERIFY(!node_->isReceiving());
        // Our own voice goes to everyone while transmitting.
        QVERIFY(node_->setTransmit(true).ok && source_.running && node_->isTransmitting());
        source_.deliver(frames);
        QCOMPARE(el::parseVoice(net_.sentTo(A, false).last())->header.sequence, quint16(2));
        QCOMPARE(el::parseVoice(net_.sentTo(B, false).last())->header.sequence, quint16(1));
        QVERIFY(node_->setTransmit(false).ok && !source_.running);
    }

    void hostilePackets_leaveConnectionsIntact_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("control");
        const QByteArray good = sdes("Q1BBB");
        row("empty control", QByteArray(), true);
        row("truncated SDES", good.left(13), true);
        row("version 2 SDES", QByteArray(good).replace(0, 1, "\x80"), true);
        row("item length past end", good.left(good.size() - 4) + QByteArray("\x02\xff", 2), true);
        row("oversized", QByteArray(70000, '\xc0'), true);
        row("text without NUL", QByteArray("oNDATAQ1BBB>no end"), false);
        row("short text", QByteArray("oN"), false);
        row("short voice", QByteArray("\xc0\x03\x00\x01", 4), false);
        row("speex voice", QByteArray(162, '\0').replace(0, 2, "\xc0\x96"), false);
        row("NULs", QByteArray(64, '\0'), false);
    }
    void hostilePackets_leaveConnectionsIntact() {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, control);
        accepted(B, "Q1BBB");
        for (int i = 0; i < 2000; ++i) { // a flood, from the peer and from a stranger
            for (const QString& from : {B, QStringLiteral("127.0.0.66")}) {
                if (control) {
                    net_.receiveControl(from, datagram);
                } else {
                    net_.receiveData(from, datagram);
                }
            }
        }
        QVERIFY(node_->isConnected(QStringLiteral("Q1BBB")));
        QVERIFY(down_->isEmpty() && chat_->isEmpty() && sink_.played.isEmpty());
        QCOMPARE(up_->size(), 1);
    }

    void shutdown_byesEveryoneWithoutSignals() {
        accepted(B, "Q1BBB");
        QVERIFY(call(QStringLiteral("Q1AAA-L")).ok);
        node_->shutdown();
        QVERIFY(net_.sentTo(A, true).contains(el::buildBye()));
        QVERIFY(net_.sentTo(B, true).contains(el::buildBye()));
        QVERIFY(down_->isEmpty());
        QCOMPARE(node_->connectedCount(), 0);
        QVERIFY(!call(QStringLiteral("Q1AAA-L")).ok);
    }
};

QTEST_GUILESS_MAIN(NodeTest)
#include "tst_node.moc"
