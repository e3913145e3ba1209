// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeferredBrowser.h"
#include "FakeBrowser.h"

#include <QTest>
#include <QWidget>

struct Engine {
    int created = 0;
    FakeBrowser* browser = nullptr;
    DeferredBrowser::Factory factory() {
        return [this]() -> std::unique_ptr<Browser> {
            ++created;
            auto b = std::make_unique<FakeBrowser>();
            browser = b.get();
            return b;
        };
    }
};

class TestDeferredBrowser : public QObject {
    Q_OBJECT

private slots:
    void navigateBeforeStart_engineMadeOnceOnTheNextTurn_withTheLatestAddress() {
        Engine engine;
        DeferredBrowser deferred(engine.factory());
        deferred.navigate(QStringLiteral("https://first.example/"));
        deferred.navigate(QStringLiteral("qrc:/internet/addons.html"));
        QCOMPARE(engine.created, 0); // not inside the caller's own turn
        QTRY_VERIFY(deferred.started());
        deferred.start();
        QTest::qWait(10);
        QCOMPARE(engine.created, 1);
        QCOMPARE(engine.browser->addresses, QStringList{QStringLiteral("qrc:/internet/addons.html")});
    }

    void navigationsInOneTurn_onlyTheLatestOpens_onTheNextTurn() {
        Engine engine;
        DeferredBrowser deferred(engine.factory());
        deferred.start();
        QCOMPARE(engine.created, 1);
        for (int i = 1; i <= 2000; ++i) {
            deferred.navigate(QStringLiteral("https://lookup.example/QS%1").arg(i));
        }
        QVERIFY(engine.browser->addresses.isEmpty());
        QTRY_COMPARE(engine.browser->addresses, QStringList{QStringLiteral("https://lookup.example/QS2000")});
        deferred.navigate(QStringLiteral("https://a.example/")); // nothing is held back for good
        QTRY_COMPARE(engine.browser->addresses.size(), 2);
        QCOMPARE(engine.browser->addresses.last(), QStringLiteral("https://a.example/"));
        QTest::qWait(10);
        QCOMPARE(engine.browser->addresses.size(), 2);
        QCOMPARE(engine.created, 1);
    }

    void waitingForAWidget_startsOnlyOnceItIsFirstShown_withTheLatestAddress() {
        Engine engine;
        QWidget window;
        DeferredBrowser deferred(engine.factory(), new QWidget(&window));
        deferred.navigate(QStringLiteral("qrc:/internet/addons.html"));
        deferred.navigate(QStringLiteral("https://lookup.example/QA1BRK"));
        QTest::qWait(50);
        QCOMPARE(engine.created, 0);
        window.show();
        QCOMPARE(engine.created, 0); // the window is drawn first
        QTRY_VERIFY(deferred.started());
        QCOMPARE(engine.browser->addresses, QStringList{QStringLiteral("https://lookup.example/QA1BRK")});
        window.hide();
        window.show();
        QTest::qWait(10);
        QCOMPARE(engine.created, 1);
    }
};

QTEST_MAIN(TestDeferredBrowser)
#include "tst_deferredbrowser.moc"
