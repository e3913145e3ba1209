// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on the offscreen platform: the whole window with its settings files, and each feature's handler
// on the window's layout against fakes: speech hold, chat, clock and status refresh, station buttons and
// announcements.
#include "DataRow.h"
#include "MainWindowRig.h"
#include "app/SpeechHold.h"
#include "app/TextMessageTTS.h"
#include "chat/ChatRules.h"
#include "clock/TimeTexts.h"
#include "internet/Form1.h"
#include "platform/QrzAddress.h"
#include "platform/SettingsStore.h"
#include "stations/StationRules.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace chat;
using namespace stations;
Q_DECLARE_METATYPE(stations::StationKind)

namespace {

// The window on config/p.ini ("-": no file), loaded, beside an internet window.
struct Program : Fakes {
    QTemporaryDir dir;
    SettingsStore store;
    TextMessageTTS w{{echoLink, voice, clock, store, internet}};
    SettingsStore internetStore{dir.filePath(QStringLiteral("parlevoxinet.ini"))};
    Form1 form{internetStore, nullptr, {}}; // the internet window, on a station of its own

    explicit Program(const QString& file = QStringLiteral("-"))
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

// The lengths of the runs between the log's invisible wrap points; "changed" unless removing them gives the text.
QString wrapRuns(const QString& text) {
    const QString shown = logDisplayText(text);
    QStringList runs;
    for (const QString& run : shown.split(u'\u200B')) {
        runs << QString::number(run.size());
    }
    return QString(shown).remove(u'\u200B') == text ? runs.join(u',') : QStringLiteral("changed");
}

const QString SentHeading = QStringLiteral("Text Sent\n");
const QRegularExpression NotAnswering(QStringLiteral("^Status refresh: EchoLink is not answering"));
const QString Receiving = QStringLiteral("  Receiving       Mode #00ff00");
const QString Transmitting = QStringLiteral("Transmitting Transmitting #ff0000");

} // namespace

// What a screen reader finds in both windows is here too; Orca itself reads them in tests/e2e.
class MainWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<MainWindowRig> t;

