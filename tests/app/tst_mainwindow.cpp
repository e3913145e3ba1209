// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Controls.h"
#include "DataRow.h"
#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeInternetOptions.h"
#include "FakeVoice.h"
#include "platform/SettingsStore.h"
#include "app/TextMessageTTS.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

struct Rig {
    QTemporaryDir dir;
    FakeEchoLinkClient echoLink;
    FakeVoice voice;
    FakeClock clock;
    FakeInternetOptions internet;
    SettingsStore store;
    TextMessageTTS w{{echoLink, voice, clock, store, internet}};

    explicit Rig(const QString& file = QStringLiteral("-"), const char* name = "p.ini")
        : store(written(dir.filePath(QLatin1String(name)), file)) {
        QVERIFY(name[0] != 'p' || w.Form_Load(nullptr));
    }
    // SettingsStore reads its file when made.
    static QString written(const QString& path, const QString& file) {
        QFile f(path);
        return file == QLatin1String("-") || (f.open(QIODevice::WriteOnly) && f.write(file.toLatin1()) >= 0)
                   ? path
                   : QString();
    }
    QByteArray file() const {
        QFile f(store.filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    template <typename W = QWidget> W* get(const char* name) const { return w.findChild<W*>(QLatin1String(name)); }
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void formLoad_captionPlacesAddonsPageAndTimers_orFailsWithoutCallsign() {
        Rig r;
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2"));
        QVERIFY(r.w.size() == QSize(632, 617) && r.get("Frame8")->geometry() == QRect(464, 8, 161, 385));
        QVERIFY(r.internet.addresses.size() == 1 && !r.internet.addresses[0].isEmpty());
        QVERIFY(r.w.timer1().isActive() && r.w.timer1().interval() == 1000);
        QVERIFY(r.w.timer4().isActive() && r.w.timer4().interval() == 30000);
        Rig none(QStringLiteral("-"), "q.ini");
        none.echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        QString error;
        QVERIFY(!none.w.Form_Load(&error) && error.contains(QStringLiteral("callsign")));
    }

    // Values: check boxes 0/1/2, text boxes their text. Hold: whether a chat waits while the station transmits.
    void settings_readFromFileOrDefaults_holdSpeechSavedAgain_data() {
        QTest::addColumn<QString>("file"); // "-": none
        QTest::addColumn<QString>("values");
        QTest::addColumn<int>("hold");
        row("no file", "-", "Check1=1 Check2=1 Check3=1 ConDisc=1 OnHour=0 Text4= FilterText8= Callsign=", 1);
        row("any case", "[settings]\ntext4=N0CALL\nCHECK2=0\nTxHalfHour=1\nholdspeech= 0\n",
            "Text4=N0CALL Check2=0 HalfHour=1", 0);
        row("bad values", "[SETTINGS]\nLEFT=a\nCHECK1=7\nCONDISC=2\nTXTIMEHOUR=x\nHOLDSPEECH=2\n",
            "Check1=1 ConDisc=2 OnHour=0", 1);
        row("off every screen", "[SETTINGS]\nLEFT=9000000\nTOP=-450000\n", "Check1=1", 1);
    }
    void settings_readFromFileOrDefaults_holdSpeechSavedAgain() {
        QFETCH(QString, file);
        QFETCH(QString, values);
        QFETCH(int, hold);
        Rig r(file);
        QVERIFY(r.w.pos() == QPoint(20, 20) && QFile::exists(r.store.filePath()) == (file != QLatin1String("-")));
        QStringList read;
        for (const QString& value : values.split(QLatin1Char(' '))) {
            const QString name = value.section(QLatin1Char('='), 0, 0);
            auto* box = r.w.findChild<QCheckBox*>(name);
            read << name + QLatin1Char('=') +
                        (box ? QString::number(controls::checkValue(box)) : r.w.findChild<QLineEdit*>(name)->text());
        }
        QCOMPARE(read.join(QLatin1Char(' ')), values);
        r.echoLink.transmitting = true;
        QVERIFY(QMetaObject::invokeMethod(&r.w.timer1(), "timeout"));
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>hello"));
        QCOMPARE(r.voice.waiting.size(), hold);
        QVERIFY(r.w.SaveData() && r.file().toUpper().contains("\nHOLDSPEECH=" + QByteArray::number(hold) + '\n'));
    }

    void save_writesEveryKeyInOrder_unmovedWindowKeepsItsTwips() {
        Rig r(QStringLiteral("[SETTINGS]\nLEFT=307\nTOP=452.5\n"));
        r.get<QLineEdit>("Text5")->setText(QStringLiteral("N0CALL-R"));
        QVERIFY(r.w.pos() == QPoint(20, 30) && r.w.SaveData());
        QCOMPARE(QString::fromLatin1(r.file())
                     .remove(QRegularExpression(QStringLiteral("=[^\n]*")))
                     .split(QLatin1Char('\n'))
                     .join(QLatin1Char(' ')),
                 QStringLiteral("[SETTINGS] LEFT TOP CHECK1 CHECK2 CHECK3 FILTERTEXT1 FILTERTEXT2 FILTERTEXT3 "
                                "FILTERTEXT4 FILTERTEXT5 FILTERTEXT6 FILTERTEXT7 FILTERTEXT8 TEXT4 TEXT5 TEXT6 TEXT7 "
                                "TEXT8 TXTIMEHOUR TXQUARTERHOUR TXHALFHOUR CONDISC CALLSIGN HOLDSPEECH "));
        QVERIFY(r.file().contains("\nLEFT=307\nTOP=452.5\n") && r.file().contains("\nTEXT5=N0CALL-R\n"));
        r.w.move(40, 60);
        QVERIFY(r.w.SaveData() && r.file().startsWith("[SETTINGS]\nLEFT=600\nTOP=900\n"));
    }

    // A failed save keeps the window open and says which file and why; the close box ends without saving; the
    // station's Closing (the internet window's comes too) saves once and ends, whatever. Nothing is heard after the
    // end.
    void endingAndSaving_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<int>("saves");
        QTest::addColumn<bool>("ends");
        row("save goes on", "SaveIt", false, 1, false);
        row("exit ends", "Exit", false, 1, true);
        row("save fails, says so", "SaveIt", true, 1, false);
        row("exit fails, stays open", "Exit", true, 1, false);
        row("close box does not save", "close", false, 0, true);
        row("station closing saves once", "closing", false, 1, true);
        row("station closing ends though the save fails", "closing", true, 1, true);
    }
    void endingAndSaving() {
        QFETCH(QString, action);
        QFETCH(bool, fails);
        QFETCH(bool, ends);
        Rig r(QStringLiteral("-"), "config/p.ini");
        QVERIFY(!fails || QFile(r.dir.filePath(QStringLiteral("config"))).open(QIODevice::WriteOnly)); // even for root
        r.internet.saveSucceeds = !fails;
        QVERIFY(r.w.Form_Load(nullptr));
        QSignalSpy ended(&r.w, &TextMessageTTS::endRequested);
        r.get<QLineEdit>("Text6")->setText(QStringLiteral("KEPT"));
        if (auto* button = r.w.findChild<QPushButton*>(action)) {
            button->click();
        } else if (action == QLatin1String("close")) {
            r.w.close();
        } else {
            Q_EMIT r.echoLink.Closing();
            r.w.EchoLink_Closing();
        }
        QVERIFY(ended.count() == int(ends) && r.w.timer1().isActive() == !ends);
        QTEST(r.internet.saves, "saves");
        QCOMPARE(r.file().contains("TEXT6=KEPT"), r.internet.saves == 1 && !fails);
        auto* box = r.w.findChild<QMessageBox*>();
        QCOMPARE(box != nullptr, fails && !ends);
        for (const QString& part :
             {r.store.filePath(), QStringLiteral("Cannot create the folder"), r.internet.saveFailure}) {
            QVERIFY2(!box || box->text().contains(part), qPrintable(part));
        }
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>heard only while not ended"));
        QCOMPARE(r.voice.spoken.size(), ends ? 0 : 1);
    }

    // Many users cannot see the caption: the station going and coming back is spoken too.
    void stationVanishes_saidAndLogsKept_thenNewStationShownAndSpoken() {
        Rig r;
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>hello"));
        r.echoLink.available = false;
        Q_EMIT r.echoLink.availabilityChanged(false);
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2   (EchoLink not available)"));
        QCOMPARE(r.get<QLabel>("NumStations")->text(), QStringLiteral("?"));
        r.echoLink.calls.clear();
        QVERIFY(QMetaObject::invokeMethod(&r.w.timer1(), "timeout"));
        QVERIFY(r.echoLink.calls.isEmpty() && r.w.timer1().isActive());
        r.echoLink.ownCallsign = QStringLiteral("N2NEW");
        Q_EMIT r.echoLink.availabilityChanged(r.echoLink.available = true);
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N2NEW   v1.2"));
        r.echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        Q_EMIT r.echoLink.availabilityChanged(true);
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N2NEW   v1.2"));
        const QString said = QStringLiteral("Message from  N1XYZ: hello,EchoLink is not available.,EchoLink is back.");
        QCOMPARE(r.voice.spoken.mid(0, 3).join(QLatin1Char(',')), said);
        controls::flushLog(r.get<QPlainTextEdit>("IncomingText"));
        QCOMPARE(r.get<QPlainTextEdit>("IncomingText")->toPlainText(),
                 QStringLiteral("Incoming Text\nN1XYZ (09:05)>hello\n"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
