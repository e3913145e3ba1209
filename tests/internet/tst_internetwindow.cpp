// SPDX-License-Identifier: GPL-3.0-or-later
// The internet window on a fake browser, then the web engine plug-in and the real engine on 127.0.0.1.
#include "BuildConfig.h"
#include "DataRow.h"
#include "FakeBrowser.h"
#include "FakeEchoLinkClient.h"
#include "internet/DeferredBrowser.h"
#include "internet/InternetWindowHost.h"
#include "internet/WebEngineBrowser.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QOpenGLContext>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

constexpr int LoadTimeoutMs = 60000;

// A site on 127.0.0.1: "/set" sets a session cookie, pages are titled with their path, the latest Cookie is kept.
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

// A fake browser unless given an engine; the latest fake browser and station belong to the current window.
struct Rig {
    explicit Rig(Form1::BrowserFactory real = {}) : engine(std::move(real)) {}
    Form1::BrowserFactory engine;
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("parlevoxinet.ini"));
    bool noStation = false, available = true;
    QSet<QString> failing;
    QList<FakeBrowser*> browsers;
    QList<QPointer<FakeEchoLinkClient>> stations;
    SettingsStore settings{path};
    InternetWindowHost host{
        settings,
        [this]() -> std::unique_ptr<EchoLinkClient> {
            auto c = std::make_unique<FakeEchoLinkClient>();
            c->available = available, c->failing = failing;
            stations << c.get();
            return noStation ? nullptr : std::move(c);
        },
        engine ? engine
               : [this](QWidget*,
                        const QRect&) { return std::unique_ptr<Browser>((browsers << new FakeBrowser).last()); }};

    QStringList& opened() const { return browsers.last()->addresses; }
    template <typename W> W* child(const char* name) { return host.window()->findChild<W*>(QString::fromLatin1(name)); }
    bool closeByUser() {
        host.existingWindow()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return host.existingWindow() == nullptr;
    }
    // The test does not link the web engine, as the program does not: the view is reached as a QWidget.
    QWidget* view() const {
        Form1* form = host.existingWindow();
        return form != nullptr ? form->findChild<QWidget*>(QStringLiteral("WebBrowser1")) : nullptr;
    }
    QString title() const { return view() != nullptr ? view()->property("title").toString() : QString(); }
    bool open(const CookieSite& site, const char* page) {
        host.navigate(QStringLiteral("http://127.0.0.1:%1%2").arg(site.server.serverPort()).arg(QLatin1String(page)));
        host.showWindow();
        return QTest::qWaitFor([&] { return title() == QLatin1String(page); }, LoadTimeoutMs);
    }
};

Form1::BrowserFactory engineAt(const QString& storage, const QString& plugin = webEnginePluginFile()) {
    return webEngineBrowserFactory({storage + QStringLiteral("/data"), storage + QStringLiteral("/cache")}, plugin);
}

QString caption(const char* call, const char* note = "") {
    return QStringLiteral("Parlevox    %1   v1.2   Internet Option%2").arg(QLatin1String(call), QLatin1String(note));
}

} // namespace

class TestInternetWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QByteArray plugin_;

    // The real plug-in with bytes changed at a given place, little-endian.
    QByteArray patched(qsizetype at, quint64 value, int size) const {
        const quint64 little = qToLittleEndian(value);
        return QByteArray(plugin_).replace(at, size, QByteArray(reinterpret_cast<const char*>(&little), size));
    }
    quint64 read64(qsizetype at) const { return qFromLittleEndian<quint64>(plugin_.constData() + at); }
    // Where the second loadable segment's program header is.
    qsizetype loadable() const {
        int n = 0;
        for (qsizetype at = qsizetype(read64(32)); at + 56 <= plugin_.size(); at += 56) {
            if (qFromLittleEndian<quint32>(plugin_.constData() + at) == 1 && n++ == 1) {
                return at;
            }
        }
        return -1;
    }

public:
    // The engine's sandbox cannot nest in the user namespace netns.sh makes; the pages here are the test's own.
    static void initMain() {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        webengine::prepareEnvironment();
    }

