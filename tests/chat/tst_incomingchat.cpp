// SPDX-License-Identifier: GPL-3.0-or-later
#include "Controls.h"
#include "DataRow.h"
#include "IncomingChat.h"
#include "MainWindowRig.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>

namespace {
const QString Heading = QStringLiteral("Incoming Text\n");
}

class IncomingChatTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ChatWindow<IncomingChat>> t;

    // One text, then the event loop comes round and the log shows it.
    void receive(const QString& text) {
        t->echoLink.ChatTextReceived(text);
        controls::flushLog(t->w.IncomingText);
    }
    QString log() const { return t->w.IncomingText->toPlainText(); }
    // The log after its heading.
    QString logged() const { return log().mid(Heading.size()); }
    void setChecks(int check2, int check3) {
        controls::setCheckValue(t->w.Check2, check2);
        controls::setCheckValue(t->w.Check3, check3);
    }

private Q_SLOTS:
    void init() {
        t = std::make_unique<ChatWindow<IncomingChat>>();
        connect(&t->echoLink, &EchoLinkClient::ChatTextReceived, t->chat.get(),
                &IncomingChat::EchoLink_ChatTextReceived);
        setChecks(1, 1);
    }
    void cleanup() { t.reset(); }

    // Answered without waiting (a burst of queries goes at the bus's pace, not the station's), only in lower
    // case, logged like any text, a refused reply not reported, and answered even when a filter drops it.
    void versionQuery_answeredWithoutWaitOnlyInLowerCase_evenWhenFiltered() {
        receive(QStringLiteral("N0CALL>/ver/"));
        receive(QStringLiteral("N0CALL>/VER/"));
        t->echoLink.failing.insert(QStringLiteral("SendChatText"));
        receive(QStringLiteral("N0CALL>/ver/"));
        QCOMPARE(t->echoLink.calls, QStringList(2, QStringLiteral("SendChatText(Parlevox  v1.2)")));
        QCOMPARE(t->echoLink.noWaitSends, 2);
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>/ver/\nN0CALL (09:05)>/VER/\nN0CALL (09:05)>/ver/\n"));
        QCOMPARE(t->voice.spoken.size(), 3);
        t->echoLink.failing.clear();
        t->w.FilterText.at(2)->setText(QStringLiteral("ver"));
        receive(QStringLiteral("N0CALL>/ver/"));
        QCOMPARE(t->echoLink.sentChat, QStringList(2, QStringLiteral("Parlevox  v1.2")));
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>/ver/\nN0CALL (09:05)>/VER/\nN0CALL (09:05)>/ver/\n"));
        QCOMPARE(t->voice.spoken.size(), 3);
    }

    void filterWordInAnyBox_dropsTextUntilCleared() {
        for (QLineEdit* box : t->w.FilterText) {
            box->setText(QStringLiteral("N0")); // at the very first character too
            receive(QStringLiteral("N0CALL>dropped"));
            box->clear();
        }
        t->w.FilterText.at(7)->setText(QStringLiteral("Hello"));
        receive(QStringLiteral("N0CALL>hello"));
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>hello\n"));
        QCOMPARE(t->voice.spoken.size(), 1);
    }

    void logLine_data() {
        QTest::addColumn<int>("check2");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        row("unstamped", 0, "N0CALL>hello", "N0CALL>hello\n");
        row("stamped", 1, "N0CALL>hello", "N0CALL (17:40)>hello\n");
        row("greyed stamps", 2, "N0CALL>hello", "N0CALL (17:40)>hello\n");
        row("lone CR unstamped", 0, "N0CALL>line1\rline2", "N0CALL>line1\nline2\n");
        row("lone CR stamped", 1, "N0CALL>line1\rline2", "N0CALL (17:40)>line1\nline2\n");
        row("no > unstamped", 0, "hello", "hello\n");
        row("no > stamped", 1, "hello", " (17:40)hello\n");
        row("empty text with empty filter boxes", 1, "", " (17:40)\n");
    }
    void logLine() {
        QFETCH(int, check2);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        t->clock.set(17, 40);
        setChecks(check2, 0);
        receive(text);
        QCOMPARE(logged(), shown);
        // A lone CR is a real line break, not a stray character.
        QCOMPARE(t->w.IncomingText->document()->blockCount(), 2 + shown.count(QLatin1Char('\n')));
    }

    void spoken_data() {
        QTest::addColumn<int>("check2");
        QTest::addColumn<int>("check3");
        QTest::addColumn<QStringList>("spoken");
        const QStringList raw{QStringLiteral("Message from  N0CALL-L:>hello")};
        const QStringList eased{QStringLiteral("Message from  N0CALL : L: hello")};
        row("unstamped, announce", 0, 1, raw);
        row("stamped, announce", 1, 1, eased);
        row("greyed stamp, announce", 2, 1, eased);
        row("announce off", 1, 0, QStringList());
        row("announce greyed is silent", 0, 2, QStringList());
    }
    void spoken() {
        QFETCH(int, check2);
        QFETCH(int, check3);
        setChecks(check2, check3);
        receive(QStringLiteral("N0CALL-L>hello"));
        QTEST(t->voice.spoken, "spoken");
    }
    void failingVoice_stillLogsAndFinishes() {
        t->voice.failing = true;
        t->w.IncomingText->moveCursor(QTextCursor::Start);
        receive(QStringLiteral("N0CALL>hello"));
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>hello\n"));
        QVERIFY(t->w.IncomingText->textCursor().atEnd());
    }

    // The main window's focus control before the text comes ("" none) and after; another active window keeps its own.
    void focusAfterText_movesToEntryOnlyFromEntryLogOrNowhere_data() {
        QTest::addColumn<QString>("focused");
        QTest::addColumn<bool>("otherWindowActive");
        QTest::addColumn<bool>("filtered");
        QTest::addColumn<QString>("after");
        row("message box", "TextTX", false, false, "TextTX");
        row("message box, filtered", "TextTX", false, true, "TextTX");
        row("incoming log", "IncomingText", false, false, "TextTX");
        row("incoming log, filtered", "IncomingText", false, true, "IncomingText");
        row("favourite's box", "Text6", false, false, "Text6");
        row("favourite's box, filtered", "Text6", false, true, "Text6");
        row("typed-callsign box", "Callsign", false, false, "Callsign");
        row("typed-callsign box, filtered", "Callsign", false, true, "Callsign");
        row("sent log", "ReceivedText", false, false, "ReceivedText");
        row("no focus in the window", "", false, false, "TextTX");
        row("no focus in the window, filtered", "", false, true, "");
        row("window not active", "Callsign", true, false, "TextTX");
        row("window not active, filtered", "Callsign", true, true, "Callsign");
    }
    void focusAfterText_movesToEntryOnlyFromEntryLogOrNowhere() {
        QFETCH(QString, focused);
        QFETCH(bool, otherWindowActive);
        QFETCH(bool, filtered);
        QVERIFY(t->show());
        QWidget* before = focused.isEmpty() ? nullptr : t->window.findChild<QWidget*>(focused);
        if (before != nullptr) {
            before->setFocus();
        } else if (QWidget* any = QApplication::focusWidget()) {
            any->clearFocus();
        }
        QCOMPARE(t->window.focusWidget(), before);
        QLineEdit other;
        if (otherWindowActive) {
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            other.setFocus();
            QVERIFY(!t->window.isActiveWindow());
        }
        t->w.FilterText.at(4)->setText(QStringLiteral("drop"));
        receive(filtered ? QStringLiteral("N0CALL>drop me") : QStringLiteral("N0CALL>hello"));
        const QWidget* now = t->window.focusWidget();
        QTEST(now != nullptr ? now->objectName() : QString(), "after");
        QCOMPARE(QApplication::focusWidget(), otherWindowActive ? &other : now);
    }

    // A burst in one turn shows whole and in order when the loop comes round; every text, dropped ones too,
    // puts the caret at the end with the newest line in view.
    void burstAndEveryText_shownInOrder_caretAtEndNewestLineInView() {
        QVERIFY(t->show());
        QString expected;
        for (int i = 0; i < 300; ++i) {
            const QString line = QStringLiteral("burst %1\r\n%2").arg(i).arg(QString(60, QLatin1Char('z')));
            t->echoLink.ChatTextReceived(QStringLiteral("N0CALL>") + line);
            expected += QStringLiteral("N0CALL (09:05)>") + line + QLatin1Char('\n');
        }
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        t->w.IncomingText->moveCursor(QTextCursor::Start);
        QCOMPARE(t->voice.spoken.size(), 300);
        QTRY_COMPARE(logged(), expected);
        QVERIFY(t->w.IncomingText->verticalScrollBar()->maximum() > 0);
        t->w.FilterText.at(0)->setText(QStringLiteral("drop"));
        for (const QString& text : {QStringLiteral("N0CALL>drop me"), QStringLiteral("N0CALL>newest")}) {
            t->w.IncomingText->moveCursor(QTextCursor::Start);
            receive(text);
            QVERIFY2(t->w.IncomingText->textCursor().atEnd(), qPrintable(text));
            QTRY_VERIFY(newestLineInView(t->w.IncomingText));
        }
        QVERIFY(log().endsWith(QStringLiteral("N0CALL (09:05)>newest\n")));
    }

    void hostileTexts_areLoggedAndSpoken_data() {
        QTest::addColumn<QString>("text");
        row("control characters", QStringLiteral("N0CALL>\x01\x07\x1b[2J\x7f") + QChar(0) + QStringLiteral("end"));
        row("megabyte without spaces", QStringLiteral("N0CALL>") + QString(1 << 20, QLatin1Char('x')));
        row("right-to-left override", QStringLiteral("N0CALL>\u202E\u05E9\u05DC\u05D5\u05DD olleh"));
        row("frame markers", QStringLiteral("N0CALL>\uFDD0x\uFDD1"));
        row("only separators", ">>>>");
    }
    void hostileTexts_areLoggedAndSpoken() {
        QFETCH(QString, text);
        QVERIFY(t->show());
        receive(text);
        receive(QStringLiteral("N0CALL>after"));
        QCOMPARE(t->w.IncomingText->document()->blockCount(), 4); // heading, one line per text, empty end
        QVERIFY(logged().startsWith(text.section(QLatin1Char('>'), 0, 0) + QStringLiteral(" (09:05)>")));
        QVERIFY(logged().endsWith(QStringLiteral("N0CALL (09:05)>after\n")));
        QCOMPARE(t->voice.spoken.size(), 2);
    }

    void textArrivingDuringReply_isHandledAfterTheQuery() {
        t->echoLink.duringSendChatText = [this](const QString&) {
            t->echoLink.duringSendChatText = nullptr;
            receive(QStringLiteral("N1XYZ>second"));
        };
        receive(QStringLiteral("N0CALL>/ver/"));
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>/ver/\nN1XYZ (09:05)>second\n"));
        QCOMPARE(t->voice.spoken.size(), 2);
    }
};

QTEST_MAIN(IncomingChatTest)
#include "tst_incomingchat.moc"
