// SPDX-License-Identifier: GPL-3.0-or-later
#include "DeferredBrowser.h"
#include "FakeBrowser.h"

#include <QTest>

// The engine behind the deferred browser is a FakeBrowser whose creation the test can see.
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
    void engine_startsOnNextEventLoopTurnNotAtOnce() {
        Engine engine;
        DeferredBrowser deferred(engine.factory());
        QCOMPARE(engine.created, 0);
        QTRY_COMPARE(engine.created, 1);
        QVERIFY(deferred.started());
        QVERIFY(engine.browser->addresses.isEmpty());
    }

    void navigateBeforeStart_latestAddressOpensWhenEngineStarts() {
        Engine engine;
        DeferredBrowser deferred(engine.factory());
        deferred.navigate(QStringLiteral("https://first.example/"));
        deferred.navigate(QStringLiteral("qrc:/internet/addons.html"));
        QTRY_VERIFY(deferred.started());
        QCOMPARE(engine.browser->addresses, QStringList{QStringLiteral("qrc:/internet/addons.html")});
    }

    void navigateAfterStart_goesStraightToEngine() {
        Engine engine;
        DeferredBrowser deferred(engine.factory());
        deferred.start();
        deferred.navigate(QStringLiteral("https://a.example/"));
        deferred.navigate(QStringLiteral("https://b.example/"));
        QCOMPARE(engine.browser->addresses,
                 (QStringList{QStringLiteral("https://a.example/"), QStringLiteral("https://b.example/")}));
    }

    void startedEarly_engineIsNotMadeTwice() {
        Engine engine;
        DeferredBrowser deferred(engine.factory());
        deferred.start();
        QTest::qWait(0);
        QCoreApplication::processEvents();
        QCOMPARE(engine.created, 1);
    }
};

QTEST_GUILESS_MAIN(TestDeferredBrowser)
#include "tst_deferredbrowser.moc"
