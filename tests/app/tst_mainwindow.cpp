// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "MainWindowRig.h"
#include "app/SpeechHold.h"
#include "app/TextMessageTTS.h"
#include "internet/Form1.h"
#include "platform/SettingsStore.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

// The window on config/p.ini ("-": no file), loaded, beside an internet window.
struct Rig : MainWindowRig {
    QTemporaryDir dir;
    SettingsStore store;
    TextMessageTTS w{{echoLink, voice, clock, store, internet}};
    SettingsStore internetStore{dir.filePath(QStringLiteral("parlevoxinet.ini"))};
    Form1 form{internetStore, nullptr, {}}; // the internet window, on a station of its own

    explicit Rig(const QString& file = QStringLiteral("-"))
        : store(written(dir.filePath(QStringLiteral("config/p.ini")), file)) {
        QVERIFY(w.Form_Load(nullptr));
    }
    // SettingsStore reads its file when made.
    static QString written(const QString& path, const QString& file) {
        const bool ok =
            file == QLatin1String("-") || (QDir().mkpath(QFileInfo(path).path()) && writeFile(path, file.toLatin1()));
        return ok ? path : QString();
    }
    QByteArray file() const { return readFile(store.filePath()); }
    template <typename W = QWidget> W* get(const char* name) const { return w.findChild<W*>(QLatin1String(name)); }
};

QAccessibleInterface* accessible(QObject* object) {
    return QAccessible::queryAccessibleInterface(object);
}

} // namespace

