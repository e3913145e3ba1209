// SPDX-License-Identifier: GPL-3.0-or-later
// DirectoryClient against in-test directory servers on 127.0.0.10 and .11 (inside netns.sh's namespace).
#include "DataRow.h"
#include "DirectoryClient.h"
#include "FakeNetwork.h"

#include <QSignalSpy>

namespace {
const QString First = QStringLiteral("127.0.0.10");
const QString Second = QStringLiteral("127.0.0.11");

std::unique_ptr<DirectoryClient> client(QStringList servers, int timeoutMs = 2000, int reloginMs = 60000) {
    return std::make_unique<DirectoryClient>(std::move(servers), QStringLiteral("q1abc-l"), QStringLiteral("secret"),
                                             QStringLiteral("Test"), QHostAddress(QStringLiteral("127.0.0.2")),
                                             DirectoryTiming{reloginMs, reloginMs * 5 / 2, timeoutMs, 60000, 240000});
}
QString last(const QSignalSpy& spy, int column = 0) {
    return spy.isEmpty() ? QString() : spy.last().at(column).toString();
}
} // namespace

class DirectoryClientTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void login_fromLocalAddress_readsReply_data() {
        columns<QByteArray, QString>("reply", "shown"); // shown empty: accepted
        row("OK with version", QByteArray("OK 2.6\r\n"), "");
        row("refused", QByteArray("BAD\r\nsecond line"),
            "127.0.0.10 refused the login (reply \"BAD\"): check CALLSIGN and PASSWORD");
        row("lower case ok", QByteArray("ok"), "(reply \"ok\")");
        row("OK after a space", QByteArray(" OK"), "(reply \" OK\")");
        row("control bytes replaced, cut at 80", QByteArray("\x01\x7f") + QByteArray(100, 'A'),
            QStringLiteral("(reply \"??") + QString(78, u'A') + QStringLiteral("\")"));
    }
    void login_fromLocalAddress_readsReply() {
        QFETCH(QByteArray, reply);
        QFETCH(QString, shown);
        DirectoryServer server(First);
        server.loginReply = reply;
        auto c = client({First});
        QSignalSpy finished(c.get(), &Directory::loginFinished);
        c->setStatus(el::DirectoryStatus::Busy);
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(server.requests.first().startsWith("lQ1ABC-L\xac\xacsecret\rBUSY3.40("));
        QCOMPARE(server.peer, QHostAddress(QStringLiteral("127.0.0.2")));
        QCOMPARE(c->reachable(), shown.isEmpty());
        QCOMPARE(finished.first().at(0).toBool(), shown.isEmpty());
        QVERIFY2(last(finished, 1).contains(shown), qPrintable(last(finished, 1)));
    }

    void failover_usesNextServerAndStaysThere_data() {
        columns<int, bool, QString>("mode", "list", "why");
        row("login, connection refused", int(NoServer), false, "127.0.0.10 refused the connection");
        row("list, closes at once", int(CloseAtOnce), true, "127.0.0.10 closed the connection without");
    }
    void failover_usesNextServerAndStaysThere() {
        QFETCH(bool, list);
        QFETCH(QString, why);
        DirectoryServer bad(First, ServerMode(col<int>("mode")));
        DirectoryServer good(Second);
        auto c = client({First, Second}, 300);
        QSignalSpy notices(c.get(), &DirectoryClient::notice);
        QSignalSpy done(c.get(), list ? SIGNAL(listUpdated()) : SIGNAL(loginFinished(bool, QString)));
        const auto exchange = [&](el::DirectoryStatus status) { list ? c->refreshList() : c->setStatus(status); };
        exchange(el::DirectoryStatus::Online);
        QTRY_COMPARE(done.count(), 1);
        QVERIFY2(last(notices).contains(why) && last(notices).contains(Second), qPrintable(last(notices)));
        QTRY_VERIFY(!c->refreshing());
        const int tried = bad.connections;
        exchange(el::DirectoryStatus::Busy);
        QTRY_COMPARE(done.count(), 2);
        QCOMPARE(bad.connections, tried);
    }

    // A first list, then a second download of the reply given: read once, or rejected with the first list kept.
    void listDownload_readsOnce_keepsOldListOnFailure_data() {
        columns<int, QByteArray, int, bool, int, int, QString>("mode", "reply", "chunk", "closeAfter", "timeoutMs",
                                                               "count", "why"); // why empty: read
        row("+++, connection kept open", int(Answer), listOf(4), 0, false, 2000, 4, "");
        row("byte by byte, no +++", int(Answer), listOf(5, false), 1, true, 2000, 5, "");
        row("50000 stations", int(Answer), listOf(50000), 0, true, 2000, 50000, "");
        row("not a list", int(Answer), QByteArray("@@@\nnonsense\n"), 0, true, 2000, 3, "sent a garbled station list");
        row("neither +++ nor close", int(Answer), listOf(3, false), 0, false, 300, 3,
            "did not finish the list within 300 ms");
        row("endless list past the byte limit", int(Endless), QByteArray(), 0, false, 20000, 3,
            "sent more than 16777216 bytes");
    }
    void listDownload_readsOnce_keepsOldListOnFailure() {
        QFETCH(int, timeoutMs);
        QFETCH(int, count);
        QFETCH(QString, why);
        DirectoryServer server(First);
        auto c = client({First}, timeoutMs);
        QSignalSpy updated(c.get(), &Directory::listUpdated);
        QSignalSpy failed(c.get(), &Directory::listFailed);
        QSignalSpy notices(c.get(), &DirectoryClient::notice);
        c->refreshList();
        QVERIFY(updated.wait());
        server.mode = ServerMode(col<int>("mode"));
        server.listReply = col<QByteArray>("reply");
        server.chunk = col<int>("chunk") ? col<int>("chunk") : server.chunk;
        server.closeAfter = col<bool>("closeAfter");
        c->refreshList();
        c->refreshList(); // under way already: no second download
        // An event loop of its own: QTRY's pauses would pace the server.
        QVERIFY((why.isEmpty() ? updated : failed).wait(timeoutMs + 10000));
        QTest::qWait(50);
        QCOMPARE(updated.count() + failed.count(), 2);
        QCOMPARE(server.requests, (QList<QByteArray>{"s", "s"}));
        QVERIFY(c->hasList() && !c->refreshing() && c->reachable() == why.isEmpty());
        QCOMPARE(c->stationCount(), count);
        QCOMPARE(c->find(QStringLiteral("q1s%1").arg(count - 1))->id, quint32(count - 1));
        QCOMPARE(c->findByAddress(QHostAddress(QStringLiteral("::ffff:127.1.0.2")))->callsign, QStringLiteral("Q1S2"));
        QVERIFY(!c->find(QStringLiteral("Q1S")));
        QVERIFY2(last(failed).contains(why), qPrintable(last(failed)));
        QCOMPARE(last(failed).contains(QStringLiteral("keeping the previous list of 3 stations")), !why.isEmpty());
        QCOMPARE(last(notices), last(failed));
    }

    // Logging off is an OFF login; the server here never answers it, so done comes at logOff's own time-out.
    void online_logsInAgainOnSchedule_untilLogOff() {
        DirectoryServer server(First);
        auto c = client({First}, 300, 100);
        c->setStatus(el::DirectoryStatus::Online);
        QTRY_VERIFY(server.requests.join().count("ONLINE3.38(") >= 3 && server.requests.count("s") >= 2);
        QCOMPARE(server.requests.at(1), QByteArray("s")); // the list right after the first login
        server.mode = Silent;
        int done = 0;
        c->logOff(100, [&done] { ++done; });
        QTRY_COMPARE(done, 1);
        const int logins = server.requests.join().count("\xac\xac");
        QTest::qWait(400);
        QCOMPARE(done, 1);
        QCOMPARE(server.requests.join().count("\xac\xac"), logins);
        QCOMPARE(server.requests.join().count("\rOFF-V3.40\r"), 1);
    }
};

QTEST_GUILESS_MAIN(DirectoryClientTest)
#include "tst_directoryclient.moc"
