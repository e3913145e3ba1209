// SPDX-License-Identifier: GPL-3.0-or-later
#include "Controls.h"
#include "DataRow.h"
#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeInternetOptions.h"
#include "FakeVoice.h"
#include "SettingsStore.h"
#include "TextMessageTTS.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
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
        : store(dir.filePath(QLatin1String(name))) {
        QFile f(store.filePath());
        QVERIFY(file == QLatin1String("-") || (f.open(QIODevice::WriteOnly) && f.write(file.toLatin1()) >= 0));
    }
    TextMessageTTS& load() {
        if (!w.Form_Load(nullptr)) {
            qFatal("Form_Load failed");
        }
        return w;
    }
    QByteArray file() const {
        QFile f(store.filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    template <typename W = QWidget> W* get(const QString& name) const { return w.findChild<W*>(name); }
    QString log(const char* name) const {
        controls::flushLog(get<QPlainTextEdit>(QLatin1String(name)));
        return get<QPlainTextEdit>(QLatin1String(name))->toPlainText();
    }
};

// "Name=value ..." of check boxes (0/1/2) and text boxes.
QString values(const Rig& r, const QString& names) {
    QStringList out;
    for (const QString& name : names.split(QLatin1Char(' '))) {
        auto* box = r.get<QCheckBox>(name);
        out << name + QLatin1Char('=') +
                   (box ? QString::number(controls::checkValue(box)) : r.get<QLineEdit>(name)->text());
    }
    return out.join(QLatin1Char(' '));
}

void tick(QTimer& timer) {
    QVERIFY(QMetaObject::invokeMethod(&timer, "timeout"));
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layout_controlHasItsPlaceAndCaption_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("caption");
        row("linkmates", "Frame5", QRect(8, 8, 225, 145), "Linkmates");
        row("history", "Frame8", QRect(464, 8, 161, 385), "Call Connect History");
        row("transmit", "TxRx", QRect(120, 552, 241, 57), "Transmit / Receive");
        row("exit", "Exit", QRect(496, 592, 129, 17), "Exit / Save");
    }
    void layout_controlHasItsPlaceAndCaption() {
        QFETCH(QString, name);
        Rig r;
        QWidget* c = r.get(name);
        QTEST(c->geometry(), "place");
        const QVariant text = c->property(qobject_cast<QGroupBox*>(c) ? "title" : "text");
        QTEST(controls::withoutMnemonic(text.toString()), "caption");
        QCOMPARE(r.w.size(), QSize(632, 617));
    }

    void formLoad_captionAddonsPageAndTimers_orFailsWithoutCallsign() {
        Rig r;
        QCOMPARE(r.load().windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2"));
        QVERIFY(r.internet.addresses.size() == 1 && !r.internet.addresses[0].isEmpty());
        QVERIFY(r.w.timer1().isActive() && r.w.timer1().interval() == 1000);
        QVERIFY(r.w.timer4().isActive() && r.w.timer4().interval() == 30000);
        Rig none;
        none.echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        QString error;
        QVERIFY(!none.w.Form_Load(&error) && error.contains(QStringLiteral("callsign")));
    }

    void load_readsFileOrDefaults_data() {
        QTest::addColumn<QString>("file"); // "-": none
        QTest::addColumn<QString>("values");
        row("no file", "-", "Check1=1 Check2=1 Check3=1 ConDisc=1 OnHour=0 HalfHour=0 Text4= FilterText8= Callsign=");
        row("any case", "[settings]\ntext4=N0CALL\nFilterText2=x\nCHECK2=0\nTxHalfHour=1\n",
            "Text4=N0CALL FilterText2=x Check2=0 HalfHour=1");
        row("bad values", "[SETTINGS]\nLEFT=abc\nTOP=\nCHECK1=7\nCHECK2=-1\nCONDISC=2\nTXTIMEHOUR=nan\n",
            "Check1=1 Check2=1 ConDisc=2 OnHour=0");
        row("off every screen", "[SETTINGS]\nLEFT=9000000\nTOP=-450000\n", "Check1=1");
    }
    void load_readsFileOrDefaults() {
        QFETCH(QString, file);
        QFETCH(QString, values);
        Rig r(file);
        QCOMPARE(r.load().pos(), QPoint(20, 20));
        QCOMPARE(::values(r, QString(values).remove(QRegularExpression(QStringLiteral("=\\S*")))), values);
        QCOMPARE(QFile::exists(r.store.filePath()), file != QLatin1String("-"));
    }

    void save_writesEveryKeyInOrder_unmovedWindowKeepsItsTwips() {
        Rig r(QStringLiteral("[SETTINGS]\nLEFT=307\nTOP=452.5\n"));
        QCOMPARE(r.load().pos(), QPoint(20, 30));
        r.get<QLineEdit>(QStringLiteral("Text5"))->setText(QStringLiteral("N0CALL-R"));
        QVERIFY(r.w.SaveData());
        QString keys = QString::fromLatin1(r.file());
        QCOMPARE(keys.replace(QRegularExpression(QStringLiteral("=[^\n]*\n")), QStringLiteral(" ")),
                 QStringLiteral("[SETTINGS]\nLEFT TOP CHECK1 CHECK2 CHECK3 FILTERTEXT1 FILTERTEXT2 FILTERTEXT3 "
                                "FILTERTEXT4 FILTERTEXT5 FILTERTEXT6 FILTERTEXT7 FILTERTEXT8 TEXT4 TEXT5 TEXT6 TEXT7 "
                                "TEXT8 TXTIMEHOUR TXQUARTERHOUR TXHALFHOUR CONDISC CALLSIGN HOLDSPEECH "));
        QVERIFY(r.file().contains("\nLEFT=307\nTOP=452.5\n") && r.file().contains("\nTEXT5=N0CALL-R\n"));
        r.w.move(40, 60);
        QVERIFY(r.w.SaveData() && r.file().startsWith("[SETTINGS]\nLEFT=600\nTOP=900\n"));
    }

    // Whether a chat waits while a transmission is heard or sent; a save keeps the setting.
    void holdSpeech_fromFile_holdsOrNot_andIsSaved_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("transmit"); // else the station hears one
        QTest::addColumn<bool>("holds");
        QTest::addColumn<QByteArray>("saved");
        row("no file, transmitting", "-", true, true, QByteArray("\nHOLDSPEECH=1\n"));
        row("0, receiving", "[SETTINGS]\nholdspeech= 0\n", false, false, QByteArray("\nholdspeech=0\n"));
        row("not 0 or 1: default", "[SETTINGS]\nHOLDSPEECH=2\n", false, true, QByteArray("\nHOLDSPEECH=1\n"));
    }
    void holdSpeech_fromFile_holdsOrNot_andIsSaved() {
        QFETCH(QString, file);
        QFETCH(bool, transmit);
        QFETCH(QByteArray, saved);
        Rig r(file);
        r.load();
        r.echoLink.transmitting = transmit;
        transmit ? tick(r.w.timer1()) : Q_EMIT r.echoLink.ReceivingChanged(true, QStringLiteral("N1XYZ"));
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>hello"));
        QTEST(!r.voice.waiting.isEmpty(), "holds");
        QVERIFY(r.w.SaveData());
        QVERIFY(r.file().contains(saved));
    }

    // Save goes on, Exit / Save ends; neither ends when a file cannot be written, and both say which and why.
    void saveAndExitButtons_saveBothFiles_orSayWhyNot_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("fails");
        row("save", "SaveIt", false);
        row("exit", "Exit", false);
        row("save fails", "SaveIt", true);
        row("exit fails", "Exit", true);
    }
    void saveAndExitButtons_saveBothFiles_orSayWhyNot() {
        QFETCH(QString, button);
        QFETCH(bool, fails);
        Rig r(QStringLiteral("-"), "config/p.ini");
        QVERIFY(!fails ||
                QFile(r.dir.filePath(QStringLiteral("config"))).open(QIODevice::WriteOnly)); // even root fails
        r.internet.saveSucceeds = !fails;
        TextMessageTTS& w = r.load();
        QSignalSpy ended(&w, &TextMessageTTS::endRequested);
        w.findChild<QPushButton*>(button)->click();
        QCOMPARE(ended.count(), !fails && button == QLatin1String("Exit") ? 1 : 0);
        QCOMPARE(w.timer1().isActive(), ended.isEmpty());
        QCOMPARE(QFile::exists(r.store.filePath()), !fails);
        auto* box = w.findChild<QMessageBox*>();
        QCOMPARE(box != nullptr, fails);
        for (const QString& part :
             {r.store.filePath(), QStringLiteral("Cannot create the folder"), r.internet.saveFailure}) {
            QVERIFY2(!fails || box->text().contains(part), qPrintable(part));
        }
    }

    // The close box ends without saving; the station's Closing (the internet window's comes too) saves once.
    void closeBoxEndsWithoutSaving_stationClosingSavesOnceAndEnds_data() {
        QTest::addColumn<bool>("byStation");
        row("close box", false);
        row("station closing", true);
    }
    void closeBoxEndsWithoutSaving_stationClosingSavesOnceAndEnds() {
        QFETCH(bool, byStation);
        Rig r;
        QSignalSpy ended(&r.load(), &TextMessageTTS::endRequested);
        r.get<QLineEdit>(QStringLiteral("Text6"))->setText(QStringLiteral("KEPT"));
        if (byStation) {
            Q_EMIT r.echoLink.Closing();
            Q_EMIT r.echoLink.Closing();
            r.w.EchoLink_Closing();
        } else {
            r.w.close();
        }
        QVERIFY(ended.count() == 1 && !r.w.timer1().isActive());
        QCOMPARE(r.internet.saves, byStation ? 1 : 0);
        QCOMPARE(r.file().contains("TEXT6=KEPT"), byStation);
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>too late"));
        Q_EMIT r.echoLink.availabilityChanged(false);
        QVERIFY(r.voice.spoken.isEmpty());
    }

    void stationVanishes_saidAndLogsKept_thenNewStationShownAndSpoken() {
        Rig r;
        r.load();
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>hello"));
        QCOMPARE(r.log("IncomingText"), QStringLiteral("Incoming Text\nN1XYZ (09:05)>hello\n"));
        r.get<QLineEdit>(QStringLiteral("TextTX"))->setText(QStringLiteral("hi"));
        r.get<QPushButton>(QStringLiteral("Send"))->click();
        QCOMPARE(r.log("ReceivedText"), QStringLiteral("Text Sent\nN0CALL> (09:05) >hi\n"));
        r.echoLink.available = false;
        Q_EMIT r.echoLink.availabilityChanged(false);
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2   (EchoLink not available)"));
        QCOMPARE(r.get<QLabel>(QStringLiteral("NumStations"))->text(), QStringLiteral("?"));
        QCOMPARE(r.voice.spoken.last(), QStringLiteral("EchoLink is not available."));
        r.echoLink.calls.clear();
        tick(r.w.timer1());
        QVERIFY(r.echoLink.calls.isEmpty() && r.w.timer1().isActive());
        r.echoLink.ownCallsign = QStringLiteral("N2NEW");
        r.echoLink.available = true;
        Q_EMIT r.echoLink.availabilityChanged(true);
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N2NEW   v1.2"));
        QCOMPARE(r.voice.spoken.last(), QStringLiteral("EchoLink is back."));
        r.echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        Q_EMIT r.echoLink.availabilityChanged(true);
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N2NEW   v1.2"));
        QVERIFY(r.log("IncomingText").startsWith(QStringLiteral("Incoming Text\nN1XYZ (09:05)>hello\n")));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