    void receive(const QString& text) {
        t->incoming.EchoLink_ChatTextReceived(text);
        controls::flushLog(t->in.IncomingText);
    }
    QString received() const { return logText(t->in.IncomingText).mid(QStringLiteral("Incoming Text\n").size()); }
    QString sentLog() const { return logText(t->out.ReceivedText).remove(QChar(u'\u200B')); }
    void send(const QString& typed) {
        t->out.TextTX->setText(typed);
        QTest::mouseClick(t->out.Send, Qt::LeftButton);
    }

private Q_SLOTS:
    // A warning that a test does not expect fails it; the offscreen platform's notes on what it cannot do are no fault.
    void init() {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support)")));
        t = std::make_unique<MainWindowRig>();
        for (QCheckBox* box : {t->out.Check1, t->in.Check2, t->in.Check3}) {
            controls::setCheckValue(box, 1);
        }
    }
    void cleanup() { t.reset(); }

    // Many users cannot see the caption: the station going and coming back is spoken too.
    void formLoad_thenStationVanishesAndComesBack_captionAndSpeechFollow_noLoadWithoutCallsign() {
        Program r;
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
        Program r(file);
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
        Program r(QStringLiteral("[SETTINGS]\nLEFT=307\nTOP=452.5\n"));
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
        Program r;
        QVERIFY(!fails || QFile(r.dir.filePath(QStringLiteral("config"))).open(QIODevice::WriteOnly)); // even for root
        r.internet.saveSucceeds = !fails;
        if (fails) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("settings could not be saved \\(")));
        }
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
        Program r;
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
        Program r(QStringLiteral("[SETTINGS]\nHOLDSPEECH=0\n"));
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
    // "station true|false" is what IsReceiving answers, "fail" makes it fail; "ask"; "gone"/"back"/"closing"; "warn": a
    // warning that the hold was let go is due.
    void speechHold_steps_data() {
        columns<QString, QString, bool>("steps", "spoken", "held");
        row("afterGap_allInOrder", "say A|rx+ Q1A|say B|say C|rx- Q1A|gap|say D", "A,B,C,D", false);
        row("receiveDuringTransmit_transmitEnds", "tx+|rx+ Q1A|say A|tx-|gap", "", true);
        row("receiveDuringTransmit_lastEnds", "tx+|rx+ Q1A|say A|tx-|rx- Q1A|gap", "A", false);
        row("newHoldInGap_stopsIt", "rx+ Q1A|say A|rx- Q1A|tx+|gap", "", true);
        row("settingOff_neverHolds", "off|rx+ Q1A|tx+|say A", "A", false);
        row("settingOff_releasesAtOnce", "rx+ Q1A|say A|off", "A", false);
        row("settingOn_holdsForOngoing", "off|tx+|on|say A", "", true);
        row("lostEnd_stationHearsNone", "station true|rx+ Q1A|say A|station false|warn|check|gap", "A", false);
        row("lostEnd_stationFails", "station true|rx+ Q1A|say A|fail|warn|check|gap", "A", false);
        row("longTransmission_stillHeard", "station true|rx+ Q1A|say A|check|gap|check|gap", "", true);
        row("stationGone_releasesAtOnce", "rx+ Q1A|tx+|say A|gone", "A", false);
        row("stationClosing_releasesAtOnce", "rx+ Q1A|tx+|say A|closing", "A", false);
        row("stationBack_hearing_holds", "gone|station true|back|say A", "", true);
        row("start_oldStation_noHold", "ask|say A", "A", false);
        row("start_stationGone_notAsked", "station true|gone|ask|say A", "A", false);
    }
    void speechHold_steps() {
        QFETCH(QString, steps);
        SpeechHold hold(t->voice, t->echoLink, SpeechHold::Timing());
        for (const QString& step : steps.split(QLatin1Char('|'))) {
            const QString verb = step.section(QLatin1Char(' '), 0, 0), arg = step.section(QLatin1Char(' '), 1);
            const auto is = [&verb](const char* v) { return verb == QLatin1String(v); };
            if (is("say")) {
                QVERIFY(t->voice.speak(arg));
            } else if (is("rx+") || is("rx-")) {
                Q_EMIT t->echoLink.ReceivingChanged(is("rx+"), arg);
            } else if (is("tx+") || is("tx-")) {
                hold.setTransmitting(is("tx+"));
            } else if (QTimer& timer = is("gap") ? hold.gapTimer() : hold.receivingCheckTimer();
                       (is("gap") || is("check")) && timer.isActive()) {
                timer.stop();
                QVERIFY(QMetaObject::invokeMethod(&timer, "timeout"));
            } else if (is("station")) {
                t->echoLink.receiving = arg == QLatin1String("true");
            } else if (is("fail")) {
                t->echoLink.failing << QStringLiteral("IsReceiving");
            } else if (is("ask")) {
                hold.askStation();
            } else if (is("gone") || is("back")) {
                Q_EMIT t->echoLink.availabilityChanged(t->echoLink.available = is("back"));
            } else if (is("closing")) {
                Q_EMIT t->echoLink.Closing();
            } else if (is("off") || is("on")) {
                hold.setEnabled(is("on"));
            } else if (is("warn")) {
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Speech was held.*goes on now")));
            }
        }
        QTEST(t->voice.spoken.join(QLatin1Char(',')), "spoken");
        QTEST(t->voice.held, "held");
        QTEST(hold.isHeld(), "held");
    }

    void logDisplay_data() {
        columns<bool, QString, QString>("wrap", "in", "out");
        row("controls made visible, frame markers replaced, paragraph separator a break", false,
            QStringLiteral("\x07\x1b\x7f") + QChar(0) + QStringLiteral("\ta\uFDD0b\uFDD1\u2029c"),
            "\u2407\u241b\u2421\u2400\ta\uFFFDb\uFFFD\nc");
        row("long run wrapped, a no-break space no wrap point", true, QString(250, u'x') + QString(200, QChar::Nbsp),
            "200,200,50");
        row("words never wrapped", true, (QString(MaxUnbrokenRun - 1, u'y') + u' ').repeated(50), "10000");
        row("surrogate pair never split", true, u'a' + QStringLiteral("\U0001F600").repeated(301), "201,200,200,2");
    }
    void logDisplay() {
        QFETCH(bool, wrap);
        QFETCH(QString, in);
        QTEST(wrap ? wrapRuns(in) : logDisplayText(in), "out");
    }

    // "/ver/" anywhere, in lower case only, is answered without waiting, a refusal unreported, even when filtered;
    // a text during the reply comes after.
    void versionQuery_answeredWithoutWait_evenFiltered_textDuringReplyComesAfter() {
        t->echoLink.failing.insert(QStringLiteral("SendChatText"));
        t->echoLink.duringSendChatText = [this](const QString&) {
            t->echoLink.duringSendChatText = nullptr;
            receive(QStringLiteral("N1XYZ>/VER/"));
        };
        receive(QStringLiteral("/ver/N0CALL>hi"));
        t->in.FilterText.at(2)->setText(QStringLiteral("ver"));
        receive(QStringLiteral("N0CALL>/ver/"));
        QCOMPARE(t->echoLink.calls, QStringList(2, QStringLiteral("SendChatText(Parlevox  v1.2)")));
        QCOMPARE(t->echoLink.noWaitSends, 2);
        QCOMPARE(received(), QStringLiteral("/ver/N0CALL (09:05)>hi\nN1XYZ (09:05)>/VER/\n"));
    }

    void incoming_logAndSpeech_data() {
        columns<int, int, QString, QString, QString>("check2", "check3", "text", "shown", "spoken"); // stamp, announce
        row("unstamped, markup and right-to-left shown as such", 0, 1, "N0CALL-L><b>hi</b>&amp;\u05E9 \u202Ex",
            "N0CALL-L><b>hi</b>&amp;\u05E9 \u202Ex\n", "Message from  N0CALL-L:><b>hi</b>&amp;\u05E9 \u202Ex");
        row("greyed stamps, cut at the first >", 2, 1, "N0CALL-L>hi>x", "N0CALL-L (17:40)>hi>x\n",
            "Message from  N0CALL : L: hi x");
        row("announce greyed is silent; CR LF and lone CR a break each", 0, 2, "A>1\r\n2\r3", "A>1\n2\n3\n", "");
        row("no >: no sender", 1, 1, "hello", " (17:40)hello\n", "Message from  :hello");
        row("> far into a long text", 2, 0, QString(40000, u'A') + QStringLiteral(">x"),
            QString(40000, u'A') + QStringLiteral(" (17:40)>x\n"), "");
        row("megabyte without spaces, spoken whole", 0, 1, QString(1 << 20, u'x'), QString(1 << 20, u'x') + u'\n',
            QStringLiteral("Message from  :") + QString(1 << 20, u'x'));
        row("only separators", 1, 1, ">>", " (17:40)>>\n", "Message from  :  ");
    }
    void incoming_logAndSpeech() {
        QFETCH(QString, shown);
        QFETCH(int, check2);
        QFETCH(int, check3);
        QFETCH(QString, text);
        t->clock.set(17, 40);
        controls::setCheckValue(t->in.Check2, check2);
        controls::setCheckValue(t->in.Check3, check3);
        receive(text);
        QCOMPARE(received().remove(QChar(u'\u200B')), shown);
        QCOMPARE(t->in.IncomingText->document()->blockCount(), 2 + shown.count(u'\n'));
        QTEST(t->voice.spoken.join(u'|'), "spoken");
    }

    // A burst shows whole and in order; a filter word in any box drops a text, caret still to the end, newest in view.
    // Focus goes to the entry only from the entry, the log or nowhere, never from another active window, and never
    // for a dropped text; a filter word drops only texts with it in the same case.
    void incoming_burstInOrder_droppedTextsFollowTheEnd_focusToEntryOnlyFromEntryLogOrNowhere() {
        QVERIFY(t->show());
        QString expected;
        for (int i = 0; i < 300; ++i) {
            t->incoming.EchoLink_ChatTextReceived(QStringLiteral("N0CALL>%1\r\n%2").arg(i).arg(QString(60, u'z')));
            expected += QStringLiteral("N0CALL (09:05)>%1\n%2\n").arg(i).arg(QString(60, u'z'));
        }
        for (QLineEdit* box : t->in.FilterText) {
            box->setText(QStringLiteral("N0"));
            t->in.IncomingText->moveCursor(QTextCursor::Start);
            receive(QStringLiteral("N0CALL>drop me"));
            QVERIFY(t->in.IncomingText->textCursor().atEnd());
            box->clear();
        }
        QCOMPARE(received(), expected);
        QCOMPARE(t->voice.spoken.size(), 300);
        QTRY_VERIFY(newestLineInView(t->in.IncomingText));
        t->in.FilterText.at(4)->setText(QStringLiteral("drop"));
        const auto focusAfter = [this](QWidget* from, const char* text) {
            if (from != nullptr) {
                from->setFocus();
            } else if (QWidget* any = QApplication::focusWidget()) {
                any->clearFocus();
            }
            receive(QString::fromLatin1(text));
            return QApplication::focusWidget();
        };
        QCOMPARE(focusAfter(t->in.IncomingText, "N0CALL>drop me"), t->in.IncomingText);
        QCOMPARE(focusAfter(t->in.IncomingText, "N0CALL>DROP"), t->in.TextTX);
        QCOMPARE(focusAfter(t->control("Text6"), "N0CALL>hello"), t->control("Text6"));
        QCOMPARE(focusAfter(nullptr, "N0CALL>drop me"), nullptr);
        QCOMPARE(focusAfter(nullptr, "N0CALL>hello"), t->in.TextTX);
        QLineEdit other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(focusAfter(&other, "N0CALL>hello") == &other && t->window.focusWidget() == t->in.TextTX);
    }

    void outgoing_send_data() {
        columns<int, int, QString, QString>("check1", "key", "typed", "sent"); // key 0: the Send button
        row("greyed: no stamp, by Enter", 2, int(Qt::Key_Enter), "hello", "hello");
        row("empty stamped, by Return", 1, int(Qt::Key_Return), "", "(17:40) >");
        row("dot command never stamped", 1, 0, ".help", ".help");
        row("space then dot stamped at the clock's time", 1, 0, " .x", "(17:40) > .x");
        row("long line sent whole", 0, 0, QString(100000, u'q'), QString(100000, u'q'));
    }
    void outgoing_send() {
        QFETCH(int, check1);
        QFETCH(int, key);
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        QVERIFY(t->show());
        controls::setCheckValue(t->out.Check1, check1);
        t->clock.set(17, 40);
        t->out.TextTX->setText(typed);
        t->out.Send->setFocus();
        key ? QTest::keyClick(t->out.TextTX, Qt::Key(key)) : QTest::mouseClick(t->out.Send, Qt::LeftButton);
        QCOMPARE(t->echoLink.sentChat, QStringList{sent});
        t->out.ReceivedText->undo();
        QCOMPARE(sentLog(), SentHeading + QStringLiteral("N0CALL> ") + sent + u'\n');
        QVERIFY(t->out.TextTX->text().isEmpty() && t->voice.spoken.isEmpty() && t->out.TextTX->hasFocus());
    }

    // A refused line stays in the entry, unlogged, its reason told until a send goes through; the own callsign is read
    // for every line, left out when unanswered. Any key and Send show the sent log's end; About's credits replace the
    // log, each Clear button empties only its own log, lines not shown yet included, and focuses the entry.
    void outgoing_refusedThenSent_ownCallsignPerLine_logEndFollowed_aboutAndClearReplaceTheirLog() {
        QVERIFY(t->show());
        t->echoLink.failing.insert(QStringLiteral("SendChatText"));
        send(QStringLiteral("one"));
        QCOMPARE(t->out.TextTX->text(), QStringLiteral("one"));
        QCOMPARE(sentLog(), SentHeading);
        QCOMPARE(t->voice.spoken, QStringList{OutgoingChat::sendFailedSpeech()});
        QVERIFY(t->out.TextTX->toolTip().contains(QStringLiteral("send failed")) && t->out.TextTX->hasFocus() &&
                t->out.TextTX->accessibleDescription().startsWith(QStringLiteral("Message not sent")));
        t->echoLink.failing.clear();
        QTest::mouseClick(t->out.Send, Qt::LeftButton);
        QVERIFY(t->out.TextTX->toolTip().isEmpty() && t->out.TextTX->accessibleDescription().isEmpty());
        t->echoLink.ownCallsign = QStringLiteral("N1XYZ-L");
        send(QStringLiteral("two"));
        t->echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        send(QStringLiteral("three"));
        QCOMPARE(sentLog(),
                 SentHeading + QStringLiteral("N0CALL> (09:05) >one\nN1XYZ-L> (09:05) >two\n> (09:05) >three\n"));
        controls::appendToLog(t->out.ReceivedText, QString(12000, u's') + u'\n');
        controls::flushLog(t->out.ReceivedText);
        for (bool typing : {true, false}) {
            t->out.ReceivedText->moveCursor(QTextCursor::Start);
            t->out.TextTX->setFocus();
            typing ? QTest::keyClick(t->out.TextTX, Qt::Key_A) : send(QStringLiteral("last"));
            controls::flushLog(t->out.ReceivedText);
            QVERIFY(t->out.ReceivedText->textCursor().atEnd());
            QTRY_VERIFY(newestLineInView(t->out.ReceivedText));
        }
        QTest::mouseClick(t->out.About, Qt::LeftButton);
        QTest::mouseClick(t->out.About, Qt::LeftButton);
        QCOMPARE(sentLog(), chat::credits());
        controls::appendToLog(t->out.IncomingText, QStringLiteral("N1XYZ (09:05)>in\n"));
        controls::flushLog(t->out.IncomingText);
        QTest::mouseClick(t->out.Clear, Qt::LeftButton);
        QCOMPARE(sentLog(), QString());
        QCOMPARE(logText(t->out.IncomingText), QStringLiteral("Incoming Text\nN1XYZ (09:05)>in\n"));
        controls::appendToLog(t->out.IncomingText, QStringLiteral("N1XYZ (09:05)>just before\n"));
        t->out.ClearRX->setFocus();
        QTest::mouseClick(t->out.ClearRX, Qt::LeftButton);
        QTest::qWait(20);
        QCOMPARE(t->out.IncomingText->toPlainText(), QString());
        QVERIFY(t->out.TextTX->hasFocus());
    }

    // The clock's text in that locale, its spaces made narrow.
    void text_data() {
        columns<QString, QTime, QString>("locale", "time", "expected");
        row("no zone in Chinese", "zh_CN", QTime(21, 5, 7), "21:05:07");
        row("no zone nor trailing comma", "sq_AL", QTime(21, 5, 7), QStringLiteral("9:05:07\u202FE\u202FPASDITES"));
        row("Bulgarian hour sign kept", "bg_BG", QTime(21, 5, 7), QStringLiteral("21:05:07\u202F\u0447."));
    }
    void text() {
        QFETCH(QString, locale);
        QFETCH(QTime, time);
        QTEST(timetexts::clockText(QLocale(locale), time).replace(u' ', u'\u202F'), "expected");
    }

    // Readings in ms from a boundary on a fixed day: the clock when the refresh starts ("" no reading), then one a
    // tick; "boxes" are the values of the hour, quarter and half-hour boxes (2 greyed), none ticked at a tick ending in
    // "-". The station is away; the clock goes on. Spoken texts without their "The Time Is" joined by "|".
    void ticks_data() {
        columns<QTime, QString, QString, QString, QString>("boundary", "start", "ticks", "boxes", "spoken");
        row("hour box alone, midnight, day before", QTime(0, 0), "-700", "300", "100", "12 AM");
        row("hour box greyed", QTime(21, 0), "-700", "300", "211", "");
        row("quarter box alone", QTime(21, 15), "-700", "300", "010", "9 15 PM");
        row("half-hour box alone", QTime(0, 30), "-700", "300", "001", "12 30 AM");
        row("half-hour box at a quarter", QTime(21, 15), "-700", "300", "001", "");
        row("half unticked", QTime(21, 30), "-700", "300", "110", "");
        row("no quarter boundary", QTime(21, 5), "-700", "300", "111", "");
        row("two ticks in a second once", QTime(10, 0), "-900", "100 900 1900", "111", "10 AM");
        row("late within grace", QTime(10, 0), "-500", "4900 5900", "111", "10 AM");
        row("past grace silent", QTime(10, 0), "-1000", "6000 7000", "111", "");
        row("after sleep nothing stale", QTime(11, 0), "-1200000", "30000 899600 900600", "111", "11 15 AM");
        row("no start: first tick reads", QTime(10, 0), "", "200 1200 900200", "111", "10 15 AM");
        row("ticked late not spoken late", QTime(10, 0), "-500", "500- 1500", "111", "");
        row("stepped back no repeat", QTime(10, 0), "-500", "500 1500 -200 800", "111", "10 AM");
        // When summer time ends the wall clock shows 02:00 to 02:59 twice; each showing is announced.
        row("hour shown twice", QTime(2, 0), "-500", "500 3599500 500 1500", "111", "2 AM|2 AM");
    }
    void ticks() {
        QFETCH(QTime, boundary);
        QFETCH(QString, start);
        QFETCH(QString, ticks);
        QFETCH(QString, boxes);
        const QDateTime at(QDate(2026, 12, 6), boundary);
        t->clock.time = start.isEmpty() ? QDateTime() : at.addMSecs(start.toInt());
        const StatusRefresh::Widgets& w = t->ui.clock.refresh;
        StatusRefresh refresh{w, t->echoLink, t->voice, t->clock, t->transmit, QLocale(QLocale::C)}; // from that start
        t->echoLink.available = false;
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        for (const QString& tick : ticks.split(u' ')) {
            const bool none = tick.endsWith(u'-');
            int i = 0;
            for (QCheckBox* box : {w.OnHour, w.QuarterHour, w.HalfHour}) {
                controls::setCheckValue(box, none ? 0 : boxes.at(i++).digitValue());
            }
            t->clock.time = at.addMSecs(tick.chopped(none).toInt());
            refresh.Timer1_Timer();
        }
        QTEST(t->voice.spoken.join(u'|').remove(QStringLiteral("The Time Is")), "spoken");
    }

    // A click acts on the last refresh, not on what the station did since, and shows at once; a tick shows the truth.
    void click_flipsTransmitAtOnce_nextTickFollowsStation_data() {
        columns<int, bool, bool, QString>("count", "transmitting", "setFails", "calls");
        row("receiving: click keys", 1, false, false, "SetTransmit(true)");
        row("transmitting: click unkeys", 3, true, false, "SetTransmit(false)");
        row("refused: label still flips", 1, false, true, "SetTransmit(true)");
        row("no stations: nothing", 0, true, false, "");
    }
    void click_flipsTransmitAtOnce_nextTickFollowsStation() {
        QFETCH(int, count);
        QFETCH(bool, transmitting);
        t->echoLink.count = count;
        t->echoLink.transmitting = transmitting;
        t->tickAt(QTime(21, 5, 7));
        if (QFETCH(bool, setFails); setFails) {
            t->echoLink.failing = {QStringLiteral("SetTransmit")};
            QTest::ignoreMessage(QtWarningMsg, "Could not key the transmitter: transmit failed");
        }
        t->echoLink.transmitting = !transmitting;
        QTest::mouseClick(t->control<QPushButton>("TxRx"), Qt::LeftButton);
        QTEST(t->echoLink.calls.filter(QStringLiteral("SetTransmit")).join(u' '), "calls");
        QCOMPARE(t->look(), (count > 0) != transmitting ? Transmitting : Receiving);
        t->echoLink.transmitting = transmitting;
        t->tickAt(QTime(21, 5, 8));
        QCOMPARE(t->look(), transmitting ? Transmitting : Receiving);
    }

    // Displays are kept through an outage, which is reported once whatever fails, and again after it ends. Say the
    // Time speaks the time without any box ticked, and a voice that fails is only warned of.
    void failingStation_keepsDisplays_reportsOncePerOutage() {
        t->echoLink.count = 2;
        t->echoLink.transmitting = true;
        t->tickAt(QTime(9, 5, 1));
        t->echoLink.count = 5;
        t->echoLink.transmitting = false;
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        t->echoLink.failing = {QStringLiteral("ConnectedCount")};
        t->tickAt(QTime(9, 5, 2));
        QCOMPARE(t->control<QLabel>("NumStations")->text(), QStringLiteral("2"));
        t->echoLink.failing = {QStringLiteral("IsTransmitting")};
        t->tickAt(QTime(9, 5, 3));
        QCOMPARE(t->control<QLabel>("ShowTime")->text() + t->control<QLabel>("NumStations")->text() + t->look(),
                 QStringLiteral("09:05:035") + Transmitting);
        QTest::ignoreMessage(QtWarningMsg, "Status refresh: EchoLink is answering again");
        t->echoLink.failing.clear();
        t->tickAt(QTime(9, 5, 4));
        QCOMPARE(t->look(), Receiving);
        QTest::ignoreMessage(QtWarningMsg, NotAnswering);
        t->echoLink.failing = {QStringLiteral("IsTransmitting")};
        t->tickAt(QTime(21, 5, 40));
        t->control<QPushButton>("TheTime")->click();
        t->clock.set(12, 0);
        t->control<QPushButton>("TheTime")->click();
        QCOMPARE(t->voice.spoken.join(u'|'), QStringLiteral("The Time Is9 05PM|The Time Is12 00PM"));
        t->voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, "Could not speak the time: the voice is not available");
        t->control<QPushButton>("TheTime")->click();
    }

    // Each box's button toggles its station, text passed as typed; a refusal speaks that box's own text.
    void toggle_data() {
        columns<int, QString, QString>("slot", "callsign", "refusal");
        row("typed box", 0, " <b>-x*\t", "Unable to connect to call sign. ");
        row("slot 1", 1, "N0CALL-R", "Unable to connect to call sign. ");
        row("slot 4 has two full stops", 4, "  ", "Unable to connect to call sign.. ");
        row("slot 5", 5, "N0CALL", "Unable to connect to call sign. ");
    }
    void toggle() {
        QFETCH(int, slot);
        QFETCH(QString, callsign);
        t->click(slot); // an empty box asks nothing
        t->box(slot)->setText(callsign);
        t->click(slot);
        t->click(slot);
        t->echoLink.refused.insert(callsign);
        t->click(slot);
        QCOMPARE(t->echoLink.calls.join(u' '), QStringLiteral("IsConnected(%1) Connect(%1,-1) IsConnected(%1) "
                                                              "Disconnect(%1) IsConnected(%1) Connect(%1,-1)")
                                                   .arg(callsign));
        QTEST(t->voice.spoken.join(QString()), "refusal");
        t->box(slot)->clear();
        QTest::keyClicks(t->box(slot), QStringLiteral("n0call-l"));
        QCOMPARE(t->box(slot)->text(), QStringLiteral("N0CALL-L"));
    }

    // Every failure is written to standard error only, and the click ends there. A voice refusing announcements is
    // warned of once per run of refusals.
    void failures_endClickWithAWarningOnly_voiceWarnedOncePerRunOfRefusals() {
        t->box(1)->setText(QStringLiteral("N0CALL"));
        t->echoLink.failing.insert(QStringLiteral("IsConnected"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("N0CALL.*no answer")));
        t->click(1);
        t->echoLink.failing = {QStringLiteral("Disconnect")};
        t->echoLink.connected.insert(QStringLiteral("N0CALL"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("disconnect.*N0CALL.*disconnect failed")));
        t->click(1);
        t->echoLink.refused.insert(QStringLiteral("NOBODY"));
        t->box(2)->setText(QStringLiteral("NOBODY"));
        t->voice.failing = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not speak.*Unable to connect")));
        t->click(2);
        QCOMPARE(t->echoLink.calls.join(u' '),
                 QStringLiteral("IsConnected(N0CALL) IsConnected(N0CALL) "
                                "Disconnect(N0CALL) IsConnected(NOBODY) Connect(NOBODY,-1)"));
        controls::setCheckValue(t->aw.announce, 1);
        for (int i = 0; i < 5; ++i) {
            t->voice.failing = i != 2;
            if (i == 0 || i == 3) {
                QTest::ignoreMessage(QtWarningMsg,
                                     QRegularExpression(QStringLiteral("announcement.*N %1  , Connected").arg(i)));
            }
            t->announcer.Echolink_connected(QStringLiteral("N%1").arg(i), QString(), {});
        }
    }

    // The sweep connects ticked slots not connected, silently, every slot visited; greyed counts as unticked; a
    // station that does not answer is left alone. Disconnect All leaves the ticks for the next sweep.
    void sweepAndDisconnectAll() {
        for (int slot = 1; slot <= 5; ++slot) {
            t->box(slot)->setText(QStringLiteral("S%1").arg(slot));
            controls::setCheckValue(t->slotRow(slot).stayConnected, slot == 4 ? 2 : 1);
        }
        t->echoLink.connected.insert(QStringLiteral("S3"));
        t->echoLink.refused.insert(QStringLiteral("S2"));
        t->favourites.Timer4_Timer();
        t->echoLink.failing.insert(QStringLiteral("IsConnected"));
        t->favourites.Timer4_Timer();
        t->echoLink.failing = {QStringLiteral("DisconnectAll")};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Disconnect All.*disconnect all failed")));
        t->ui.stations.callsign.disconnectAll->click();
        t->echoLink.failing.clear();
        t->ui.stations.callsign.disconnectAll->click();
        t->favourites.Timer4_Timer();
        QCOMPARE(t->echoLink.calls.filter(QStringLiteral("Connect(")).join(u' '),
                 QStringLiteral("Connect(S1,-1) Connect(S2,-1) Connect(S5,-1) "
                                "Connect(S1,-1) Connect(S2,-1) Connect(S3,-1) Connect(S5,-1)"));
        QVERIFY(t->voice.spoken.isEmpty());
    }

    // Spoken on connect and disconnect by kind when Con/Disc is ticked (1); the look-up address opened on connect,
    // its root written "/", only while the internet options want it.
    void connectAndDisconnect_data() {
        columns<int, QString, QString, QString>("conDisc", "callsign", "spoken", "lookedUp");
        row("station", 1, "N0CALL", "N 0 C A L L  , Connected|N 0 C A L L  , Disconnected", "/N0CALL");
        row("link up to first dash", 1, "N0-CALL-L", "N 0 -  : Link Connected.|N 0 -  : Link Disconnected.", "/N0-");
        row("repeater", 1, "K1AB-R", "K 1 A B -  : Repeater Connected.|K 1 A B -  : Repeater Disconnected.", "/K1AB-");
        row("conference", 1, "*EU*", "The   E U     conference connected.|The   E U     conference disconnected.", "");
        row("Ireland", 1, "*IRELAND*", "The Ireland  conference connected.|The Ireland  conference disconnected.", "");
        row("England", 1, "*ENGLAND*", "The England  conference connected.|The England  conference disconnected.", "");
        row("test server", 1, "*ECHOTEST*",
            "The EchoLink Test  Server Connected.|The EchoLink Test  Server disconnected.", "");
        row("empty looked up at root", 1, "", " , Connected| , Disconnected", "/");
        row("other suffix silent", 1, "N0CALL-1", "", "");
        row("unticked: silent, no look-up", 0, "N0CALL", "", "");
        row("greyed: silent, no look-up", 2, "N0CALL", "", "");
    }
    void connectAndDisconnect() {
        QFETCH(int, conDisc);
        QFETCH(QString, callsign);
        controls::setCheckValue(t->aw.announce, conDisc);
        t->announcer.Echolink_connected(callsign, QStringLiteral("Jo"), QStringLiteral("10.0.0.1"));
        t->announcer.Echolink_Disconnected(callsign);
        QTEST(t->voice.spoken.join(u'|'), "spoken");
        t->internet.qrzInfo = false;
        t->announcer.Echolink_connected(callsign, QString(), {});
        QTEST(t->internet.addresses.join(u' ').replace(MainWindowRig::LookupRoot, QStringLiteral("/")), "lookedUp");
    }

    // Characters that break a line, move the caret or reorder the text become U+FFFD; markup stays text.
    void history_growsUntilCleared_strangersTextCannotForgeLinesOrMarkup() {
        QCOMPARE(t->aw.lastConnectedNode->text(), QStringLiteral("None"));
        t->clock.set(21, 5);
        t->announcer.Echolink_connected(QStringLiteral("<img src=x>"), QStringLiteral("a\tb"), {});
        t->clock.set(0, 7);
        t->announcer.Echolink_connected(
            QStringLiteral("N0\r\n9 00 AM - W1AW"),
            QStringLiteral("<b>Jo</b>\t\u001b[\u007f\u0085\u2028\u2029\u202A\u2066\u202E\u2069"), {});
        const QString node = QStringLiteral("N0\uFFFD\uFFFD9 00 AM - W1AW <b>Jo</b>\uFFFD\uFFFD[") +
                             QString(8, QChar::ReplacementCharacter);
        QCOMPARE(t->aw.lastConnectedNode->accessibleName(), QStringLiteral("Last connected node: ") + node);
        QCOMPARE(t->internet.lastConnectedNode, node);
        QCOMPARE(t->aw.lastConnectedNode->textFormat(), Qt::PlainText);
        QCOMPARE(logText(t->aw.callHistory),
                 QStringLiteral("9 05 PM - <img src=x>\n12 07 AM - N0\uFFFD\uFFFD9 00 AM - W1AW\n"));
        t->aw.clearHistory->click();
        t->announcer.Echolink_connected(QStringLiteral("W1AW"), QString(), {});
        QCOMPARE(logText(t->aw.callHistory), QStringLiteral("12 07 AM - W1AW\n"));
    }

    // The plain kinds and a suffix not announced are in connectAndDisconnect.
    void stationKind_data() {
        columns<QString, StationKind>("callsign", "kind");
        row("conference by trailing star", "N0CALL-L*", StationKind::Conference);
        row("star at the start only", "*IRELAND", StationKind::PlainStation);
        row("lower-case suffix", "N0CALL-l", StationKind::NotAnnounced);
        row("suffix then space", "N0CALL-L ", StationKind::NotAnnounced);
    }
    void stationKind() {
        QFETCH(QString, callsign);
        QTEST(stations::stationKind(callsign), "kind");
    }

    // Whatever a stranger's callsign holds, the look-up stays one segment under the root of the look-up site.
    void qrzAddress_data() {
        columns<QString, QString>("callsign", "segment");
        row("unreserved kept", "a.B_C~D-", "a.B_C~D-");
        row("dot segments give root", "..", "");
        // Slashes, query, fragment, escapes, markup, controls, scheme, user: each byte of the UTF-8 text escaped.
        row("every other byte escaped", "../?b=1#c%2e<b>* \r\n\t\x01\\u@h:Ä",
            "..%2F%3Fb%3D1%23c%252e%3Cb%3E%2A%20%0D%0A%09%01%5Cu%40h%3A%C3%84");
    }
    void qrzAddress() {
        QFETCH(QString, callsign);
        QFETCH(QString, segment);
        QCOMPARE(qrzLookupAddress(MainWindowRig::LookupRoot, callsign), MainWindowRig::LookupRoot + segment);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
