// SPDX-License-Identifier: GPL-3.0-or-later
#include "BuildConfig.h"
#include "FakeBrowser.h"
#include "FakeEchoLinkClient.h"
#include "InternetRules.h"
#include "InternetWindowHost.h"

#include <QCheckBox>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

// A host on a settings file in a private folder, with fake browsers and station objects that the test
// can reach (the latest ones belong to the current window).
struct Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("parlevoxinet.ini"));
    QString ownCallsign = QStringLiteral("N0CALL");
    bool callsignFails = false;
    bool noStation = false;
    bool stationAvailable = true;
    QList<FakeBrowser*> browsers;
    QList<QPointer<FakeEchoLinkClient>> stations;
    SettingsStore settings{path};
    InternetWindowHost host{settings,
                            [this]() -> std::unique_ptr<EchoLinkClient> {
                                if (noStation) {
                                    return nullptr;
                                }
                                auto c = std::make_unique<FakeEchoLinkClient>();
                                c->ownCallsign = ownCallsign;
                                c->available = stationAvailable;
                                if (callsignFails) {
                                    c->failing.insert(QStringLiteral("OwnCallsign"));
                                }
                                stations << c.get();
                                return c;
                            },
                            [this](QWidget*, const QRect&) -> std::unique_ptr<Browser> {
                                auto b = std::make_unique<FakeBrowser>();
                                browsers << b.get();
                                return b;
                            }};

    FakeBrowser* browser() const { return browsers.last(); }

    void writeFile(const QByteArray& content) const {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QString fileText() const {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromLatin1(f.readAll()).remove(QLatin1Char('\r'));
    }
    template <typename W> W* child(const char* name) { return host.window()->findChild<W*>(QString::fromLatin1(name)); }
    void closeByUser() {
        QPointer<Form1> form = host.existingWindow();
        QVERIFY(form != nullptr);
        form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(form.isNull());
    }
};

const QString Defaults = QStringLiteral("[SETTINGS]\nLEFT=300\nTOP=300\nCHECK9=1\n");

} // namespace

class TestInternetWindow : public QObject {
    Q_OBJECT

private slots:
    // --- settings ---

    void firstStartWithoutFile_at300TwipsWithShowQrzInfoTicked_noFileMade() {
        Rig rig;
        Form1* form = rig.host.window();
        QCOMPARE(form->pos(), QPoint(20, 20));
        QVERIFY(rig.host.showQrzInfo());
        QCOMPARE(rig.child<QCheckBox>("Check9")->checkState(), Qt::Checked);
        QVERIFY(!QFile::exists(rig.path));
    }

    void firstSave_createsFileWithDefaultsInOrder() {
        Rig rig;
        QVERIFY(rig.host.SaveData2());
        QCOMPARE(rig.fileText(), Defaults);
    }

    void savedPositionAndOption_comeBackInTheNextRun() {
        Rig rig;
        rig.host.window()->move(40, 60);
        rig.child<QCheckBox>("Check9")->setChecked(false);
        QVERIFY(rig.host.SaveData2());
        QCOMPARE(rig.fileText(), QStringLiteral("[SETTINGS]\nLEFT=600\nTOP=900\nCHECK9=0\n"));

        SettingsStore sameFile(rig.path);
        InternetWindowHost nextRun(sameFile, nullptr, nullptr);
        QCOMPARE(nextRun.window()->pos(), QPoint(40, 60));
        QVERIFY(!nextRun.showQrzInfo());
    }

    void unmovedWindow_writesBackTheTwipsItRead() {
        Rig rig;
        rig.writeFile("[SETTINGS]\nLEFT=307\nTOP=452\nCHECK9=1\n");
        QVERIFY(rig.host.SaveData2());
        QCOMPARE(rig.fileText(), QStringLiteral("[SETTINGS]\nLEFT=307\nTOP=452\nCHECK9=1\n"));
    }

