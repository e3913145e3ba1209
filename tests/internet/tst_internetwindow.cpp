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

    // What the window reads from its file, and what the first save writes back.
    void settings_readThenSaved_data() {
        QTest::addColumn<QByteArray>("file"); // null: no file
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<Qt::CheckState>("check9");
        QTest::addColumn<QString>("saved");
        QTest::newRow("first start: 300 twips, ticked, defaults in order")
            << QByteArray() << QPoint(20, 20) << Qt::Checked << Defaults;
        QTest::newRow("unmoved window writes back the twips it read")
            << QByteArray("[SETTINGS]\nLEFT=307\nTOP=452\nCHECK9=1\n") << QPoint(20, 30) << Qt::Checked
            << "[SETTINGS]\nLEFT=307\nTOP=452\nCHECK9=1\n";
        QTest::newRow("values that are not numbers give the defaults")
            << QByteArray("[SETTINGS]\nLEFT=abc\nTOP=\nCHECK9=7\n") << QPoint(20, 20) << Qt::Checked << Defaults;
        QTest::newRow("greyed option is kept but not ticked")
            << QByteArray("[SETTINGS]\nCHECK9=2\n") << QPoint(20, 20) << Qt::PartiallyChecked
            << "[SETTINGS]\nCHECK9=2\nLEFT=300\nTOP=300\n";
        QTest::newRow("position off every screen is brought back")
            << QByteArray("[SETTINGS]\nLEFT=-150000\nTOP=900000\n") << QPoint(20, 20) << Qt::Checked
            << "[SETTINGS]\nLEFT=300\nTOP=300\nCHECK9=1\n";
    }
    void settings_readThenSaved() {
        QFETCH(QByteArray, file);
        QFETCH(QPoint, pos);
        QFETCH(Qt::CheckState, check9);
        QFETCH(QString, saved);
        Rig rig;
        if (!file.isNull()) {
            rig.writeFile(file);
        }
        QCOMPARE(rig.host.window()->pos(), pos);
        QCOMPARE(rig.child<QCheckBox>("Check9")->checkState(), check9);
        QCOMPARE(rig.host.showQrzInfo(), check9 == Qt::Checked);
        QCOMPARE(QFile::exists(rig.path), !file.isNull()); // reading makes no file
        QVERIFY(rig.host.SaveData2());
        QCOMPARE(rig.fileText(), saved);
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

    void caption_namesTheStationAsFoundWhenTheWindowIsMade_data() {
        QTest::addColumn<bool>("noStation");
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("callsignFails");
        QTest::addColumn<QString>("caption");
        QTest::newRow("station with callsign")
            << false << true << false << "Parlevox    N0CALL   v1.2   Internet Option";
        QTest::newRow("station without callsign") << false << true << true << "Parlevox       v1.2   Internet Option";
        QTest::newRow("no station running")
            << false << false << true << "Parlevox       v1.2   Internet Option   (EchoLink not available)";
        QTest::newRow("no station object") << true << false << true << "Parlevox       v1.2   Internet Option";
    }
    // The window works in every case: it opens pages all the same.
    void caption_namesTheStationAsFoundWhenTheWindowIsMade() {
        QFETCH(bool, noStation);
        QFETCH(bool, available);
        QFETCH(bool, callsignFails);
        QFETCH(QString, caption);
        Rig rig;
        rig.noStation = noStation;
        rig.stationAvailable = available;
        rig.callsignFails = callsignFails;
        QCOMPARE(rig.host.window()->windowTitle(), caption);
        rig.host.navigate(QStringLiteral("https://a.example/"));
        QCOMPARE(rig.browser()->addresses, QStringList{QStringLiteral("https://a.example/")});
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

    // --- pages ---

    void newWindow_opensNothingByItself_pageButtonsOpenTheirPages() {
        Rig rig;
        rig.host.window();
        QVERIFY(rig.browser()->addresses.isEmpty());
        for (const char* name : {"Command2", "Command10", "Command9", "Command11", "Command3"}) {
            QTest::mouseClick(rig.child<QPushButton>(name), Qt::LeftButton);
        }
        const QString echoLink = QString::fromUtf8(buildconfig::EchoLinkSite);
        QCOMPARE(
            rig.browser()->addresses,
            (QStringList{QString::fromUtf8(buildconfig::EqslSite), echoLink + QStringLiteral("/logins.jsp"), echoLink,
                         echoLink + QStringLiteral("/proxylist.jsp"), QString::fromUtf8(buildconfig::AddonsSite)}));
    }

    // Text1 turns typed letters into capitals as they arrive, the first one included.
    void qrzButton_opensTheLookupRootOrTheTypedCallsignsPage() {
        Rig rig;
        auto* text1 = rig.child<QLineEdit>("Text1");
        QTest::mouseClick(rig.child<QPushButton>("Command1"), Qt::LeftButton);
        QTest::keyClick(text1, Qt::Key_N, Qt::NoModifier);
        QCOMPARE(text1->text(), QStringLiteral("N"));
        QTest::keyClicks(text1, QStringLiteral("0call-l"));
        QCOMPARE(text1->text(), QStringLiteral("N0CALL-L"));
        QTest::mouseClick(rig.child<QPushButton>("Command1"), Qt::LeftButton);
        const QString root = QString::fromUtf8(buildconfig::QrzRoot);
        QCOMPARE(rig.browser()->addresses, (QStringList{root, root + QStringLiteral("N0CALL-L")}));
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

    void touchAfterClose_recreatesHiddenWindowFromTheFile_data() {
        QTest::addColumn<QString>("touch");
        QTest::addColumn<QString>("label2");
        QTest::newRow("showQrzInfo") << "showQrzInfo"
                                     << "None";
        QTest::newRow("a station connects") << "setLastConnectedNode"
                                            << "N0CALL-R Repeater";
        QTest::newRow("SaveData2 writes what it read") << "SaveData2"
                                                       << "None";
    }
    void touchAfterClose_recreatesHiddenWindowFromTheFile() {
        QFETCH(QString, touch);
        QFETCH(QString, label2);
        Rig rig;
        rig.host.navigate(internet::addonsHome());
        rig.host.setLastConnectedNode(QStringLiteral("N0CALL Joe"));
        rig.host.showWindow();
        rig.closeByUser();
        const QString file = QStringLiteral("[SETTINGS]\nLEFT=750\nTOP=1200\nCHECK9=0\n");
        rig.writeFile(file.toLatin1());

        if (touch == QLatin1String("showQrzInfo")) {
            QVERIFY(!rig.host.showQrzInfo());
        } else if (touch == QLatin1String("SaveData2")) {
            QVERIFY(rig.host.SaveData2());
        } else {
            rig.host.setLastConnectedNode(label2);
        }
        Form1* again = rig.host.existingWindow();
        QVERIFY(again != nullptr);
        QVERIFY(!again->isVisible());
        QCOMPARE(again->pos(), QPoint(50, 80));
        QCOMPARE(rig.child<QLabel>("Label2")->text(), label2);
        QCOMPARE(rig.browsers.size(), 2);
        QVERIFY(rig.browser()->addresses.isEmpty());
        QCOMPARE(rig.stations.size(), 2);
        QVERIFY(rig.stations.first().isNull());
        QCOMPARE(rig.fileText(), file);
    }

    // The main window does the saving; the internet window only passes the news on, also after re-creation.
    void stationClosing_isReportedOnce_forTheCurrentWindow() {
        Rig rig;
        QSignalSpy closing(&rig.host, &InternetWindowHost::closingRequested);
        rig.host.showWindow();
        Q_EMIT rig.stations.last()->Closing();
        QCOMPARE(closing.count(), 1);
        QVERIFY(!QFile::exists(rig.path));
        rig.closeByUser();
        rig.host.window();
        Q_EMIT rig.stations.last()->Closing();
        QCOMPARE(closing.count(), 2);
    }
};

QTEST_MAIN(TestInternetWindow)
#include "tst_internetwindow.moc"
