// SPDX-License-Identifier: GPL-3.0-or-later
#include "BuildConfig.h"
#include "DataRow.h"
#include "DeferredBrowser.h"
#include "FakeBrowser.h"
#include "FakeEchoLinkClient.h"
#include "InternetRules.h"
#include "InternetWindowHost.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

// The latest fake browser and station belong to the current window.
struct Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("parlevoxinet.ini")), ownCallsign = QStringLiteral("N0CALL");
    bool noStation = false, available = true;
    QSet<QString> failing;
    QList<FakeBrowser*> browsers;
    QList<QPointer<FakeEchoLinkClient>> stations;
    SettingsStore settings{path};
    InternetWindowHost host{
        settings,
        [this]() -> std::unique_ptr<EchoLinkClient> {
            auto c = std::make_unique<FakeEchoLinkClient>();
            c->ownCallsign = ownCallsign, c->available = available, c->failing = failing;
            stations << c.get();
            return noStation ? nullptr : std::move(c);
        },
        [this](QWidget*, const QRect&) { return std::unique_ptr<Browser>((browsers << new FakeBrowser).last()); }};

    QStringList& opened() const { return browsers.last()->addresses; }
    bool write(const QByteArray& text) const {
        return QFile(path).open(QIODevice::WriteOnly) && QFile(path).write(text) >= 0;
    }
    QByteArray file() const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    template <typename W> W* child(const char* name) { return host.window()->findChild<W*>(QString::fromLatin1(name)); }
    bool closeByUser() {
        host.existingWindow()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return host.existingWindow() == nullptr;
    }
};

QString caption(const char* call, const char* note = "") {
    return QStringLiteral("Parlevox    %1   v1.2   Internet Option%2").arg(QLatin1String(call), QLatin1String(note));
}

} // namespace

class TestInternetWindow : public QObject {
    Q_OBJECT

private slots:
    void settings_readThenSaved_data() {
        QTest::addColumn<QString>("file"); // "-": none
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<int>("check9");
        QTest::addColumn<QString>("saved");
        row("first start: 300 twips, ticked", "-", QPoint(20, 20), 1, "LEFT=300\nTOP=300\nCHECK9=1\n");
        row("unmoved window keeps its twips", "LEFT=307\nTOP=452\n", QPoint(20, 30), 1,
            "LEFT=307\nTOP=452\nCHECK9=1\n");
        row("not numbers give the defaults", "LEFT=abc\nTOP=\nCHECK9=7\n", QPoint(20, 20), 1,
            "LEFT=300\nTOP=300\nCHECK9=1\n");
        row("greyed kept, not ticked", "CHECK9=2\n", QPoint(20, 20), 2, "CHECK9=2\nLEFT=300\nTOP=300\n");
        row("off every screen comes back", "LEFT=-150000\nTOP=900000\n", QPoint(20, 20), 1,
            "LEFT=300\nTOP=300\nCHECK9=1\n");
    }
    void settings_readThenSaved() {
        QFETCH(QString, file);
        QFETCH(int, check9);
        QFETCH(QString, saved);
        Rig rig;
        QVERIFY(file == QLatin1String("-") || rig.write("[SETTINGS]\n" + file.toLatin1()));
        QTEST(rig.host.window()->pos(), "pos");
        QCOMPARE(int(rig.child<QCheckBox>("Check9")->checkState()), check9);
        QCOMPARE(rig.host.showQrzInfo(), check9 == 1);
        QCOMPARE(QFile::exists(rig.path), file != QLatin1String("-"));
        QVERIFY(rig.host.SaveData2());
        QCOMPARE(rig.file(), "[SETTINGS]\n" + saved.toLatin1());
    }

    void userClose_savesTheMovedWindow_andTheNextRunReadsIt_unwritableFileFails() {
        Rig rig;
        rig.host.showWindow();
        QVERIFY(rig.host.window()->isVisible() && rig.host.window()->parentWidget() == nullptr);
        rig.host.window()->move(40, 60);
        rig.child<QCheckBox>("Check9")->setChecked(false);
        QVERIFY(rig.closeByUser());
        QCOMPARE(rig.file(), QByteArray("[SETTINGS]\nLEFT=600\nTOP=900\nCHECK9=0\n"));
        InternetWindowHost nextRun(rig.settings, nullptr, nullptr);
        QVERIFY(nextRun.window()->pos() == QPoint(40, 60) && !nextRun.showQrzInfo());
        QVERIFY(QFile(rig.dir.filePath(QStringLiteral("blocked"))).open(QIODevice::WriteOnly)); // even root cannot
        SettingsStore nowhere(rig.dir.filePath(QStringLiteral("blocked/parlevoxinet.ini")));
        QVERIFY(!InternetWindowHost(nowhere, nullptr, nullptr).SaveData2());
    }