// What a screen reader finds in both windows is here too; Orca itself reads them in tests/e2e.
class MainWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Many users cannot see the caption: the station going and coming back is spoken too.
    void formLoad_thenStationVanishesAndComesBack_captionAndSpeechFollow_noLoadWithoutCallsign() {
        Rig r;
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2"));
        QVERIFY(r.w.size() == QSize(632, 617) && r.get("Frame8")->geometry() == QRect(464, 8, 161, 385));
        QVERIFY(r.internet.addresses.size() == 1 && !r.internet.addresses[0].isEmpty() && r.w.timer4().isActive());
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>hello"));
        Q_EMIT r.echoLink.availabilityChanged(r.echoLink.available = false);
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N0CALL   v1.2   (EchoLink not available)"));
        QVERIFY(r.get<QLabel>("NumStations")->text() == QStringLiteral("?") && r.w.timer1().isActive());
        r.echoLink.ownCallsign = QStringLiteral("N2NEW");
        Q_EMIT r.echoLink.availabilityChanged(r.echoLink.available = true);
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N2NEW   v1.2"));
        r.echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        Q_EMIT r.echoLink.availabilityChanged(true);
        QCOMPARE(r.w.windowTitle(), QStringLiteral("Parlevox    N2NEW   v1.2"));
        const QString said = QStringLiteral("Message from  N1XYZ: hello,EchoLink is not available.,EchoLink is back.");
        QCOMPARE(r.voice.spoken.mid(0, 3).join(QLatin1Char(',')), said);
        QCOMPARE(logText(r.get<QPlainTextEdit>("IncomingText")),
                 QStringLiteral("Incoming Text\nN1XYZ (09:05)>hello\n"));
        QString error;
        QVERIFY(!r.w.Form_Load(&error) && error.contains(QStringLiteral("callsign")));
    }

    // Values: check boxes 0/1/2, text boxes their text. Hold: whether a chat waits while the station transmits.
    void settings_readFromFileOrDefaults_holdSpeechSavedAgain_data() {
        columns<QString, QString, int>("file", "values", "hold"); // file "-": none
        row("no file", "-", "Check1=1 Check2=1 Check3=1 ConDisc=1 OnHour=0 Text4= FilterText8= Callsign=", 1);
        row("any case", "[settings]\ntext4=N0CALL\nCHECK2=0\nTxHalfHour=1\nholdspeech= 0\n",
            "Text4=N0CALL Check2=0 HalfHour=1", 0);
        row("bad values, off every screen",
            "[SETTINGS]\nLEFT=9000000\nTOP=-450000\nCHECK1=7\nCONDISC=2\nTXTIMEHOUR=x\nHOLDSPEECH=2\n",
            "Check1=1 ConDisc=2 OnHour=0", 1);
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
        QVERIFY(r.w.pos() == QPoint(20, 30) && r.w.SaveData());
        QCOMPARE(QString::fromLatin1(r.file()).remove(QRegularExpression(QStringLiteral("(?<!LEFT)(?<!TOP)=.*\n"))),
                 QStringLiteral("[SETTINGS]\nLEFT=307\nTOP=452.5\nCHECK1CHECK2CHECK3FILTERTEXT1FILTERTEXT2FILTERTEXT3"
                                "FILTERTEXT4FILTERTEXT5FILTERTEXT6FILTERTEXT7FILTERTEXT8TEXT4TEXT5TEXT6TEXT7TEXT8"
                                "TXTIMEHOURTXQUARTERHOURTXHALFHOURCONDISCCALLSIGNHOLDSPEECH"));
    }

    // A failed save keeps the window open and says which file and why; the close box ends unsaved; the station's
    // Closing (twice: the internet window passes it on) saves once and ends, whatever. Nothing is heard after the end.
    void endingAndSaving_data() {
        columns<QString, bool, int, bool>("action", "fails", "saves", "ends");
        row("exit ends", "Exit", false, 1, true);
        row("save fails, says so", "SaveIt", true, 1, false);
        row("exit fails, stays open", "Exit", true, 1, false);
        row("close box does not save", "close", false, 0, true);
        row("station closing ends though the save fails", "closing", true, 1, true);
    }
    void endingAndSaving() {
        QFETCH(QString, action);
        QFETCH(bool, fails);
        QFETCH(bool, ends);
        Rig r;
        QVERIFY(!fails || QFile(r.dir.filePath(QStringLiteral("config"))).open(QIODevice::WriteOnly)); // even for root
        r.internet.saveSucceeds = !fails;
        QSignalSpy ended(&r.w, &TextMessageTTS::endRequested);
        r.get<QLineEdit>("Text6")->setText(QStringLiteral("KEPT"));
        if (action == QLatin1String("close")) {
            r.w.close();
        } else if (action == QLatin1String("closing")) {
            Q_EMIT r.echoLink.Closing();
            r.w.EchoLink_Closing();
        } else {
            r.get<QPushButton>(qPrintable(action))->click();
        }
        QVERIFY(ended.count() == int(ends) && r.w.timer1().isActive() == !ends);
        QTEST(r.internet.saves, "saves");
        QCOMPARE(r.file().contains("TEXT6=KEPT"), r.internet.saves == 1 && !fails);
        const auto* box = r.w.findChild<QMessageBox*>();
        QCOMPARE(box != nullptr, fails && !ends);
        QVERIFY(!box || (box->text().contains(r.store.filePath()) && box->text().contains(r.internet.saveFailure) &&
                         box->text().contains(QStringLiteral("Cannot create the folder"))));
        Q_EMIT r.echoLink.ChatTextReceived(QStringLiteral("N1XYZ>heard only while not ended"));
        QCOMPARE(r.voice.spoken.size(), ends ? 0 : 1);
    }

    // The Connect buttons' descriptions follow the station's news, in any case, and their callsign boxes.
    void windows_everyControlNamedAndReachable_oneMnemonicPerButton_connectDescriptionsFollowStations() {
        Rig r;
        for (QWidget* window : {static_cast<QWidget*>(&r.w), static_cast<QWidget*>(&r.form)}) {
            QVERIFY(accessible(window)->role() == QAccessible::Window &&
                    accessible(window)->text(QAccessible::Name) == window->windowTitle());
            for (QWidget* c : window->findChildren<QWidget*>()) {
                if (qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
                    qobject_cast<QPlainTextEdit*>(c)) {
                    QVERIFY2(!accessible(c)->text(QAccessible::Name).isEmpty() && (c->focusPolicy() & Qt::TabFocus),
                             qPrintable(c->objectName()));
                }
            }
            QSet<QString> letters;
            for (QPushButton* button : window->findChildren<QPushButton*>()) {
                const QString mnemonic = QKeySequence::mnemonic(button->text()).toString();
                QVERIFY2(!mnemonic.isEmpty() && !letters.contains(mnemonic) &&
                             !accessible(button)->text(QAccessible::Name).contains(QLatin1Char('&')),
                         qPrintable(button->text()));
                letters << mnemonic;
            }
        }
        const auto described = [&r](const QString& box) {
            r.get<QLineEdit>("Callsign")->setText(box);
            return accessible(r.get("Command4"))->text(QAccessible::Description) + u'/' +
                   accessible(r.get("GetCall"))->text(QAccessible::Description);
        };
        r.get<QLineEdit>("Text4")->setText(QStringLiteral("QX1AB"));
        Q_EMIT r.echoLink.Connected(QStringLiteral("qx1ab"), QString(), QString());
        QCOMPARE(described(QStringLiteral("QX1AB")), QStringLiteral("connected/connected"));
        Q_EMIT r.echoLink.Disconnected(QStringLiteral("QX1AB"));
        QCOMPARE(described(QStringLiteral("QX1AB")), QStringLiteral("not connected/not connected"));
        Q_EMIT r.echoLink.Connected(QStringLiteral("QX1AB"), QString(), QString());
        r.get<QLineEdit>("Text4")->clear();
        QCOMPARE(described(QString()), QStringLiteral("not connected/not connected"));
    }

    // F2 speaks the status, F3 silences the voice, Escape closes the internet window as its close box does.
    void keys_speakStatus_silenceTheVoice_closeTheInternetWindow_data() {
        columns<QKeySequence, QStringList, int>("key", "spoken", "silenced");
        row("status", StatusKeys::speakStatusKey(),
            QStringList{QStringLiteral("Time 09:05:00. 1 station connected: Q X 1 A B. Transmitting.")}, 0);
        row("stop speech", StatusKeys::stopSpeechKey(), QStringList(), 1);
        row("escape", QKeySequence(Qt::Key_Escape), QStringList(), 0);
    }
    void keys_speakStatus_silenceTheVoice_closeTheInternetWindow() {
        QFETCH(QKeySequence, key);
        Rig r(QStringLiteral("[SETTINGS]\nHOLDSPEECH=0\n"));
        Q_EMIT r.echoLink.Connected(QStringLiteral("QX1AB"), QString(), QString());
        r.echoLink.count = 1;
        r.echoLink.transmitting = true;
        QVERIFY(QMetaObject::invokeMethod(&r.w.timer1(), "timeout"));
        r.voice.spoken.clear();
        QSignalSpy closed(&r.form, &Form1::closedByUser);
        QWidget* target = key == QKeySequence(Qt::Key_Escape) ? static_cast<QWidget*>(&r.form) : &r.w;
        target->show();
        QVERIFY(QTest::qWaitForWindowActive(target));
        QTest::keySequence(target, key);
        QTEST(r.voice.spoken, "spoken");
        QTEST(r.voice.silenced, "silenced");
        QVERIFY(closed.size() == int(target == &r.form) && !r.form.isVisible());
        QCOMPARE(QFile::exists(r.internetStore.filePath()), target == &r.form);
    }

    // "say X" speaks; "rx+/rx- C" the station hears C or stops; "tx+/tx-"; "gap"/"check" fire that timer if it runs;
    // "station true|false" is what IsReceiving answers, "fail" makes it fail; "ask"; "gone"/"back"/"closing".
    void speechHold_steps_data() {
        columns<QString, QString, bool>("steps", "spoken", "held");
        row("afterGap_allInOrder", "say A|rx+ Q1A|say B|say C|rx- Q1A|gap|say D", "A,B,C,D", false);
        row("receiveDuringTransmit_transmitEnds", "tx+|rx+ Q1A|say A|tx-|gap", "", true);
        row("receiveDuringTransmit_lastEnds", "tx+|rx+ Q1A|say A|tx-|rx- Q1A|gap", "A", false);
        row("newHoldInGap_stopsIt", "rx+ Q1A|say A|rx- Q1A|tx+|gap", "", true);
        row("settingOff_neverHolds", "off|rx+ Q1A|tx+|say A", "A", false);
        row("settingOff_releasesAtOnce", "rx+ Q1A|say A|off", "A", false);
        row("settingOn_holdsForOngoing", "off|tx+|on|say A", "", true);
        row("lostEnd_stationHearsNone", "station true|rx+ Q1A|say A|station false|check|gap", "A", false);
        row("lostEnd_stationFails", "station true|rx+ Q1A|say A|fail|check|gap", "A", false);
        row("longTransmission_stillHeard", "station true|rx+ Q1A|say A|check|gap|check|gap", "", true);
        row("stationGone_releasesAtOnce", "rx+ Q1A|tx+|say A|gone", "A", false);
        row("stationClosing_releasesAtOnce", "rx+ Q1A|tx+|say A|closing", "A", false);
        row("stationBack_hearing_holds", "gone|station true|back|say A", "", true);
        row("start_oldStation_noHold", "ask|say A", "A", false);
        row("start_stationGone_notAsked", "station true|gone|ask|say A", "A", false);
    }
    void speechHold_steps() {
        QFETCH(QString, steps);
        FakeVoice voice;
        FakeEchoLinkClient echoLink;
        SpeechHold hold(voice, echoLink, SpeechHold::Timing());
        for (const QString& step : steps.split(QLatin1Char('|'))) {
            const QString verb = step.section(QLatin1Char(' '), 0, 0), arg = step.section(QLatin1Char(' '), 1);
            const auto is = [&verb](const char* v) { return verb == QLatin1String(v); };
            if (is("say")) {
                QVERIFY(voice.speak(arg));
            } else if (is("rx+") || is("rx-")) {
                Q_EMIT echoLink.ReceivingChanged(is("rx+"), arg);
            } else if (is("tx+") || is("tx-")) {
                hold.setTransmitting(is("tx+"));
            } else if (QTimer& timer = is("gap") ? hold.gapTimer() : hold.receivingCheckTimer();
                       (is("gap") || is("check")) && timer.isActive()) {
                timer.stop();
                QVERIFY(QMetaObject::invokeMethod(&timer, "timeout"));
            } else if (is("station")) {
                echoLink.receiving = arg == QLatin1String("true");
            } else if (is("fail")) {
                echoLink.failing << QStringLiteral("IsReceiving");
            } else if (is("ask")) {
                hold.askStation();
            } else if (is("gone") || is("back")) {
                Q_EMIT echoLink.availabilityChanged(echoLink.available = is("back"));
            } else if (is("closing")) {
                Q_EMIT echoLink.Closing();
            } else if (is("off") || is("on")) {
                hold.setEnabled(is("on"));
            }
        }
        QTEST(voice.spoken.join(QLatin1Char(',')), "spoken");
        QTEST(voice.held, "held");
        QTEST(hold.isHeld(), "held");
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
