// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "FakeNetwork.h"
#include "Node.h"
#include "Packets.h"

#include <QSignalSpy>

namespace {
const QString A = QStringLiteral("127.0.0.2"), B = QStringLiteral("127.0.0.3"), C = QStringLiteral("127.0.0.4");
// keep-alive, peer time-out, retry, give up, recall block, list wait, BYE grace, talk end (ms)
constexpr NodeTiming Fast{60, 300, 40, 200, 600, 150, 300, 100};
QByteArray sdes(const char* call, const char* name = "Op") {
    return el::buildSdes(QString::fromLatin1(call), QString::fromLatin1(name));
}
} // namespace

class NodeTest : public QObject {
    Q_OBJECT
    FakeTransport net_;
    std::optional<FakeDirectory> dir_;
    FakeAudioSource source_;
    FakeAudioSink sink_;
    std::unique_ptr<Node> node_;
    std::unique_ptr<QSignalSpy> up_, down_;
    std::optional<NodeReply> reply_;

    void dial(const QString& callsign) {
        reply_.reset();
        node_->connectTo(callsign, [this](const NodeReply& r) { reply_ = r; });
    }
    void accept(const QString& address, const char* call) {
        dir_->add(QString::fromLatin1(call), address);
        net_.receiveControl(address, sdes(call));
        QVERIFY(node_->isConnected(QString::fromLatin1(call)));
    }

private Q_SLOTS:
    void init() {
        node_.reset();
        net_.sent.clear();
        dir_.emplace();
        dir_->add(QStringLiteral("Q1AAA-L"), A);
        dir_->add(QStringLiteral("Q1BSY"), B, el::DirectoryStatus::Busy);
        const auto policy =
            QByteArrayView(QTest::currentDataTag()).startsWith("any") ? AcceptPolicy::Any : AcceptPolicy::Directory;
        node_ = std::make_unique<Node>(
            NodeConfig{QStringLiteral("Q1OUR"), QStringLiteral("Olive"), QStringLiteral("Test info"), 4, policy}, net_,
            *dir_, source_, sink_, Fast);
        up_ = std::make_unique<QSignalSpy>(node_.get(), &Node::connected);
        down_ = std::make_unique<QSignalSpy>(node_.get(), &Node::disconnected);
    }

    // listed: the list is there before the call. at: where the call goes; empty: refused with says.
    void call_data() {
        columns<bool, QString, QString, QString>("listed", "dialled", "at", "says");
        row("IPv4 address", true, C, C, "");
        row("first list comes", false, "Q1AAA-L", A, "");
        row("unknown, found after a refresh", true, "Q1NEW", B, "");
        row("own callsign", true, "Q1OUR", "", "own callsign");
        row("busy", true, "Q1BSY", "", "busy");
        row("unknown after the refresh", true, "Q1NOPE", "", "not in the EchoLink station list");
    }
    void call() {
        const QString at = col<QString>("at"), dialled = col<QString>("dialled");
        dir_->listed = col<bool>("listed");
        dial(dialled);
        QVERIFY(dir_->listed || dir_->refreshes == 1); // no list yet: one is asked for
        dir_->add(QStringLiteral("Q1NEW"), B);
        dir_->answerRefresh();
        QVERIFY(reply_ && reply_->ok == !at.isEmpty());
        QVERIFY2(reply_->message.contains(col<QString>("says")), qPrintable(reply_->message));
        if (at.isEmpty()) {
            QVERIFY(net_.sent.isEmpty());
            return;
        }
        dial(dialled);
        QVERIFY(reply_ && reply_->ok); // joins the call under way
        QVERIFY(net_.sentTo(at, true).contains(sdes("Q1OUR", "Olive")) && up_->isEmpty());
        net_.receiveControl(at, sdes("q1peer", "Alice"));
        net_.receiveControl(at, sdes("q1peer", "Alice")); // a keep-alive, not a second connect
        QVERIFY(up_->size() == 1 && up_->at(0).at(1) == QStringLiteral("Alice") && up_->at(0).at(2) == at);
        QVERIFY(net_.sentTo(at, false).contains(el::buildInfo(QStringLiteral("Test info"))));
    }

    void caller_data() {
        columns<QString, bool>("from", "answered");
        row("directory, listed here", A, true);
        row("directory, listed elsewhere", C, false);
        row("any, unknown", C, true);
    }
    void caller() {
        const bool answered = col<bool>("answered");
        net_.receiveControl(col<QString>("from"), sdes("Q1AAA-L", "Bob"));
        net_.receiveControl(col<QString>("from"), sdes("Q1AAA-L", "Bob"));
        QCOMPARE(up_->size(), answered ? 1 : 0);
        QCOMPARE(net_.sent.isEmpty(), !answered);
        QCOMPARE(dir_->refreshes, answered ? 0 : 1);
    }

