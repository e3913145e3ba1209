// SPDX-License-Identifier: GPL-3.0-or-later
#include "Controls.h"
#include "DataRow.h"
#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeInternetOptions.h"
#include "FakeVoice.h"
#include "SettingsStore.h"
#include "TextMessageTTS.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

struct Rig {
    QTemporaryDir dir;
    FakeEchoLinkClient echoLink;
    FakeVoice voice;
    FakeClock clock;
    FakeInternetOptions internet;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<TextMessageTTS> window;

    explicit Rig(const QByteArray& fileContent = {}) {
        const QString path = dir.filePath(QStringLiteral("parlevox.ini"));
        if (!fileContent.isNull()) {
            QFile f(path);
            if (f.open(QIODevice::WriteOnly)) {
                f.write(fileContent);
            }
        }
        store = std::make_unique<SettingsStore>(path);
    }
    TextMessageTTS& load() {
        window = std::make_unique<TextMessageTTS>(TextMessageTTS::Services{echoLink, voice, clock, *store, internet});
        QString error;
        if (!window->Form_Load(&error)) {
            qFatal("Form_Load failed: %s", qPrintable(error));
        }
        return *window;
    }
    QByteArray fileText() const {
        QFile f(store->filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    template <typename W> W* get(const char* name) const {
        auto* w = window->findChild<W*>(QString::fromLatin1(name));
        if (w == nullptr) {
            qFatal("no control %s", name);
        }
        return w;
    }
    // A log's text once the event loop has come round.
    QString logText(const char* name) const {
        auto* log = get<QPlainTextEdit>(name);
        controls::flushLog(log);
        return log->toPlainText();
    }
};

int check(const Rig& r, const char* name) {
    const Qt::CheckState s = r.get<QCheckBox>(name)->checkState();
    return s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 0;
}

// One timer tick, now.
void tick(QTimer& timer) {
    QVERIFY(QMetaObject::invokeMethod(&timer, "timeout"));
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layout_everyControlHasItsNameCaptionAndPlace() {
        Rig r;
        TextMessageTTS& w = r.load();
        QCOMPARE(w.size(), QSize(632, 617));
        QCOMPARE(r.get<QGroupBox>("Frame5")->title(), QStringLiteral("Linkmates"));
        QCOMPARE(r.get<QGroupBox>("Frame5")->geometry(), QRect(8, 8, 225, 145));
        QCOMPARE(r.get<QGroupBox>("Frame8")->geometry(), QRect(464, 8, 161, 385));
        QCOMPARE(controls::withoutMnemonic(r.get<QPushButton>("Command7")->text()), QStringLiteral("Con/Disc"));
        QCOMPARE(r.get<QCheckBox>("Check8")->text(), QStringLiteral("Stay Con"));
        QCOMPARE(r.get<QLineEdit>("Text8")->geometry(), QRect(8, 112, 73, 19));
        QCOMPARE(r.get<QLabel>("ShowTime")->text(), QStringLiteral("00:00:00"));
        QCOMPARE(r.get<QGroupBox>("Frame3")->title(),
                 QStringLiteral("Text Filter              Filter Text Messages Containing The Words  "));
        QCOMPARE(r.get<QLineEdit>("FilterText6")->geometry(), QRect(120, 40, 97, 19));
        QCOMPARE(r.get<QPushButton>("TxRx")->geometry(), QRect(120, 552, 241, 57));
        QVERIFY(r.get<QPushButton>("TxRx")->font().bold());
        QCOMPARE(controls::withoutMnemonic(r.get<QPushButton>("Exit")->text()), QStringLiteral("Exit / Save"));
        QCOMPARE(controls::withoutMnemonic(r.get<QPushButton>("Command13")->text()),
                 QStringLiteral("Show Internet Options"));
    }

    void layout_screenReaderCanNameAndReachEveryControl() {
        Rig r;
        TextMessageTTS& w = r.load();
        for (QWidget* child : w.findChildren<QWidget*>()) {
            if (qobject_cast<QPushButton*>(child) || qobject_cast<QCheckBox*>(child) ||
                qobject_cast<QLineEdit*>(child) || qobject_cast<QPlainTextEdit*>(child)) {
                QVERIFY2(!child->accessibleName().isEmpty(), qPrintable(child->objectName()));
                QVERIFY2(child->focusPolicy() & Qt::TabFocus, qPrintable(child->objectName()));
            }
        }
        // Value labels read their value, not only a fixed name.
        QCOMPARE(r.get<QLabel>("NumStations")->accessibleName(), QStringLiteral("Number of stations connected: 0"));
        QCOMPARE(r.get<QLabel>("Label2")->accessibleName(), QStringLiteral("Last connected node: None"));
        // Tab order runs through the favourites first.
        QCOMPARE(r.get<QLineEdit>("Text4")->nextInFocusChain(), r.get<QPushButton>("Command4"));
        QCOMPARE(r.get<QCheckBox>("Check4")->nextInFocusChain(), r.get<QLineEdit>("Text5"));
    }

    // Before any text has come: a stray key, or Ctrl+A and a key, changes nothing, yet a screen reader finds
    // read-only text it can walk with the caret, select and copy from.
    void logs_refuseKeysFromTheStart_butCanBeWalkedSelectedAndCopied_data() {
        QTest::addColumn<QString>("log");
        row("sent log", "ReceivedText");
        row("incoming log", "IncomingText");
        row("call history", "CallHistory");
    }
    void logs_refuseKeysFromTheStart_butCanBeWalkedSelectedAndCopied() {
        QFETCH(QString, log);
        Rig r;
        TextMessageTTS& w = r.load();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto* view = r.get<QPlainTextEdit>(qPrintable(log));
        controls::appendToLog(view, QStringLiteral("N1XYZ>kept\n"));
        const QString before = r.logText(qPrintable(log));
        view->setFocus();
        QVERIFY(view->hasFocus());

        QTest::keyClicks(view, QStringLiteral("wipe"));
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), before);
        for (const Qt::Key key : {Qt::Key_X, Qt::Key_Delete, Qt::Key_Backspace, Qt::Key_Return}) {
            QTest::keyClick(view, key);
        }
        QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(view->toPlainText(), before);

        QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(view->textCursor().position(), 0);
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->textCursor().blockNumber(), 1);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(view);
        QVERIFY(accessible != nullptr && accessible->state().readOnly && accessible->state().focusable);
    }

    void formLoad_captionWithCallsign_addonsPageAndTimers_orFailsWithoutCallsign() {
        Rig r;
        TextMessageTTS& w = r.load();
        QCOMPARE(w.windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2"));
        QCOMPARE(r.internet.addresses.size(), 1);
        QVERIFY(!r.internet.addresses.first().isEmpty());
        QCOMPARE(w.timer1().isActive() ? w.timer1().interval() : 0, 1000);
        QCOMPARE(w.timer4().isActive() ? w.timer4().interval() : 0, 30000);
        Rig empty;
        empty.echoLink.ownCallsign.clear();
        QCOMPARE(empty.load().windowTitle(), QStringLiteral("Parlevox       v1.2"));

        Rig none;
        none.echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        TextMessageTTS failed({none.echoLink, none.voice, none.clock, *none.store, none.internet});
        QString error;
        QVERIFY(!failed.Form_Load(&error));
        QVERIFY(error.contains(QStringLiteral("callsign")));
    }

    // Expected values: "name=value", a check box as 0/1/2, a text box as its text.
    void load_readsFileOrDefaults_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("no file: defaults")
            << QByteArray() << QStringList{QStringLiteral("Check1=1"),     QStringLiteral("Check2=1"),
                                           QStringLiteral("Check3=1"),     QStringLiteral("ConDisc=1"),
                                           QStringLiteral("OnHour=0"),     QStringLiteral("QuarterHour=0"),
                                           QStringLiteral("HalfHour=0"),   QStringLiteral("Text4="),
                                           QStringLiteral("Text8="),       QStringLiteral("FilterText1="),
                                           QStringLiteral("FilterText8="), QStringLiteral("Callsign=")};
        QTest::newRow("keys match without regard to case")
            << QByteArray("[settings]\ntext4=N0CALL\nFilterText2=spam\nCHECK2=0\nTxHalfHour=1\ncallsign=W1AW-L\n")
            << QStringList{QStringLiteral("Text4=N0CALL"), QStringLiteral("FilterText2=spam"),
                           QStringLiteral("Callsign=W1AW-L"), QStringLiteral("Check2=0"), QStringLiteral("HalfHour=1")};
        QTest::newRow("bad values fall back to defaults, greyed is kept")
            << QByteArray("[SETTINGS]\nLEFT=abc\nTOP=\nCHECK1=7\nCHECK2=-1\nCHECK3=x\nCONDISC=2\nTXTIMEHOUR=nan\n")
            << QStringList{QStringLiteral("Check1=1"), QStringLiteral("Check2=1"), QStringLiteral("Check3=1"),
                           QStringLiteral("ConDisc=2"), QStringLiteral("OnHour=0")};
        QTest::newRow("position off every screen is brought back")
            << QByteArray("[SETTINGS]\nLEFT=9000000\nTOP=-450000\n") << QStringList{};
    }
    void load_readsFileOrDefaults() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        Rig r(file);
        TextMessageTTS& w = r.load();
        QCOMPARE(w.pos(), QPoint(20, 20));
        for (const QString& pair : expected) {
            const QString name = pair.section(QLatin1Char('='), 0, 0);
            auto* box = w.findChild<QCheckBox*>(name);
            const QString value = box != nullptr ? QString::number(check(r, qPrintable(name)))
                                                 : r.get<QLineEdit>(qPrintable(name))->text();
            QCOMPARE(name + QLatin1Char('=') + value, pair);
        }
        QCOMPARE(QFile::exists(r.store->filePath()), !file.isNull());
    }

    void save_freshFile_holdsEveryKeyInOrder() {
        Rig r;
        TextMessageTTS& w = r.load();
        r.get<QLineEdit>("Text5")->setText(QStringLiteral("N0CALL-R"));
        r.get<QCheckBox>("QuarterHour")->setChecked(true);
        w.move(40, 60);
        QVERIFY(w.SaveData());
        const QByteArray first = r.fileText();
        QStringList keys = QString::fromUtf8(first).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(keys.takeFirst(), QStringLiteral("[SETTINGS]"));
        for (QString& key : keys) {
            key = key.section(QLatin1Char('='), 0, 0);
        }
        QCOMPARE(keys,
                 QStringList(
                     {QStringLiteral("LEFT"),        QStringLiteral("TOP"),           QStringLiteral("CHECK1"),
                      QStringLiteral("CHECK2"),      QStringLiteral("CHECK3"),        QStringLiteral("FILTERTEXT1"),
                      QStringLiteral("FILTERTEXT2"), QStringLiteral("FILTERTEXT3"),   QStringLiteral("FILTERTEXT4"),
                      QStringLiteral("FILTERTEXT5"), QStringLiteral("FILTERTEXT6"),   QStringLiteral("FILTERTEXT7"),
                      QStringLiteral("FILTERTEXT8"), QStringLiteral("TEXT4"),         QStringLiteral("TEXT5"),
                      QStringLiteral("TEXT6"),       QStringLiteral("TEXT7"),         QStringLiteral("TEXT8"),
                      QStringLiteral("TXTIMEHOUR"),  QStringLiteral("TXQUARTERHOUR"), QStringLiteral("TXHALFHOUR"),
                      QStringLiteral("CONDISC"),     QStringLiteral("CALLSIGN"),      QStringLiteral("HOLDSPEECH")}));
        for (const char* line : {"\nLEFT=600\n", "\nTOP=900\n", "\nTEXT5=N0CALL-R\n", "\nTXQUARTERHOUR=1\n"}) {
            QVERIFY2(first.contains(line), line);
        }
    }

    void save_unmovedWindowKeepsItsTwips_movedOneWritesItsPlace_data() {
        QTest::addColumn<QPoint>("moveTo"); // null: not moved
        QTest::addColumn<QByteArray>("saved");
        row("not moved", QPoint(), QByteArray("[SETTINGS]\nLEFT=307\nTOP=452.5\n"));
        row("moved", QPoint(40, 60), QByteArray("[SETTINGS]\nLEFT=600\nTOP=900\n"));
    }
    void save_unmovedWindowKeepsItsTwips_movedOneWritesItsPlace() {
        QFETCH(QPoint, moveTo);
        QFETCH(QByteArray, saved);
        Rig r(QByteArray("[SETTINGS]\nLEFT=307\nTOP=452.5\n"));
        TextMessageTTS& w = r.load();
        QCOMPARE(w.pos(), QPoint(20, 30));
        if (!moveTo.isNull()) {
            w.move(moveTo);
        }
        QVERIFY(w.SaveData());
        QVERIFY2(r.fileText().startsWith(saved), r.fileText().constData());
    }

    // HOLDSPEECH decides whether a chat waits while a transmission is heard or sent; a save keeps it.
    void holdSpeech_fromFile_holdsOrNot_andIsSaved_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("transmit"); // else the station hears one
        QTest::addColumn<bool>("holds");
        QTest::addColumn<QByteArray>("saved");
        row("no file, receiving", QByteArray(), false, true, QByteArray("\nHOLDSPEECH=1\n"));
        row("no file, transmitting", QByteArray(), true, true, QByteArray("\nHOLDSPEECH=1\n"));
        row("0, receiving", QByteArray("[SETTINGS]\nHOLDSPEECH=0\n"), false, false, QByteArray("\nHOLDSPEECH=0\n"));
        row("0, transmitting", QByteArray("[SETTINGS]\nholdspeech= 0\n"), true, false, QByteArray("\nholdspeech=0\n"));
        row("not 0 or 1: default", QByteArray("[SETTINGS]\nHOLDSPEECH=2\n"), false, true,
            QByteArray("\nHOLDSPEECH=1\n"));
    }
    void holdSpeech_fromFile_holdsOrNot_andIsSaved() {
        QFETCH(QByteArray, file);
        QFETCH(bool, transmit);
        QFETCH(bool, holds);
        QFETCH(QByteArray, saved);
        Rig r(file);
        TextMessageTTS& w = r.load();
        if (transmit) {
            r.echoLink.transmitting = true;
            tick(w.timer1());
        } else {
            Q_EMIT r.echoLink.ReceivingChanged(true, QStringLiteral("N1XYZ"));
        }
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>hello"));
        QCOMPARE(r.voice.spoken.isEmpty(), holds);
        QCOMPARE(r.voice.waiting.size(), holds ? 1 : 0);
        QVERIFY(w.SaveData());
        QVERIFY2(r.fileText().contains(saved), r.fileText().constData());
    }

    void saveAndExitButtons_saveBothFiles_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("ends");
        QTest::newRow("Save goes on") << "SaveIt" << false;
        QTest::newRow("Exit / Save ends") << "Exit" << true;
    }
    void saveAndExitButtons_saveBothFiles() {
        QFETCH(QString, button);
        QFETCH(bool, ends);
        Rig r;
        TextMessageTTS& w = r.load();
        QSignalSpy ended(&w, &TextMessageTTS::endRequested);
        r.get<QPushButton>(qPrintable(button))->click();
        QVERIFY(QFile::exists(r.store->filePath()));
        QCOMPARE(r.internet.saves, 1);
        QCOMPARE(ended.count(), ends ? 1 : 0);
        QCOMPARE(w.timer1().isActive(), !ends);
    }

    void saveOrExit_whenSaveFails_staysOpenNamingFilesAndReasons_data() { saveAndExitButtons_saveBothFiles_data(); }
    void saveOrExit_whenSaveFails_staysOpenNamingFilesAndReasons() {
        QFETCH(QString, button);
        Rig r;
        const QString folder = r.dir.filePath(QStringLiteral("config"));
        r.store = std::make_unique<SettingsStore>(folder + QStringLiteral("/parlevox.ini"));
        QFile blocker(folder); // a file where the folder should be: unwritable even for root
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        r.internet.saveSucceeds = false;
        TextMessageTTS& w = r.load();
        QSignalSpy ended(&w, &TextMessageTTS::endRequested);

        r.get<QPushButton>(qPrintable(button))->click();
        auto* box = w.findChild<QMessageBox*>();
        QVERIFY(box != nullptr && box->isVisible());
        for (const QString& part :
             {r.store->filePath(), QStringLiteral("Cannot create the folder"), r.internet.saveFailure}) {
            QVERIFY2(box->text().contains(part), qPrintable(box->text()));
        }
        QCOMPARE(ended.count(), 0);
        QVERIFY(w.timer1().isActive());
        box->close();

        // Once the place is writable again, the next save works.
        QVERIFY(QFile::remove(folder));
        r.internet.saveSucceeds = true;
        r.get<QPushButton>("SaveIt")->click();
        QVERIFY(r.fileText().contains("[SETTINGS]"));
    }

    // The close box ends without saving; the station's Closing (the internet window's arrives too) saves once.
    void closeBoxEndsWithoutSaving_stationClosingSavesOnceAndEnds() {
        for (const bool byStation : {false, true}) {
            Rig r;
            TextMessageTTS& w = r.load();
            w.show();
            QSignalSpy ended(&w, &TextMessageTTS::endRequested);
            r.get<QLineEdit>("Text6")->setText(QStringLiteral("KEPT"));
            if (byStation) {
                Q_EMIT r.echoLink.Closing();
                Q_EMIT r.echoLink.Closing();
                w.EchoLink_Closing();
            } else {
                w.close();
            }
            QCOMPARE(ended.count(), 1);
            QCOMPARE(r.internet.saves, byStation ? 1 : 0);
            QCOMPARE(r.fileText().contains("TEXT6=KEPT"), byStation);
        }
    }

    void stationVanishes_windowSaysSoAndKeepsLogs_thenNewStationIsShownAndSpoken() {
        Rig r;
        TextMessageTTS& w = r.load();
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>kept"));
        const QString log = r.logText("IncomingText");
        r.voice.spoken.clear();

        r.echoLink.available = false;
        Q_EMIT r.echoLink.availabilityChanged(false);
        QCOMPARE(w.windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2   (EchoLink not available)"));
        QCOMPARE(r.get<QLabel>("NumStations")->text(), QStringLiteral("?"));
        QVERIFY(r.get<QLabel>("NumStations")->accessibleName().contains(QStringLiteral("EchoLink is not available")));
        QCOMPARE(r.voice.spoken, QStringList{QStringLiteral("EchoLink is not available.")});
        // Ticks go on without asking the station and leave the display as it is.
        r.echoLink.calls.clear();
        tick(w.timer1());
        tick(w.timer4());
        QVERIFY(r.echoLink.callsTo(QStringLiteral("ConnectedCount")).isEmpty());
        QCOMPARE(r.get<QLabel>("NumStations")->text(), QStringLiteral("?"));
        QCOMPARE(r.logText("IncomingText"), log);
        QVERIFY(w.timer1().isActive());

        r.echoLink.ownCallsign = QStringLiteral("N2NEW");
        r.echoLink.available = true;
        r.echoLink.count = 3;
        Q_EMIT r.echoLink.availabilityChanged(true);
        QCOMPARE(w.windowTitle(), QStringLiteral("Parlevox    N2NEW   v1.2"));
        QCOMPARE(r.voice.spoken.last(), QStringLiteral("EchoLink is back."));
        QCOMPARE(r.voice.spoken.size(), 2);
        tick(w.timer1());
        QCOMPARE(r.get<QLabel>("NumStations")->accessibleName(), QStringLiteral("Number of stations connected: 3"));
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N3ABC>after"));
        QVERIFY(r.logText("IncomingText").startsWith(log));
    }

    void stationBackWithoutCallsign_keepsTheOldOne_andEndingSilencesTheNews() {
        Rig r;
        TextMessageTTS& w = r.load();
        Q_EMIT r.echoLink.availabilityChanged(false);
        r.echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        Q_EMIT r.echoLink.availabilityChanged(true);
        QCOMPARE(w.windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2"));

        r.voice.spoken.clear();
        w.close();
        Q_EMIT r.echoLink.availabilityChanged(false);
        QVERIFY(r.voice.spoken.isEmpty());
    }

    void chat_receivedAndTypedLinesReachTheirLogsUntilTheProgramEnds() {
        Rig r;
        TextMessageTTS& w = r.load();
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>hello"));
        QCOMPARE(r.logText("IncomingText"), QStringLiteral("Incoming Text\nN1XYZ (09:05)>hello\n"));
        QCOMPARE(r.voice.spoken, QStringList{QStringLiteral("Message from  N1XYZ: hello")});

        r.get<QLineEdit>("TextTX")->setText(QStringLiteral("hi"));
        r.get<QPushButton>("Send")->click();
        QCOMPARE(r.echoLink.sentChat, QStringList{QStringLiteral("(09:05) >hi")});
        QCOMPARE(r.logText("ReceivedText"), QStringLiteral("Text Sent\nN0CALL> (09:05) >hi\n"));

        w.close();
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>too late"));
        QCOMPARE(r.voice.spoken.size(), 1);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
