// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeEchoLinkClient.h"
#include "InternetWindowHost.h"
#include "WebEngineBrowser.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

// The real web engine, offscreen: the window's browser is started after the window is made, opens the
// page the program ships, local pages, and survives pages that cannot be loaded.
namespace {

constexpr int LoadTimeoutMs = 60000;
const QString ShippedPage = QStringLiteral("qrc:/internet/addons.html");

struct Rig {
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath(QStringLiteral("parlevoxinet.ini"))};
    InternetWindowHost host{settings, [] { return std::make_unique<FakeEchoLinkClient>(); }, webEngineBrowserFactory()};

    QWebEngineView* view() const {
        Form1* form = host.existingWindow();
        return form != nullptr ? form->findChild<QWebEngineView*>(QStringLiteral("WebBrowser1")) : nullptr;
    }
    QString localPage(const QString& title) const {
        const QString file = dir.filePath(QStringLiteral("page.html"));
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("<html><head><title>%1</title></head><body>local</body></html>").arg(title).toUtf8());
        return QUrl::fromLocalFile(file).toString();
    }
};

} // namespace

class TestWebEngineBrowser : public QObject {
    Q_OBJECT

private slots:
    void init() {
        // The profile must never outlive its pages; the engine says so when it does.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("(?i)profile")));
    }

    void startUpHook_engineStartsAfterwards_andOpensTheShippedPage() {
        Rig rig;
        rig.host.navigate(ShippedPage);
        QVERIFY2(rig.view() == nullptr, "the engine must not start inside the start-up hook");
        QTRY_VERIFY(rig.view() != nullptr);
        QCOMPARE(rig.view()->parentWidget()->objectName(), QStringLiteral("PicFrame"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.view()->title(), QStringLiteral("Parlevox add-ons"), LoadTimeoutMs);
        QCOMPARE(rig.view()->url(), QUrl(ShippedPage));
    }

    void pageThatCannotLoad_failsQuietly_andLocalPageOpensAfterwards() {
        Rig rig;
        rig.host.window();
        QTRY_VERIFY(rig.view() != nullptr);
        QSignalSpy loaded(rig.view(), &QWebEngineView::loadFinished);
        // Port 1 on this machine: refused at once, as an offline machine refuses every site.
        rig.host.navigate(QStringLiteral("http://127.0.0.1:1/"));
        QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, LoadTimeoutMs);
        QCOMPARE(loaded.first().first().toBool(), false);

        rig.host.setLastConnectedNode(QStringLiteral("N0CALL Joe"));
        QCOMPARE(rig.host.window()->findChild<QLabel*>(QStringLiteral("Label2"))->text(), QStringLiteral("N0CALL Joe"));
        const QString page = rig.localPage(QStringLiteral("After the failure"));
        rig.host.navigate(page);
        QTRY_COMPARE_WITH_TIMEOUT(rig.view()->title(), QStringLiteral("After the failure"), LoadTimeoutMs);
        QTRY_COMPARE(loaded.last().first().toBool(), true);
        QCOMPARE(rig.view()->url(), QUrl(page));
    }

    void userClose_takesTheEngineDownCleanly_andTheNextTouchStartsAnew() {
        Rig rig;
        rig.host.showWindow();
        QTRY_VERIFY(rig.view() != nullptr);
        QPointer<QWebEngineView> first = rig.view();
        rig.host.existingWindow()->close();
        QTRY_VERIFY(first.isNull());
        QVERIFY(rig.host.existingWindow() == nullptr);

        rig.host.navigate(ShippedPage);
        QTRY_VERIFY(rig.view() != nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(rig.view()->title(), QStringLiteral("Parlevox add-ons"), LoadTimeoutMs);
    }
};

int main(int argc, char* argv[]) {
    webengine::prepareEnvironment();
    QApplication app(argc, argv);
    TestWebEngineBrowser test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_webenginebrowser.moc"
