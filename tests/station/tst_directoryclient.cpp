// SPDX-License-Identifier: GPL-3.0-or-later
// DirectoryClient against in-test directory servers on 127.0.0.10 and .11 (run inside a private network
// namespace by netns.sh): failover, back-off, schedules, hostile replies and list bounds.
#include "DataRow.h"
#include "DirectoryClient.h"
#include "FakeNetwork.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString First = QStringLiteral("127.0.0.10");
const QString Second = QStringLiteral("127.0.0.11");
const QHostAddress Local(QStringLiteral("127.0.0.2"));

// A station list as a directory sends it; the stations' addresses are only data, never contacted.
QByteArray listOf(int count, bool endMarker = true, int listedCount = -1) {
    QByteArray out = "@@@\n" + QByteArray::number(listedCount < 0 ? count : listedCount) + '\n';
    for (int i = 0; i < count; ++i) {
        out += "Q1S" + QByteArray::number(i) + "\nstation " + QByteArray::number(i) + " [ON 12:34]\n" +
               QByteArray::number(1000 + i) + "\n127.1." + QByteArray::number(i / 256) + '.' +
               QByteArray::number(i % 256) + '\n';
    }
    return endMarker ? out + "+++" : out;
}

struct Server : DirectoryServer {
    explicit Server(const QString& address, ServerMode m = Answer) : DirectoryServer(address, m) {
        listReply = listOf(3);
    }
};

// Nothing is scheduled within a test unless the test shortens it.
DirectoryTiming timing(int exchangeTimeoutMs = 2000) {
    return {60000, 60000, exchangeTimeoutMs, 60000, 60000};
}

std::unique_ptr<DirectoryClient> client(QStringList servers, DirectoryTiming t = timing()) {
    return std::make_unique<DirectoryClient>(std::move(servers), QStringLiteral("q1abc-l"), QStringLiteral("secret"),
                                             QStringLiteral("Test station"), Local, t);
}

QString lastArg(const QSignalSpy& spy, int column = 0) {
    return spy.isEmpty() ? QString() : spy.last().at(column).toString();
}

} // namespace

class DirectoryClientTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void login_sendsLoginFromLocalAddressAndReadsReply_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("shown");
        const int online = int(el::DirectoryStatus::Online);
        row("online, OK", online, QByteArray("OK"), true, "");
        row("busy, OK with version", int(el::DirectoryStatus::Busy), QByteArray("OK 2.6\r\n"), true, "");
        row("refused", online, QByteArray("BAD"), false,
            "127.0.0.10 refused the login (reply \"BAD\"): check CALLSIGN and PASSWORD");
        row("only first line shown", online, QByteArray("NO\r\nsecond line"), false, "(reply \"NO\")");
        row("OK not leading", online, QByteArray(" OK"), false, "(reply \" OK\")");
        row("control bytes replaced, cut at 80", online, QByteArray("\x01\x7f") + QByteArray(100, 'A'), false,
            QStringLiteral("(reply \"??") + QString(78, u'A') + QStringLiteral("\")"));
    }
    void login_sendsLoginFromLocalAddressAndReadsReply() {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(bool, accepted);
        QFETCH(QString, shown);
        Server server(First);
        server.loginReply = reply;
        auto c = client({First});
        QSignalSpy finished(c.get(), &Directory::loginFinished);
        QSignalSpy notices(c.get(), &DirectoryClient::notice);
        const QTime before = QTime::currentTime();
        c->setStatus(el::DirectoryStatus(status));
        QTRY_COMPARE(finished.count(), 1);
        const auto sent = [&](QTime t) {
            return el::buildLogin(QStringLiteral("q1abc-l"), QStringLiteral("secret"), el::DirectoryStatus(status), t,
                                  QStringLiteral("Test station"));
        };
        QVERIFY(server.requests.first() == sent(before) || server.requests.first() == sent(QTime::currentTime()));
        QCOMPARE(server.peer, Local);
        QCOMPARE(finished.first().at(0).toBool(), accepted);
        QCOMPARE(c->reachable(), accepted);
        if (!accepted) {
            QVERIFY2(lastArg(finished, 1).contains(shown), qPrintable(lastArg(finished, 1)));
            QCOMPARE(lastArg(notices), lastArg(finished, 1));
        }
    }

    void failover_usesNextServerAndStartsThereNextTime_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("list");
        QTest::addColumn<QByteArray>("garbage");
        QTest::addColumn<QString>("why");
        const QByteArray none;
        row("login, connection refused", int(NoServer), false, none, "127.0.0.10 refused the connection");
        row("login, never answers", int(Silent), false, none, "127.0.0.10 did not answer within 300 ms");
        row("login, garbage", int(Answer), false, QByteArray("\xff\xfe\0x\n", 5), "refused the login (reply \"??");
        row("login, closes at once", int(CloseAtOnce), false, none, "127.0.0.10 closed the connection without");
        row("list, never answers", int(Silent), true, none, "127.0.0.10 did not answer within 300 ms");
        row("list, garbage", int(Answer), true, QByteArray("HTTP/1.0 400 Bad\r\n\r\n"), "garbled station list");
        row("list, closes at once", int(CloseAtOnce), true, none, "127.0.0.10 closed the connection without");
    }
    void failover_usesNextServerAndStartsThereNextTime() {
        QFETCH(int, mode);
        QFETCH(bool, list);
        QFETCH(QByteArray, garbage);
        QFETCH(QString, why);
        Server bad(First, ServerMode(mode));
        bad.loginReply = bad.listReply = garbage;
        Server good(Second);
        auto c = client({First, Second}, timing(300));
        QSignalSpy notices(c.get(), &DirectoryClient::notice);
        QSignalSpy finished(c.get(), &Directory::loginFinished);
        QSignalSpy updated(c.get(), &Directory::listUpdated);
        const auto exchange = [&](el::DirectoryStatus status) { list ? c->refreshList() : c->setStatus(status); };
        exchange(el::DirectoryStatus::Online);
        QTRY_COMPARE(list ? updated.count() : finished.count(), 1);
        QVERIFY(list || finished.first().at(0).toBool());
        QVERIFY2(lastArg(notices).contains(why) && lastArg(notices).contains(Second), qPrintable(lastArg(notices)));
        QTRY_VERIFY(!c->refreshing());
        const int tried = bad.connections;
        exchange(el::DirectoryStatus::Busy);
        QTRY_COMPARE(list ? updated.count() : finished.count(), 2);
        QCOMPARE(bad.connections, tried);
        QCOMPARE(good.requests.size(), list ? 2 : 3); // a login is followed by the first list download
    }

    void allServersFail_noticeNamesEachAndRetryBacksOff() {
        Server first(First, NoServer);
        Server second(Second, NoServer);
        DirectoryTiming t = timing();
        t.backoffFirstMs = 100;
        t.backoffMaxMs = 400;
        auto c = client({First, Second}, t);
        QSignalSpy finished(c.get(), &Directory::loginFinished);
        QElapsedTimer clock;
        QList<qint64> at;
        connect(c.get(), &Directory::loginFinished, this, [&] { at << clock.elapsed(); });
        clock.start();
        c->setStatus(el::DirectoryStatus::Online);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 4, 5000);
        QCOMPARE(lastArg(finished, 1), QStringLiteral("directory: login failed: 127.0.0.10 refused the connection; "
                                                      "127.0.0.11 refused the connection; next try in 400 ms"));
        const QList<int> delays{100, 200, 400};
        for (int i = 0; i < delays.size(); ++i) {
            QVERIFY(!finished.at(i).at(0).toBool());
            QVERIFY(finished.at(i).at(1).toString().endsWith(QStringLiteral("next try in %1 ms").arg(delays[i])));
            QVERIFY2(at[i + 1] - at[i] >= delays[i] * 9 / 10, qPrintable(QString::number(at[i + 1] - at[i])));
        }
        Server back(Second);
        QTRY_VERIFY_WITH_TIMEOUT(finished.last().at(0).toBool(), 3000);
        QVERIFY(c->reachable());
    }

    void listDownload_readsWholeListOnce_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<bool>("closeAfter");
        QTest::addColumn<int>("count");
        row("+++, server keeps connection open", listOf(3), 0, false, 3);
        row("no +++, server closes at end", listOf(3, false), 0, true, 3);
        row("many 3-byte segments", listOf(20), 3, true, 20);
        row("byte by byte, no +++", listOf(5, false), 1, true, 5);
        row("50000 stations", listOf(50000), 0, true, 50000);
    }
    void listDownload_readsWholeListOnce() {
        QFETCH(QByteArray, reply);
        QFETCH(int, chunk);
        QFETCH(bool, closeAfter);
        QFETCH(int, count);
        Server server(First);
        server.listReply = reply;
        server.chunk = chunk;
        server.closeAfter = closeAfter;
        auto c = client({First});
        QSignalSpy updated(c.get(), &Directory::listUpdated);
        QSignalSpy failed(c.get(), &Directory::listFailed);
        c->refreshList();
        QVERIFY(c->refreshing());
        c->refreshList();             // under way already: no second download
        QVERIFY(updated.wait(10000)); // an event loop of its own: QTRY's pauses would pace the server
        QTest::qWait(50);
        QCOMPARE(updated.count(), 1);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(server.requests, QList<QByteArray>{"s"});
        QVERIFY(c->hasList() && !c->refreshing() && c->reachable());
        QCOMPARE(c->stationCount(), count);
        QCOMPARE(c->find(QStringLiteral("Q1S%1").arg(count - 1))->id, quint32(1000 + count - 1));
    }

    void badList_isRejectedAndOldListKept_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("close");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QString>("why");
        const QByteArray none;
        row("not a list", int(Answer), QByteArray("@@@\nnonsense\n"), true, 2000, "sent a garbled station list");
        row("fewer entries than counted, then close", int(Answer), listOf(3, false, 5), true, 2000,
            "closed the connection without a usable station list (list cut short)");
        row("+++ before the count is reached", int(Answer), listOf(3, true, 4), true, 2000, "garbled station list");
        row("counted entries, neither +++ nor close", int(Answer), listOf(3, false), false, 300,
            "did not finish the list within 300 ms");
        row("never answers", int(Silent), none, false, 300, "did not answer within 300 ms");
        row("endless list past the byte limit", int(Endless), none, false, 20000, "sent more than 16777216 bytes");
    }
    void badList_isRejectedAndOldListKept() {
        QFETCH(int, mode);
        QFETCH(QByteArray, reply);
        QFETCH(bool, close);
        QFETCH(int, timeoutMs);
        QFETCH(QString, why);
        Server server(First);
        auto c = client({First}, timing(timeoutMs));
        QSignalSpy updated(c.get(), &Directory::listUpdated);
        QSignalSpy failed(c.get(), &Directory::listFailed);
        QSignalSpy notices(c.get(), &DirectoryClient::notice);
        c->refreshList();
        QTRY_COMPARE(updated.count(), 1);
        server.mode = ServerMode(mode);
        server.listReply = reply;
        server.closeAfter = close;
        c->refreshList();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, timeoutMs + 5000);
        QVERIFY2(lastArg(failed).contains(why), qPrintable(lastArg(failed)));
        QVERIFY(lastArg(failed).contains(QStringLiteral("keeping the previous list of 3 stations")));
        QCOMPARE(lastArg(notices), lastArg(failed)); // the program prints it
        QCOMPARE(updated.count(), 1);
        QVERIFY(c->hasList() && !c->reachable());
        QCOMPARE(c->stationCount(), 3);
        QVERIFY(c->find(QStringLiteral("Q1S2")));
    }

    void find_ignoresCaseAndFindsByIPv4_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("byAddress");
        QTest::addColumn<QString>("found");
        row("same case", "Q1BBB-L", false, "Q1BBB-L");
        row("query in lower case", "q1bbb-l", false, "Q1BBB-L");
        row("listed in lower case", "Q1LOW", false, "q1low");
        row("prefix is no match", "Q1BBB", false, "");
        row("unknown", "Q9ZZZ", false, "");
        row("address", "127.1.0.2", true, "Q1BBB-L");
        row("IPv4-mapped address", "::ffff:127.1.0.2", true, "Q1BBB-L");
        row("shared address gives first", "127.1.0.9", true, "Q1DUP1");
        row("unknown address", "127.1.0.99", true, "");
    }
    void find_ignoresCaseAndFindsByIPv4() {
        QFETCH(QString, key);
        QFETCH(bool, byAddress);
        QFETCH(QString, found);
        Server server(First);
        server.listReply = "@@@\n4\nQ1BBB-L\nb [ON 10:00]\n2\n127.1.0.2\nq1low\nl [BUSY 10:00]\n3\n127.1.0.3\n"
                           "Q1DUP1\nd [ON 10:00]\n4\n127.1.0.9\nQ1DUP2\nd [ON 10:00]\n5\n127.1.0.9\n+++";
        auto c = client({First});
        QSignalSpy updated(c.get(), &Directory::listUpdated);
        c->refreshList();
        QTRY_COMPARE(updated.count(), 1);
        const auto entry = byAddress ? c->findByAddress(QHostAddress(key)) : c->find(key);
        QCOMPARE(entry ? entry->callsign : QString(), found);
    }

    void online_logsInAgainOnScheduleAndOnStatusChange() {
        Server server(First);
        DirectoryTiming t = timing();
        t.reloginMs = 100;
        t.listRefreshMs = 250;
        auto c = client({First}, t);
        c->setStatus(el::DirectoryStatus::Online);
        QTRY_VERIFY(server.countOf("ONLINE3.38(") >= 3 && server.requests.count("s") >= 2);
        QCOMPARE(server.requests.at(1), QByteArray("s")); // the list right after the first login
        c->setStatus(el::DirectoryStatus::Busy);
        QTRY_COMPARE(server.countOf("\rBUSY3.40("), 1);
        c->setStatus(el::DirectoryStatus::Off);
        QTRY_COMPARE(server.countOf("\rOFF-V3.40\r"), 1);
        const int logins = server.countOf("\xac\xac");
        QTest::qWait(400);
        QCOMPARE(server.countOf("\xac\xac"), logins);
        QCOMPARE(server.countOf("OFF-V3.40"), 1);
    }

    void logOff_callsDoneExactlyOnce_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("logOffMs");
        QTest::addColumn<bool>("destroy");
        row("server answers", int(Answer), 5000, false);
        row("server silent: done at logOff's time-out", int(Silent), 100, false);
        row("no server: done when the exchange fails", int(NoServer), 5000, false);
        row("client destroyed before either", int(Silent), 5000, true);
    }
    void logOff_callsDoneExactlyOnce() {
        QFETCH(int, mode);
        QFETCH(int, logOffMs);
        QFETCH(bool, destroy);
        Server server(First);
        auto c = client({First}, timing(300));
        QSignalSpy finished(c.get(), &Directory::loginFinished);
        c->setStatus(el::DirectoryStatus::Online);
        QTRY_VERIFY(finished.count() == 1 && c->hasList());
        server.mode = ServerMode(mode);
        if (mode == NoServer) {
            server.stop();
        }
        int done = 0;
        c->logOff(logOffMs, [&done] { ++done; });
        if (destroy) {
            QTRY_COMPARE(server.countOf("OFF-V3.40"), 1);
            c.reset();
        }
        QTRY_COMPARE(done, 1);
        QTest::qWait(400); // past the exchange's own time-out
        QCOMPARE(done, 1);
        QCOMPARE(server.countOf("OFF-V3.40"), mode == NoServer ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(DirectoryClientTest)
#include "tst_directoryclient.moc"
