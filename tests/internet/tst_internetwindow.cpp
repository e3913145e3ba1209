// SPDX-License-Identifier: GPL-3.0-or-later
#include "BuildConfig.h"
#include "DataRow.h"
#include "internet/DeferredBrowser.h"
#include "FakeBrowser.h"
#include "FakeEchoLinkClient.h"
#include "internet/InternetRules.h"
#include "internet/InternetWindowHost.h"

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
        QTest::addColumn<int>("check9"); // a Qt::CheckState
        QTest::addColumn<QString>("saved");
        const char* defaults = "LEFT=300\nTOP=300\nCHECK9=1\n";
        row("first start: 300 twips, ticked", "-", QPoint(20, 20), 2, defaults);
        row("unmoved keeps its twips", "LEFT=307\nTOP=452\n", QPoint(20, 30), 2, "LEFT=307\nTOP=452\nCHECK9=1\n");
        row("not numbers give the defaults", "LEFT=a\nTOP=\nCHECK9=7\n", QPoint(20, 20), 2, defaults);
        row("greyed kept, not ticked", "CHECK9=2\n", QPoint(20, 20), 1, "CHECK9=2\nLEFT=300\nTOP=300\n");
        row("off every screen comes back", "LEFT=-150000\nTOP=900000\n", QPoint(20, 20), 2, defaults);
    }
    void settings_readThenSaved() {
        QFETCH(QString, file);
        QFETCH(int, check9);
        QFETCH(QString, saved);
        Rig rig;
        QFile f(rig.path);
        QVERIFY(file == QLatin1String("-") ||
                (f.open(QIODevice::WriteOnly) && f.write("[SETTINGS]\n" + file.toLatin1())));
        f.close();
        QTEST(rig.host.window()->pos(), "pos");
        QVERIFY(int(rig.child<QCheckBox>("Check9")->checkState()) == check9 &&
                rig.host.showQrzInfo() == (check9 == Qt::Checked));
        QCOMPARE(QFile::exists(rig.path), file != QLatin1String("-"));
        QVERIFY(rig.host.SaveData2());
        QCOMPARE(rig.file(), "[SETTINGS]\n" + saved.toLatin1());
    }

    // Closed by the user, the window saves and goes; any touch then makes it again, hidden, from the file, with a
    // new browser and station.
    void touchAfterClose_recreatesTheSavedWindowHidden_data() {
        QTest::addColumn<QString>("touch");
        QTest::addColumn<QString>("label2");
        row("showQrzInfo", "showQrzInfo", "None");
        row("a station connects", "setLastConnectedNode", "N0CALL-R Repeater");
        row("SaveData2", "SaveData2", "None");
    }
    void touchAfterClose_recreatesTheSavedWindowHidden() {
        QFETCH(QString, touch);
        QFETCH(QString, label2);
        Rig rig;
        rig.host.navigate(internet::addonsHome());
        QVERIFY(!rig.host.existingWindow()->isVisible() && rig.opened() == QStringList{internet::addonsHome()});
        rig.host.setLastConnectedNode(QStringLiteral("N0CALL <b>Joe</b>"));
        QCOMPARE(rig.child<QLabel>("Label2")->text(), QStringLiteral("N0CALL <b>Joe</b>"));
        QCOMPARE(rig.child<QLabel>("Label2")->textFormat(), Qt::PlainText);
        rig.host.showWindow();
        rig.host.window()->move(40, 60);
        rig.child<QCheckBox>("Check9")->setChecked(false);
        QVERIFY(rig.closeByUser());
        QCOMPARE(rig.file(), QByteArray("[SETTINGS]\nLEFT=600\nTOP=900\nCHECK9=0\n"));
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
        QCOMPARE(rig.file(), QByteArray("[SETTINGS]\nLEFT=600\nTOP=900\nCHECK9=0\n"));
    }

    // The callsign is asked again when the station comes back or the window is made again.
    void caption_followsTheStation() {
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
    }

    void pageButtons_openTheirPages_nothingOpensByItself() {
        Rig rig;
        QVERIFY(rig.host.window() && rig.opened().isEmpty());
        for (const char* name : {"Command2", "Command10", "Command9", "Command11", "Command3"}) {
            QTest::mouseClick(rig.child<QPushButton>(name), Qt::LeftButton);
        }
        const QString echoLink = QString::fromUtf8(buildconfig::EchoLinkSite);
        QCOMPARE(
            rig.opened().join(QLatin1Char(' ')),
            QStringList({QString::fromUtf8(buildconfig::EqslSite), echoLink + QStringLiteral("/logins.jsp"), echoLink,
                         echoLink + QStringLiteral("/proxylist.jsp"), QString::fromUtf8(buildconfig::AddonsSite)})
                .join(QLatin1Char(' ')));
    }

    // Letters become capitals as typed; whatever is typed, the page stays on the lookup site.
    void qrzButton_opensTheTypedCallsignsPageOnTheLookupSite_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("page"); // after the root; null: only checked to stay on the site
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

    // Made once, on a later turn than the caller's, opening only the latest of the addresses asked meanwhile.
    void deferredBrowser_madeOnceOnALaterTurn_opensOnlyTheLatest() {
        QList<FakeBrowser*> made;
        DeferredBrowser deferred([&made] { return std::unique_ptr<Browser>((made << new FakeBrowser).last()); });
        deferred.navigate(QStringLiteral("https://a.example/"));
        deferred.navigate(QStringLiteral("https://b.example/"));
        QVERIFY(made.isEmpty());
        QTRY_COMPARE(made.size(), 1);
        for (int i = 1; i <= 2000; ++i) {
            deferred.navigate(QStringLiteral("https://c.example/%1").arg(i));
        }
        QCOMPARE(made[0]->addresses.size(), 1);
        QTRY_COMPARE(made[0]->addresses.join(QLatin1Char(' ')),
                     QStringLiteral("https://b.example/ https://c.example/2000"));
        deferred.start();
        QTest::qWait(20);
        QCOMPARE(made.size(), 1);
    }
};

QTEST_MAIN(TestInternetWindow)
#include "tst_internetwindow.moc"