    void caption_namesTheStationAsFound_data() {
        QTest::addColumn<bool>("noStation");
        QTest::addColumn<QString>("caption");
        row("no callsign, station not running", false, caption("", "   (EchoLink not available)"));
        row("no station object", true, caption(""));
    }
    void caption_namesTheStationAsFound() {
        Rig rig;
        QFETCH(bool, noStation);
        rig.noStation = noStation, rig.available = false, rig.failing = {QStringLiteral("OwnCallsign")};
        QTEST(rig.host.window()->windowTitle(), "caption");
    }

    void caption_followsTheStationsComingAndGoing_andAWindowMadeAgain() {
        Rig rig;
        Form1* form = rig.host.window();
        FakeEchoLinkClient* station = rig.stations.last();
        station->ownCallsign = QStringLiteral("N1NEW");
        Q_EMIT station->availabilityChanged(station->available = false);
        QCOMPARE(form->windowTitle(), caption("N0CALL", "   (EchoLink not available)"));
        Q_EMIT station->availabilityChanged(station->available = true);
        QCOMPARE(form->windowTitle(), caption("N1NEW"));
        rig.ownCallsign = QStringLiteral("N3MADE");
        QVERIFY(rig.closeByUser());
        QCOMPARE(rig.host.window()->windowTitle(), caption("N3MADE"));
    }

    void pageButtons_openTheirPages_nothingOpensByItself() {
        Rig rig;
        QVERIFY(rig.host.window() && rig.opened().isEmpty());
        for (const char* name : {"Command2", "Command10", "Command9", "Command11", "Command3"}) {
            QTest::mouseClick(rig.child<QPushButton>(name), Qt::LeftButton);
        }
        const QString echoLink = QString::fromUtf8(buildconfig::EchoLinkSite);
        QCOMPARE(
            rig.opened(),
            (QStringList{QString::fromUtf8(buildconfig::EqslSite), echoLink + QStringLiteral("/logins.jsp"), echoLink,
                         echoLink + QStringLiteral("/proxylist.jsp"), QString::fromUtf8(buildconfig::AddonsSite)}));
        QCOMPARE(internet::sitePage(QStringLiteral("https://s.example/"), QStringLiteral("/x")),
                 QStringLiteral("https://s.example/x"));
    }