    // A peer that missed the end and sends its keep-alive is told with a BYE, not taken back.
    void endings_data() {
        QTest::addColumn<int>("how");
        row("peer's BYE twice", 0);
        row("Disconnect", 1);
        row("DisconnectAll", 2);
        row("shutdown: no signals, no calls", 3);
    }
    void endings() {
        const int how = col<int>("how");
        accept(B, "Q1BBB");
        accept(C, "Q1CCC");
        net_.sent.clear();
        if (how == 0) {
            net_.receiveControl(B, el::buildBye());
            net_.receiveControl(B, el::buildBye());
        } else {
            QVERIFY(how == 3   ? (node_->shutdown(), true)
                    : how == 1 ? node_->disconnect(QStringLiteral("q1bbb")).ok
                               : node_->disconnectAll().ok);
        }
        QCOMPARE(net_.sentTo(B, true), how == 0 ? QList<QByteArray>() : QList<QByteArray>{el::buildBye()});
        QCOMPARE(down_->count({QStringLiteral("Q1BBB")}), how == 3 ? 0 : 1);
        QCOMPARE(node_->connectedCount(), how >= 2 ? 0 : 1);
        net_.sent.clear();
        net_.receiveControl(B, sdes("Q1BBB"));
        QCOMPARE(net_.sentTo(B, true), how == 3 ? QList<QByteArray>() : QList<QByteArray>{el::buildBye()});
        dial(QStringLiteral("Q1AAA-L")); // a node that has shut down calls no one
        QCOMPARE(reply_ && reply_->ok, how != 3);
    }

    void chatAndVoice_oneTalkerRelayedToTheOthers() {
        accept(A, "Q1AAA-L");
        accept(B, "Q1BBB");
        accept(C, "Q1CCC");
        net_.sent.clear();
        QSignalSpy chat(node_.get(), &Node::chatReceived), receiving(node_.get(), &Node::receivingChanged);
        // Garbage from the peer and from a stranger, on both ports: dropped, not heard, nothing connects or ends.
        for (const QByteArray& bad :
             {sdes("Q1BBB").left(13), QByteArray("oNDATAQ1BBB>no end"), QByteArray("\xc0\x03\x00\x01", 4)}) {
            for (const QString& from : {B, QStringLiteral("127.0.0.9")}) {
                net_.receiveControl(from, bad);
                net_.receiveData(from, bad);
            }
        }
        net_.receiveData(B, QByteArray("oNDATAQ1BBB>one\r\n", 18));
        net_.receiveData(QStringLiteral("127.0.0.9"), QByteArray("oNDATAQ1XXX>stranger\r\n", 23));
        QCOMPARE(chat, QList<QVariantList>{{QStringLiteral("Q1BBB>one")}});
        QCOMPARE(net_.sentTo(C, false),
                 QList<QByteArray>{el::buildChat(QStringLiteral("Q1OUR"), QStringLiteral("Q1BBB>one"))});
        net_.sent.clear();
        const QByteArray frames(el::GsmFramesPerPacket * el::GsmFrameBytes, '\xd8');
        net_.receiveData(B, el::buildVoice({el::PayloadGsm, 500, 0, 0}, frames));
        net_.receiveData(C, el::buildVoice({}, QByteArray(frames.size(), '\xd1'))); // not while B talks
        QCOMPARE(sink_.played, QList<QByteArray>{frames});
        for (const QString& to : {A, C}) {
            const auto relayed = el::parseVoice(net_.sentTo(to, false).value(0));
            QVERIFY(relayed && relayed->frames.toByteArray() == frames && relayed->header.sequence == 0);
        }
        QVERIFY(net_.sentTo(B, false).isEmpty() && up_->size() == 3); // no echo to the sender
        QTRY_COMPARE(receiving,
                     (QList<QVariantList>{{true, QStringLiteral("Q1BBB")}, {false, QStringLiteral("Q1BBB")}}));
        QVERIFY(node_->setTransmit(true).ok && source_.running);
        emit source_.framesReady(frames);
        QCOMPARE(el::parseVoice(net_.sentTo(A, false).last())->header.sequence, quint16(1));
        QVERIFY(node_->setTransmit(false).ok && !source_.running);
        net_.receiveControl(C, el::buildBye()); // the conference info lists who is left
        QVERIFY(!el::parseText(net_.sentTo(B, false).last())->text.contains(QLatin1String("Q1CCC")));
        QTRY_COMPARE_WITH_TIMEOUT(down_->size(), 3, 2000); // A and B no longer send keep-alives
    }
};

QTEST_GUILESS_MAIN(NodeTest)
#include "tst_node.moc"