    void valuesThatAreNotNumbers_giveTheDefaults() {
        Rig rig;
        rig.writeFile("[SETTINGS]\nLEFT=abc\nTOP=\nCHECK9=7\n");
        QCOMPARE(rig.host.window()->pos(), QPoint(20, 20));
        QVERIFY(rig.host.showQrzInfo());
        QVERIFY(rig.host.SaveData2());
        QCOMPARE(rig.fileText(), Defaults);
    }

    void greyedOption_isKeptButDoesNotCountAsTicked() {
        Rig rig;
        rig.writeFile("[SETTINGS]\nCHECK9=2\n");
        QCOMPARE(rig.child<QCheckBox>("Check9")->checkState(), Qt::PartiallyChecked);
        QVERIFY(!rig.host.showQrzInfo());
        QVERIFY(rig.host.SaveData2());
        QVERIFY(rig.fileText().contains(QLatin1String("CHECK9=2\n")));
    }

    void positionOffEveryScreen_isBroughtBackOnScreen() {
        Rig rig;
        rig.writeFile("[SETTINGS]\nLEFT=-150000\nTOP=900000\n");
        const QPoint at = rig.host.window()->pos();
        bool onAScreen = false;
        for (const QScreen* screen : QGuiApplication::screens()) {
            onAScreen = onAScreen || screen->geometry().contains(at + QPoint(30, 10));
        }
        QVERIFY2(onAScreen, qPrintable(QStringLiteral("%1,%2").arg(at.x()).arg(at.y())));
    }

