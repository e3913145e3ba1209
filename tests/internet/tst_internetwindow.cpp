// SPDX-License-Identifier: GPL-3.0-or-later
#include "BuildConfig.h"
#include "DataRow.h"
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
#include <QTest>
#include <QUrl>

namespace {

// A host on a settings file in a private folder; the latest fake browser and station belong to the current window.
struct Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("parlevoxinet.ini"));
    QString ownCallsign = QStringLiteral("N0CALL");
    bool callsignFails = false, noStation = false, stationAvailable = true;
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
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).remove(QLatin1Char('\r')) : QString();
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
const QString Caption = QStringLiteral("Parlevox    %1   v1.2   Internet Option");

} // namespace

class TestInternetWindow : public QObject {
    Q_OBJECT

private slots:
    void settings_readThenSaved_data() {
        QTest::addColumn<QByteArray>("file"); // null: no file
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<Qt::CheckState>("check9");
        QTest::addColumn<QString>("saved");
        row("first start: 300 twips, ticked", QByteArray(), QPoint(20, 20), Qt::Checked, Defaults);
        row("unmoved window writes back its twips", QByteArray("[SETTINGS]\nLEFT=307\nTOP=452\nCHECK9=1\n"),
            QPoint(20, 30), Qt::Checked, "[SETTINGS]\nLEFT=307\nTOP=452\nCHECK9=1\n");
        row("not numbers give the defaults", QByteArray("[SETTINGS]\nLEFT=abc\nTOP=\nCHECK9=7\n"), QPoint(20, 20),
            Qt::Checked, Defaults);
        row("greyed option kept, not ticked", QByteArray("[SETTINGS]\nCHECK9=2\n"), QPoint(20, 20),
            Qt::PartiallyChecked, "[SETTINGS]\nCHECK9=2\nLEFT=300\nTOP=300\n");
        row("off every screen is brought back", QByteArray("[SETTINGS]\nLEFT=-150000\nTOP=900000\n"), QPoint(20, 20),
            Qt::Checked, Defaults);
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

    void userClose_savesLetsTheWindowGo_andTheNextRunReadsIt() {
        Rig rig;
        rig.host.showWindow();
        Form1* form = rig.host.existingWindow();
        QVERIFY(form->isVisible() && form->parentWidget() == nullptr && !form->isModal());
        form->move(40, 60);
        rig.child<QCheckBox>("Check9")->setChecked(false);
        rig.closeByUser();
        QVERIFY(rig.host.existingWindow() == nullptr);
        QCOMPARE(rig.fileText(), QStringLiteral("[SETTINGS]\nLEFT=600\nTOP=900\nCHECK9=0\n"));
        SettingsStore sameFile(rig.path);
        InternetWindowHost nextRun(sameFile, nullptr, nullptr);
        QCOMPARE(nextRun.window()->pos(), QPoint(40, 60));
        QVERIFY(!nextRun.showQrzInfo());
    }

    void saveIntoUnwritablePlace_reportsFailureAndWindowGoesOn() {
        Rig rig;
        QVERIFY(QFile(rig.dir.filePath(QStringLiteral("blocked"))).open(QIODevice::WriteOnly)); // even root cannot
        SettingsStore nowhere(rig.dir.filePath(QStringLiteral("blocked/folder/parlevoxinet.ini")));
        InternetWindowHost host(nowhere, nullptr, nullptr);
        QVERIFY(!host.SaveData2());
        QVERIFY(host.existingWindow() != nullptr);
    }

    void caption_namesTheStationAsFound_andPagesOpenAllTheSame_data() {
        QTest::addColumn<bool>("noStation");
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("callsignFails");
        QTest::addColumn<QString>("caption");
        row("station with callsign", false, true, false, Caption.arg(QStringLiteral("N0CALL")));
        row("station without callsign", false, true, true, Caption.arg(QString()));
        row("no station running", false, false, true,
            Caption.arg(QString()) + QStringLiteral("   (EchoLink not available)"));
        row("no station object", true, false, true, Caption.arg(QString()));
    }
    void caption_namesTheStationAsFound_andPagesOpenAllTheSame() {
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

    // The callsign is asked when the window is made and when the station comes or goes, not on other news.
    void caption_followsTheStationsComingAndGoing() {
        Rig rig;
        Form1* form = rig.host.window();
        FakeEchoLinkClient* station = rig.stations.last();
        station->ownCallsign = QStringLiteral("N1NEW");
        rig.host.setLastConnectedNode(QStringLiteral("N2X Ann"));
        QCOMPARE(form->windowTitle(), Caption.arg(QStringLiteral("N0CALL")));
        station->available = false;
        Q_EMIT station->availabilityChanged(false);
        QCOMPARE(form->windowTitle(),
                 Caption.arg(QStringLiteral("N0CALL")) + QStringLiteral("   (EchoLink not available)"));
        station->available = true;
        Q_EMIT station->availabilityChanged(true);
        QCOMPARE(form->windowTitle(), Caption.arg(QStringLiteral("N1NEW")));
        rig.ownCallsign = QStringLiteral("N3MADE");
        rig.closeByUser();
        QCOMPARE(rig.host.window()->windowTitle(), Caption.arg(QStringLiteral("N3MADE")));
    }

    void sitePage_joinsWithOneSlash_data() {
        QTest::addColumn<QString>("site");
        row("site without slash", "https://site.example");
        row("site with slash", "https://site.example/");
    }
    void sitePage_joinsWithOneSlash() {
        QFETCH(QString, site);
        QCOMPARE(internet::sitePage(site, QStringLiteral("/logins.jsp")),
                 QStringLiteral("https://site.example/logins.jsp"));
    }

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

    // Typed letters become capitals as they arrive; whatever is typed, the page stays on the lookup site.
    void qrzButton_opensTheTypedCallsignsPageOnTheLookupSite_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("page"); // after the root; null: only checked to stay on the site
        row("nothing", "", "");
        row("small letters", "n0call-l", "N0CALL-L");
        row("path, query and fragment", "../../x?y=1#z", QString());
    }
    void qrzButton_opensTheTypedCallsignsPageOnTheLookupSite() {
        QFETCH(QString, typed);
        QFETCH(QString, page);
        Rig rig;
        auto* text1 = rig.child<QLineEdit>("Text1");
        QTest::keyClicks(text1, typed);
        QCOMPARE(text1->text(), typed.toUpper());
        QTest::mouseClick(rig.child<QPushButton>("Command1"), Qt::LeftButton);
        const QUrl root(QString::fromUtf8(buildconfig::QrzRoot));
        const QUrl opened(rig.browser()->addresses.value(0));
        if (!page.isNull()) {
            QCOMPARE(opened.toString(), root.toString() + page);
        }
        QCOMPARE(opened.host(), root.host());
        QVERIFY(!opened.hasQuery() && !opened.hasFragment());
        QVERIFY(opened.adjusted(QUrl::NormalizePathSegments).path().startsWith(root.path()));
    }

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
        QVERIFY(rig.host.existingWindow() == nullptr);
        rig.host.navigate(internet::addonsHome()); // the start-up hook: a hidden window on the add-ons page
        QVERIFY(!rig.host.existingWindow()->isVisible());
        QCOMPARE(rig.browser()->addresses, QStringList{internet::addonsHome()});
        QCOMPARE(rig.child<QLabel>("Label2")->text(), QStringLiteral("None"));
        rig.host.setLastConnectedNode(QStringLiteral("N0CALL <b>Joe</b>"));
        QCOMPARE(rig.child<QLabel>("Label2")->text(), QStringLiteral("N0CALL <b>Joe</b>"));
        QCOMPARE(rig.child<QLabel>("Label2")->textFormat(), Qt::PlainText);
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
        QVERIFY(again != nullptr && !again->isVisible());
        QCOMPARE(again->pos(), QPoint(50, 80));
        QCOMPARE(rig.child<QLabel>("Label2")->text(), label2);
        QCOMPARE(rig.browsers.size(), 2);
        QVERIFY(rig.browser()->addresses.isEmpty());
        QCOMPARE(rig.stations.size(), 2);
        QVERIFY(rig.stations.first().isNull());
        QCOMPARE(rig.fileText(), file);
    }

    // The main window does the saving; this one only passes the news on, also after it was made again.
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