    // Letters become capitals as typed; whatever is typed, the page stays on the lookup site.
    void qrzButton_opensTheTypedCallsignsPageOnTheLookupSite_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("page"); // after the root; null: only checked to stay on the site
        row("nothing", "", "");
        row("small letters", "n0call-l", "N0CALL-L");
        row("path, query and fragment", "../../x?y=1#z", QString());
        row("dot dot alone", "..", "");
    }
    void qrzButton_opensTheTypedCallsignsPageOnTheLookupSite() {
        QFETCH(QString, typed);
        QFETCH(QString, page);
        Rig rig;
        QTest::keyClicks(rig.child<QLineEdit>("Text1"), typed);
        QCOMPARE(rig.child<QLineEdit>("Text1")->text(), typed.toUpper());
        QTest::mouseClick(rig.child<QPushButton>("Command1"), Qt::LeftButton);
        const QUrl root(QString::fromUtf8(buildconfig::QrzRoot)), opened(rig.opened().value(0));
        QVERIFY(page.isNull() || opened.toString() == root.toString() + page);
        QVERIFY(opened.host() == root.host() && !opened.hasQuery() && !opened.hasFragment());
        QVERIFY(opened.adjusted(QUrl::NormalizePathSegments).path().startsWith(root.path()));
    }

    // After the user closed it, any touch makes the window again, hidden, from the file, with a new browser.
    void touchAfterClose_recreatesHiddenWindowFromTheFile_data() {
        QTest::addColumn<QString>("touch");
        QTest::addColumn<QString>("label2");
        row("showQrzInfo", "showQrzInfo", "None");
        row("a station connects", "setLastConnectedNode", "N0CALL-R Repeater");
        row("SaveData2 writes what it read", "SaveData2", "None");
    }
    void touchAfterClose_recreatesHiddenWindowFromTheFile() {
        QFETCH(QString, touch);
        QFETCH(QString, label2);
        Rig rig;
        rig.host.navigate(internet::addonsHome());
        QVERIFY(!rig.host.existingWindow()->isVisible() && rig.opened() == QStringList{internet::addonsHome()});
        rig.host.setLastConnectedNode(QStringLiteral("N0CALL <b>Joe</b>"));
        QCOMPARE(rig.child<QLabel>("Label2")->text(), QStringLiteral("N0CALL <b>Joe</b>"));
        QCOMPARE(rig.child<QLabel>("Label2")->textFormat(), Qt::PlainText);
        rig.host.showWindow();
        QVERIFY(rig.closeByUser() && rig.write("[SETTINGS]\nLEFT=750\nTOP=1200\nCHECK9=0\n"));
        if (touch == QLatin1String("showQrzInfo")) {
            QVERIFY(!rig.host.showQrzInfo());
        } else if (touch == QLatin1String("SaveData2")) {
            QVERIFY(rig.host.SaveData2());
        } else {
            rig.host.setLastConnectedNode(label2);
        }
        QVERIFY(rig.host.existingWindow() != nullptr && !rig.host.existingWindow()->isVisible());
        QCOMPARE(rig.host.window()->pos(), QPoint(50, 80));
        QCOMPARE(rig.child<QLabel>("Label2")->text(), label2);
        QVERIFY(rig.browsers.size() == 2 && rig.opened().isEmpty());
        QVERIFY(rig.stations.size() == 2 && rig.stations.first().isNull());
        QCOMPARE(rig.file(), QByteArray("[SETTINGS]\nLEFT=750\nTOP=1200\nCHECK9=0\n"));
    }

    // The main window does the saving; this one only passes the news on, also after it was made again.
    void stationClosing_isReportedOnce_forTheCurrentWindow() {
        Rig rig;
        QSignalSpy closing(&rig.host, &InternetWindowHost::closingRequested);
        rig.host.showWindow();
        Q_EMIT rig.stations.last()->Closing();
        QVERIFY(closing.count() == 1 && !QFile::exists(rig.path) && rig.closeByUser() && rig.host.window());
        Q_EMIT rig.stations.last()->Closing();
        QCOMPARE(closing.count(), 2);
    }

    // Made once, on a later turn than the caller's (after the first show of the widget it may wait for), and it
    // opens only the latest of the addresses asked meanwhile.
    void deferredBrowser_madeOnceOnALaterTurn_opensOnlyTheLatest_data() {
        QTest::addColumn<bool>("waitForWidget");
        row("no widget", false);
        row("widget shown later", true);
    }
    void deferredBrowser_madeOnceOnALaterTurn_opensOnlyTheLatest() {
        QFETCH(bool, waitForWidget);
        QList<FakeBrowser*> made;
        QWidget window;
        DeferredBrowser deferred([&made] { return std::unique_ptr<Browser>((made << new FakeBrowser).last()); },
                                 waitForWidget ? new QWidget(&window) : nullptr);
        deferred.navigate(QStringLiteral("https://first.example/"));
        deferred.navigate(QStringLiteral("https://b.example/"));
        QCOMPARE(made.size(), 0);
        QTest::qWait(20);
        QCOMPARE(made.size(), waitForWidget ? 0 : 1);
        window.show();
        QTRY_COMPARE(made.size(), 1);
        for (int i = 1; i <= 2000; ++i) {
            deferred.navigate(QStringLiteral("https://c.example/QS%1").arg(i));
        }
        QCOMPARE(made[0]->addresses.size(), 1);
        QTRY_COMPARE(made[0]->addresses.size(), 2);
        deferred.navigate(QStringLiteral("https://d.example/"));
        window.hide();
        window.show();
        deferred.start();
        QTest::qWait(20);
        QCOMPARE(made[0]->addresses.join(QLatin1Char(' ')),
                 QStringLiteral("https://b.example/ https://c.example/QS2000 https://d.example/"));
        QCOMPARE(made.size(), 1);
    }
};

QTEST_MAIN(TestInternetWindow)
#include "tst_internetwindow.moc"