private slots:
    void initTestCase() {
        plugin_ = readFile(webEnginePluginFile());
        QVERIFY2(loadable() > 0, qPrintable(webEnginePluginFile()));
    }
    // The profile must never outlive its pages; the engine says so when it does.
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("(?i)profile"))); }

    // file: the settings after "[SETTINGS]", those missing at 300 twips and ticked; check9 a Qt::CheckState.
    void settings_readThenSaved_data() {
        columns<QString, QPoint, int, QString>("file", "pos", "check9", "saved");
        row("unmoved keeps its twips", "LEFT=307\nTOP=452\n", QPoint(20, 30), 2,
            "[SETTINGS]\nLEFT=307\nTOP=452\nCHECK9=1\n");
        row("off every screen, check value unusable: defaults", "LEFT=-150000\nTOP=900000\nCHECK9=7\n", QPoint(20, 20),
            2, "[SETTINGS]\nLEFT=300\nTOP=300\nCHECK9=1\n");
        row("greyed kept, not ticked", "CHECK9=2\n", QPoint(20, 20), 1, "[SETTINGS]\nCHECK9=2\nLEFT=300\nTOP=300\n");
    }
    void settings_readThenSaved() {
        QFETCH(QString, file);
        QFETCH(int, check9);
        Rig rig;
        QVERIFY(writeFile(rig.path, "[SETTINGS]\n" + file.toLatin1()));
        QTEST(rig.host.window()->pos(), "pos");
        QVERIFY(int(rig.child<QCheckBox>("Check9")->checkState()) == check9 &&
                rig.host.showQrzInfo() == (check9 == Qt::Checked));
        QVERIFY(rig.host.SaveData2());
        QTEST(QString::fromLatin1(readFile(rig.path)), "saved");
    }

    // Nothing opens by itself. Closed by the user, the window saves and goes; any touch makes it again, hidden, from
    // the file, with a new browser and station. The station's closing is passed on; the main window saves then.
    void touchAfterClose_recreatesTheSavedWindowHidden_data() {
        columns<QString, QString>("touch", "label2");
        row("showQrzInfo", "showQrzInfo", "None");
        row("a station connects", "setLastConnectedNode", "N0CALL-R Repeater");
        row("SaveData2", "SaveData2", "None");
    }
    void touchAfterClose_recreatesTheSavedWindowHidden() {
        QFETCH(QString, touch);
        QFETCH(QString, label2);
        Rig rig;
        QSignalSpy closing(&rig.host, &InternetWindowHost::closingRequested);
        rig.host.navigate(QStringLiteral("https://a.example/"));
        QVERIFY(!rig.host.existingWindow()->isVisible() &&
                rig.opened() == QStringList{QStringLiteral("https://a.example/")});
        rig.host.setLastConnectedNode(QStringLiteral("N0CALL <b>Joe</b>"));
        QCOMPARE(rig.child<QLabel>("Label2")->textFormat(), Qt::PlainText);
        rig.host.showWindow();
        rig.host.window()->move(40, 60);
        rig.child<QCheckBox>("Check9")->setChecked(false);
        Q_EMIT rig.stations.last()->Closing();
        QVERIFY(closing.count() == 1 && !QFile::exists(rig.path) && rig.closeByUser());
        QCOMPARE(readFile(rig.path), QByteArray("[SETTINGS]\nLEFT=600\nTOP=900\nCHECK9=0\n"));
        if (touch == QLatin1String("showQrzInfo")) {
            QVERIFY(!rig.host.showQrzInfo());
        } else {
            touch == QLatin1String("SaveData2") ? void(rig.host.SaveData2()) : rig.host.setLastConnectedNode(label2);
        }
        QVERIFY(rig.host.existingWindow() != nullptr && !rig.host.existingWindow()->isVisible());
        QVERIFY(rig.host.window()->pos() == QPoint(40, 60) && !rig.child<QCheckBox>("Check9")->isChecked());
        QCOMPARE(rig.child<QLabel>("Label2")->text(), label2);
        QVERIFY(rig.browsers.size() == 2 && rig.opened().isEmpty());
        QVERIFY(rig.stations.size() == 2 && rig.stations.first().isNull());
        Q_EMIT rig.stations.last()->Closing();
        QCOMPARE(closing.count(), 2);
    }

    // The callsign is asked again when the station comes back or the window is made again. Letters typed for the
    // look-up become capitals, and the callsign is escaped so that the page stays on the look-up site.
    void caption_followsTheStation_pageButtonsOpenTheirPages() {
        Rig rig;
        FakeEchoLinkClient* station = rig.stations.value(0, rig.host.window() ? rig.stations.last() : nullptr);
        station->ownCallsign = QStringLiteral("N1NEW");
        Q_EMIT station->availabilityChanged(station->available = false);
        QCOMPARE(rig.host.window()->windowTitle(), caption("N0CALL", "   (EchoLink not available)"));
        Q_EMIT station->availabilityChanged(station->available = true);
        QCOMPARE(rig.host.window()->windowTitle(), caption("N1NEW"));
        rig.failing = {QStringLiteral("OwnCallsign")}, rig.available = false;
        QVERIFY(rig.closeByUser());
        QCOMPARE(rig.host.window()->windowTitle(), caption("", "   (EchoLink not available)"));
        rig.noStation = true;
        QVERIFY(rig.closeByUser());
        QCOMPARE(rig.host.window()->windowTitle(), caption(""));
        QTest::keyClicks(rig.child<QLineEdit>("Text1"), QStringLiteral("n0call/..?y=1#z"));
        for (const char* name : {"Command1", "Command2", "Command10", "Command9", "Command11", "Command3"}) {
            QTest::mouseClick(rig.child<QPushButton>(name), Qt::LeftButton);
        }
        const QString echoLink = QString::fromUtf8(buildconfig::EchoLinkSite);
        QCOMPARE(
            rig.opened(),
            QStringList({QString::fromUtf8(buildconfig::QrzRoot) + QStringLiteral("N0CALL%2F..%3FY%3D1%23Z"),
                         QString::fromUtf8(buildconfig::EqslSite), echoLink + QStringLiteral("/logins.jsp"), echoLink,
                         echoLink + QStringLiteral("/proxylist.jsp"), QString::fromUtf8(buildconfig::AddonsSite)}));
    }

    // Made once, on a later turn than the caller's, opening only the latest of the addresses asked meanwhile.
    void deferredBrowser_madeOnceOnALaterTurn_opensOnlyTheLatest() {
        QList<FakeBrowser*> made;
        DeferredBrowser deferred([&made] { return std::unique_ptr<Browser>((made << new FakeBrowser).last()); });
        deferred.navigate(QStringLiteral("https://a.example/"));
        deferred.navigate(QStringLiteral("https://b.example/"));
        QVERIFY(made.isEmpty());
        QTRY_COMPARE(made.size(), 1);
        deferred.navigate(QStringLiteral("https://c.example/1"));
        deferred.navigate(QStringLiteral("https://c.example/2"));
        QTRY_COMPARE(made[0]->addresses.join(QLatin1Char(' ')),
                     QStringLiteral("https://b.example/ https://c.example/2"));
        deferred.start();
        QCOMPARE(made.size(), 1);
    }

    // As main() prepared it: the context the engine shares its pictures through is made only when asked. The
    // engine's sandbox goes off only for root, never against the user's choice (and stays off, as needed here).
    void environment_openGLOnlyWhenAsked_sandboxOffOnlyForRoot() {
        QVERIFY(QOpenGLContext::globalShareContext() == nullptr &&
                !QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts));
        webengine::shareOpenGLContexts();
        QOpenGLContext* made = QOpenGLContext::globalShareContext();
        webengine::shareOpenGLContexts();
        QVERIFY(made != nullptr && QOpenGLContext::globalShareContext() == made);
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "0");
        webengine::prepareEnvironment(0U);
        QCOMPARE(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), QByteArray("0"));
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
        webengine::prepareEnvironment(1000U);
        QVERIFY(!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"));
        webengine::prepareEnvironment(0U);
        QCOMPARE(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), QByteArray("1"));
    }

    void libraryDamaged_findsWhatWouldFaultOnLoad_data() {
        columns<QByteArray, bool>("file", "damaged");
        const qsizetype load = loadable();
        const quint64 size = quint64(plugin_.size());
        row("the real plug-in", plugin_, false);
        row("empty", QByteArray(), false);
        row("not ELF, however cut", patched(0, 0, 1).left(63), false);
        row("32-bit ELF", patched(4, 1, 1), false);
        row("ELF magic alone", QByteArray("\x7f\x45LF"), true);
        row("no program headers past the header", plugin_.left(64), true);
        row("table starts past the end", patched(32, size + 1, 8), true);
        row("entries too small to hold a segment", patched(54, 8, 2), true);
        row("segment starts past the end", patched(load + 8, size + 1, 8), true);
        row("segment length lies", patched(load + 32, size, 8), true);
    }
    void libraryDamaged_findsWhatWouldFaultOnLoad() {
        QFETCH(QByteArray, file);
        QTEST(libraryDamaged(file), "damaged");
    }

    // The internet window keeps working, saying why where the page would be.
    void unusablePlugin_windowSaysWhy_data() {
        columns<QString, QString>("file", "reason");
        QVERIFY(writeFile(dir_.filePath(QStringLiteral("garbage.so")),
                          QByteArray("\x7f\x45LF\0\0not really", 16) + QByteArray(4096, '\xff')) &&
                writeFile(dir_.filePath(QStringLiteral("cut.so")), // a bus error if loaded
                          plugin_.left(qsizetype(read64(loadable() + 8)) + 16)));
        row("a folder", ".", "is missing");
        row("not a library", "garbage.so", "could not be loaded");
        row("library cut short", "cut.so", "is damaged");
        row("another Qt plug-in",
            QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/libqoffscreen.so"),
            "is not Parlevox's");
    }
    void unusablePlugin_windowSaysWhy() {
        QFETCH(QString, file);
        const QString path = QDir(dir_.path()).filePath(file);
        Rig rig(engineAt(dir_.path(), path));
        rig.host.navigate(QStringLiteral("qrc:/internet/addons.html"));
        rig.host.showWindow();
        QLabel* why = nullptr;
        QTRY_VERIFY((why = rig.host.window()->findChild<QLabel*>(QStringLiteral("BrowserUnavailable"))) != nullptr);
        QVERIFY(why->isVisible() && why->parentWidget()->objectName() == QStringLiteral("PicFrame"));
        QFETCH(QString, reason);
        QVERIFY2(why->text().contains(QDir::cleanPath(path)) && why->text().contains(reason), qPrintable(why->text()));
    }

    // The engine starts when the window is first shown, with the latest address. The user stays logged in: a session
    // cookie comes back in a window made again after a close (one profile for the session) and after the program
    // starts again (kept on disk, where nobody else may read it).
    void engineStartsAtFirstShow_andTheLoginIsKeptForTheNextWindowAndSession() {
        const QString storage = dir_.filePath(QStringLiteral("kept"));
        CookieSite site;
        {
            Rig rig(engineAt(storage));
            rig.host.navigate(QStringLiteral("http://127.0.0.1:1/earlier"));
            rig.host.navigate(QStringLiteral("qrc:/internet/addons.html"));
            QTest::qWait(500);
            QVERIFY(rig.host.existingWindow() != nullptr && rig.view() == nullptr);
            rig.host.showWindow();
            QVERIFY2(rig.view() == nullptr, "the window is drawn before the engine starts");
            QTRY_COMPARE_WITH_TIMEOUT(rig.title(), QStringLiteral("Parlevox add-ons"), LoadTimeoutMs);
            QVERIFY(rig.view()->parentWidget()->objectName() == QStringLiteral("PicFrame"));
            QVERIFY(rig.open(site, "/set"));
            QPointer<QWidget> first = rig.view();
            rig.host.existingWindow()->close();
            QTRY_VERIFY(first.isNull());
            QVERIFY(rig.open(site, "/again"));
            QCOMPARE(site.lastCookie, QByteArray("login=QA1BRK-secret"));
        }
        QCOMPARE(QFile::permissions(storage + QStringLiteral("/data")).toInt() & 0x77, 0);
        Rig restarted(engineAt(storage));
        QVERIFY(restarted.open(site, "/next-session"));
        QCOMPARE(site.lastCookie, QByteArray("login=QA1BRK-secret"));
        Rig otherUser(engineAt(dir_.filePath(QStringLiteral("other"))));
        QVERIFY(otherUser.open(site, "/elsewhere"));
        QCOMPARE(site.lastCookie, QByteArray());
    }
};

QTEST_MAIN(TestInternetWindow)
#include "tst_internetwindow.moc"