    void saveIntoUnwritablePlace_reportsFailureAndWindowGoesOn() {
        Rig rig;
        // A file stands where the folder would have to be, so the folder cannot be made (even as root).
        QFile blocker(rig.dir.filePath(QStringLiteral("blocked")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SettingsStore nowhere(rig.dir.filePath(QStringLiteral("blocked/folder/parlevoxinet.ini")));
        InternetWindowHost host(nowhere, nullptr, nullptr);
        QVERIFY(!host.SaveData2());
        QVERIFY(host.existingWindow() != nullptr);
    }

    // --- caption ---

    void caption_namesTheLocalStationAndEndsWithInternetOption() {
        Rig rig;
        QCOMPARE(rig.host.window()->windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2   Internet Option"));
    }

    void caption_isTakenWhenTheWindowIsCreated() {
        Rig rig;
        rig.host.window();
        rig.stations.last()->ownCallsign = QStringLiteral("N1NEW");
        rig.host.setLastConnectedNode(QStringLiteral("N2X Ann"));
        QCOMPARE(rig.host.window()->windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2   Internet Option"));
        rig.ownCallsign = QStringLiteral("N1NEW");
        rig.closeByUser();
        QCOMPARE(rig.host.window()->windowTitle(), QStringLiteral("Parlevox    N1NEW   v1.2   Internet Option"));
    }

    void stationWithoutCallsign_captionWithoutCallsign() {
        Rig rig;
        rig.callsignFails = true;
        QCOMPARE(rig.host.window()->windowTitle(), QStringLiteral("Parlevox       v1.2   Internet Option"));
    }

    void stationVanishesAndAnotherComes_captionSaysSoThenNamesTheNewOne() {
        Rig rig;
        Form1* form = rig.host.window();
        FakeEchoLinkClient* station = rig.stations.last();
        station->available = false;
        Q_EMIT station->availabilityChanged(false);
        QCOMPARE(form->windowTitle(),
                 QStringLiteral("Parlevox    N0CALL   v1.2   Internet Option   (EchoLink not available)"));
        station->available = true;
        station->ownCallsign = QStringLiteral("N1NEW");
        Q_EMIT station->availabilityChanged(true);
        QCOMPARE(form->windowTitle(), QStringLiteral("Parlevox    N1NEW   v1.2   Internet Option"));
    }

    void windowMadeWhileNoStationRuns_saysSo() {
        Rig rig;
        rig.stationAvailable = false;
        rig.callsignFails = true;
        QCOMPARE(rig.host.window()->windowTitle(),
                 QStringLiteral("Parlevox       v1.2   Internet Option   (EchoLink not available)"));
    }

    void noStationObject_windowStillWorks() {
        Rig rig;
        rig.noStation = true;
        QCOMPARE(rig.host.window()->windowTitle(), QStringLiteral("Parlevox       v1.2   Internet Option"));
        rig.host.navigate(QStringLiteral("https://a.example/"));
        QCOMPARE(rig.browser()->addresses, QStringList{QStringLiteral("https://a.example/")});
    }

    // --- pages ---

    void newWindow_opensNothingByItself() {
        Rig rig;
        rig.host.window();
        QVERIFY(rig.browser()->addresses.isEmpty());
    }

    void pageButtons_openTheirPages() {
        Rig rig;
        for (const char* name : {"Command2", "Command10", "Command9", "Command11", "Command3"}) {
            QTest::mouseClick(rig.child<QPushButton>(name), Qt::LeftButton);
        }
        const QString echoLink = QString::fromUtf8(buildconfig::EchoLinkSite);
        QCOMPARE(
            rig.browser()->addresses,
            (QStringList{QString::fromUtf8(buildconfig::EqslSite), echoLink + QStringLiteral("/logins.jsp"), echoLink,
                         echoLink + QStringLiteral("/proxylist.jsp"), QString::fromUtf8(buildconfig::AddonsSite)}));
    }

    void qrzButton_withEmptyBox_opensTheLookupRoot() {
        Rig rig;
        QTest::mouseClick(rig.child<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(rig.browser()->addresses, QStringList{QString::fromUtf8(buildconfig::QrzRoot)});
    }

    void qrzButton_withTypedCallsign_opensItsLookupPage() {
        Rig rig;
        auto* text1 = rig.child<QLineEdit>("Text1");
        QTest::keyClicks(text1, QStringLiteral("n0call-l"));
        QCOMPARE(text1->text(), QStringLiteral("N0CALL-L"));
        QTest::mouseClick(rig.child<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(rig.browser()->addresses, QStringList{QString::fromUtf8(buildconfig::QrzRoot) + "N0CALL-L"});
    }

    void qrzButton_withHostileText_staysOnTheLookupSite() {
        Rig rig;
        rig.child<QLineEdit>("Text1")->setText(QStringLiteral("../../x?y=1#z"));
        rig.host.window()->Command1_Click();
        const QUrl root(QString::fromUtf8(buildconfig::QrzRoot));
        const QUrl opened(rig.browser()->addresses.value(0));
        QCOMPARE(opened.host(), root.host());
        QVERIFY(!opened.hasQuery());
        QVERIFY(!opened.hasFragment());
        QVERIFY(opened.adjusted(QUrl::NormalizePathSegments).path().startsWith(root.path()));
    }

    // --- upper-case entry ---

    void text1_firstTypedLetterIsACapital() {
        Rig rig;
        auto* text1 = rig.child<QLineEdit>("Text1");
        QTest::keyClick(text1, Qt::Key_K, Qt::NoModifier);
        QCOMPARE(text1->text(), QStringLiteral("K"));
        QTest::keyClicks(text1, QStringLiteral("a1b"));
        QCOMPARE(text1->text(), QStringLiteral("KA1B"));
    }

    // --- lifecycle ---

    void startUpHook_createsHiddenWindowAndOpensAddonsPage() {
        Rig rig;
        QVERIFY(rig.host.existingWindow() == nullptr);
        rig.host.navigate(internet::addonsHome());
        QVERIFY(rig.host.existingWindow() != nullptr);
        QVERIFY(!rig.host.existingWindow()->isVisible());
        QCOMPARE(rig.browser()->addresses, QStringList{internet::addonsHome()});
        QCOMPARE(rig.stations.size(), 1);
    }

    void showWindow_showsItWithoutOwnerAndNotModal() {
        Rig rig;
        rig.host.showWindow();
        Form1* form = rig.host.existingWindow();
        QVERIFY(form->isVisible());
        QVERIFY(form->isWindow());
        QVERIFY(form->parentWidget() == nullptr);
        QVERIFY(!form->isModal());
    }

    void label2_readsNoneThenTheLatestNode_alsoWhileHidden() {
        Rig rig;
        auto* label2 = rig.child<QLabel>("Label2");
        QCOMPARE(label2->text(), QStringLiteral("None"));
        rig.host.setLastConnectedNode(QStringLiteral("N0CALL-L <b>Joe</b>"));
        QCOMPARE(label2->text(), QStringLiteral("N0CALL-L <b>Joe</b>"));
        QCOMPARE(label2->textFormat(), Qt::PlainText);
        QVERIFY(!rig.host.existingWindow()->isVisible());
    }

    void userClose_savesAndLetsTheWindowGo() {
        Rig rig;
        rig.host.showWindow();
        rig.host.existingWindow()->move(50, 70);
        rig.closeByUser();
        QVERIFY(rig.host.existingWindow() == nullptr);
        QCOMPARE(rig.fileText(), QStringLiteral("[SETTINGS]\nLEFT=750\nTOP=1050\nCHECK9=1\n"));
    }

    void touchAfterClose_recreatesHiddenWithNoneAndEmptyBrowser() {
        Rig rig;
        rig.host.navigate(internet::addonsHome());
        rig.host.setLastConnectedNode(QStringLiteral("N0CALL Joe"));
        rig.host.showWindow();
        rig.child<QCheckBox>("Check9")->setChecked(false);
        rig.closeByUser();

        QVERIFY(!rig.host.showQrzInfo());
        Form1* again = rig.host.existingWindow();
        QVERIFY(again != nullptr);
        QVERIFY(!again->isVisible());
        QCOMPARE(rig.child<QLabel>("Label2")->text(), QStringLiteral("None"));
        QCOMPARE(rig.browsers.size(), 2);
        QVERIFY(rig.browser()->addresses.isEmpty());
        QCOMPARE(rig.stations.size(), 2);
        QVERIFY(rig.stations.first().isNull());
    }

    void connectAfterClose_showsTheNewNodeInTheRecreatedWindow() {
        Rig rig;
        rig.host.showWindow();
        rig.closeByUser();
        rig.host.setLastConnectedNode(QStringLiteral("N0CALL-R Repeater"));
        QCOMPARE(rig.child<QLabel>("Label2")->text(), QStringLiteral("N0CALL-R Repeater"));
        QVERIFY(!rig.host.existingWindow()->isVisible());
    }

    void saveData2_onClosedWindow_recreatesItAndWritesWhatItRead() {
        Rig rig;
        rig.host.showWindow();
        rig.closeByUser();
        rig.writeFile("[SETTINGS]\nLEFT=750\nTOP=1200\nCHECK9=0\n");
        QVERIFY(rig.host.SaveData2());
        QVERIFY(rig.host.existingWindow() != nullptr);
        QVERIFY(!rig.host.existingWindow()->isVisible());
        QCOMPARE(rig.fileText(), QStringLiteral("[SETTINGS]\nLEFT=750\nTOP=1200\nCHECK9=0\n"));
    }

    void stationClosing_isReportedOnce_andLeavesTheSavingToTheMainWindow() {
        Rig rig;
        QSignalSpy closing(&rig.host, &InternetWindowHost::closingRequested);
        rig.host.window();
        Q_EMIT rig.stations.last()->Closing();
        QCOMPARE(closing.count(), 1);
        QVERIFY(!QFile::exists(rig.path));
    }

    void closedWindow_stationClosingOfNewWindowIsHeard() {
        Rig rig;
        QSignalSpy closing(&rig.host, &InternetWindowHost::closingRequested);
        rig.host.showWindow();
        rig.closeByUser();
        rig.host.window();
        Q_EMIT rig.stations.last()->Closing();
        QCOMPARE(closing.count(), 1);
    }
};

QTEST_MAIN(TestInternetWindow)
#include "tst_internetwindow.moc"
