// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeEchoLinkClient.h"
#include "internet/InternetWindowHost.h"
#include "internet/WebEngineBrowser.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// The real web engine, offscreen, on 127.0.0.1 inside the test's own network namespace.
namespace {

constexpr int LoadTimeoutMs = 60000;
const QString ShippedPage = QStringLiteral("qrc:/internet/addons.html");

// A site on 127.0.0.1: "/set" sets a session cookie, every page is titled with its path, and the Cookie
// header of the latest request is kept.
struct CookieSite {
    QTcpServer server;
    QByteArray lastCookie = "(no request)";

    CookieSite() {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
            }
        });
    }
    QString page(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(QLatin1String(path));
    }
    void answer(QTcpSocket* socket) {
        if (!socket->peek(65536).contains("\r\n\r\n")) {
            return;
        }
        const QByteArray request = socket->readAll();
        const QByteArray path = request.split(' ').value(1);
        const qsizetype cookie = request.toLower().indexOf("\ncookie:");
        if (path != "/favicon.ico") {
            lastCookie = cookie < 0 ? QByteArray() : request.mid(cookie + 8).split('\r').value(0).trimmed();
        }
        const QByteArray body = "<html><head><title>" + path + "</title></head><body>x</body></html>";
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nCache-Control: no-store\r\nConnection: close\r\n" +
                      QByteArray(path == "/set" ? "Set-Cookie: login=QA1BRK-secret; Path=/\r\n" : "") +
                      "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};

struct Rig {
    explicit Rig(const QString& storage)
        : settings(storage + QStringLiteral("/parlevoxinet.ini")),
          host(
              settings, [] { return std::make_unique<FakeEchoLinkClient>(); },
              webEngineBrowserFactory({storage + QStringLiteral("/data"), storage + QStringLiteral("/cache")})) {}

    SettingsStore settings;
    InternetWindowHost host;

    // The test does not link the web engine, as the program does not: the view is reached as a QWidget.
    QWidget* view() const {
        Form1* form = host.existingWindow();
        return form != nullptr ? form->findChild<QWidget*>(QStringLiteral("WebBrowser1")) : nullptr;
    }
    QString title() const { return view() != nullptr ? view()->property("title").toString() : QString(); }
    bool open(const QString& address, const QString& expected) {
        host.navigate(address);
        host.showWindow();
        return QTest::qWaitFor([&] { return title() == expected; }, LoadTimeoutMs);
    }
};

} // namespace

class TestWebEngineBrowser : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void init() {
        // The profile must never outlive its pages; the engine says so when it does.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("(?i)profile")));
    }

    // The engine starts when the window is first shown, with the latest address; a page that cannot load fails
    // quietly. The user stays logged in: a session cookie comes back in a window made again after a close (one
    // profile for the session) and after the program starts again (kept on disk, where nobody else may read it).
    void engineStartsAtFirstShow_andTheLoginIsKeptForTheNextWindowAndSession() {
        const QString storage = dir_.filePath(QStringLiteral("kept"));
        CookieSite site;
        {
            Rig rig(storage);
            rig.host.navigate(QStringLiteral("http://127.0.0.1:1/earlier"));
            rig.host.navigate(ShippedPage);
            QTest::qWait(500);
            QVERIFY(rig.host.existingWindow() != nullptr && rig.view() == nullptr);
            rig.host.showWindow();
            QVERIFY2(rig.view() == nullptr, "the window is drawn before the engine starts");
            QTRY_COMPARE_WITH_TIMEOUT(rig.title(), QStringLiteral("Parlevox add-ons"), LoadTimeoutMs);
            QVERIFY(rig.view()->parentWidget()->objectName() == QStringLiteral("PicFrame"));
            QSignalSpy loaded(rig.view(), SIGNAL(loadFinished(bool)));
            rig.host.navigate(QStringLiteral("http://127.0.0.1:1/")); // refused at once, as offline
            QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, LoadTimeoutMs);
            QVERIFY(!loaded.first().first().toBool() && rig.open(site.page("/set"), QStringLiteral("/set")));
            QPointer<QWidget> first = rig.view();
            rig.host.existingWindow()->close();
            QTRY_VERIFY(first.isNull());
            QVERIFY(rig.open(site.page("/again"), QStringLiteral("/again")));
            QCOMPARE(site.lastCookie, QByteArray("login=QA1BRK-secret"));
        }
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                            QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(storage + QStringLiteral("/data")) & others, QFileDevice::Permissions());
        Rig restarted(storage);
        QVERIFY(restarted.open(site.page("/next-session"), QStringLiteral("/next-session")));
        QCOMPARE(site.lastCookie, QByteArray("login=QA1BRK-secret"));
        Rig otherUser(dir_.filePath(QStringLiteral("other")));
        QVERIFY(otherUser.open(site.page("/elsewhere"), QStringLiteral("/elsewhere")));
        QCOMPARE(site.lastCookie, QByteArray());
    }
};

int main(int argc, char* argv[]) {
    // Inside the unprivileged user namespace netns.sh makes for a normal user, the engine's sandbox cannot
    // make its own; the pages here are the test's own.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    webengine::prepareEnvironment();
    QApplication app(argc, argv);
    TestWebEngineBrowser test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_webenginebrowser.moc"
