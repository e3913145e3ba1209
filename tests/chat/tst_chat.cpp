// SPDX-License-Identifier: GPL-3.0-or-later
// The chat rules, and both chat handlers on the main window's layout against a fake station.
#include "DataRow.h"
#include "MainWindowRig.h"
#include "chat/ChatRules.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

using namespace chat;

namespace {

// The lengths of the runs between the log's invisible wrap points; "changed" unless removing them gives the text.
QString wrapRuns(const QString& text) {
    const QString shown = logDisplayText(text);
    QStringList runs;
    for (const QString& run : shown.split(u'\u200B')) {
        runs << QString::number(run.size());
    }
    return QString(shown).remove(u'\u200B') == text ? runs.join(u',') : QStringLiteral("changed");
}

const QHash<QString, std::function<QString(const QString&)>> Rules{
    {QStringLiteral("split"),
     [](const QString& s) { return splitChatLine(s).sender + u'|' + splitChatLine(s).messagePart; }},
    {QStringLiteral("log"), [](const QString& s) { return logDisplayText(s); }},
    {QStringLiteral("wrap"), wrapRuns},
    {QStringLiteral("out"), [](const QString& s) { return outgoingText(s, true, QStringLiteral("09:05")); }},
    {QStringLiteral("ver"), [](const QString& s) { return QString::number(isVersionQuery(s)); }},
    {QStringLiteral("filter"),
     [](const QString& w) { return QString::number(filterWordMatches(QStringLiteral("N0CALL>hello"), w)); }},
};

struct Rig : MainWindowRig {
    IncomingChat::Widgets in = ui.chat.incoming;
    OutgoingChat::Widgets out = ui.chat.outgoing;
    IncomingChat incoming{in, echoLink, voice, clock};
    OutgoingChat outgoing{out, echoLink, voice, clock};
};

const QString SentHeading = QStringLiteral("Text Sent\n");

} // namespace

class ChatTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Rig> t;

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
    void init() {
        t = std::make_unique<Rig>();
        for (QCheckBox* box : {t->out.Check1, t->in.Check2, t->in.Check3}) {
            controls::setCheckValue(box, 1);
        }
    }
    void cleanup() { t.reset(); }

    void rule_data() {
        columns<QString, QString, QString>("rule", "in", "out");
        row("split at first >", "split", "N0CALL-L>a>b", "N0CALL-L|>a>b");
        row("> far beyond 32767", "split", QString(40000, u'A') + QStringLiteral(">x"),
            QString(40000, u'A') + QStringLiteral("|>x"));
        row("version query anywhere", "ver", "/ver/N0CALL>hi", "1");
        row("version query upper case", "ver", "N0CALL>/VER/", "0");
        row("filter other case", "filter", "Hello", "0");
        row("log: CR LF is one break", "log", "a\r\nb", "a\nb");
        row("log: paragraph separator", "log", "a\u2029b", "a\nb");
        row("log: controls made visible", "log", QStringLiteral("\x07\x1b\x7f") + QChar(0) + u'\t',
            "\u2407\u241b\u2421\u2400\t");
        row("log: frame markers replaced", "log", "a\uFDD0b\uFDD1", "a\uFFFDb\uFFFD");
        row("log: markup literal", "log", "<b>x</b>&amp;", "<b>x</b>&amp;");
        row("log: right-to-left kept", "log", "\u05E9\u05DC \u202Eabc", "\u05E9\u05DC \u202Eabc");
        row("log: long run wrapped invisibly", "wrap", QString(450, u'x'), "200,200,50");
        row("log: words never wrapped", "wrap", (QString(MaxUnbrokenRun - 1, u'y') + u' ').repeated(50), "10000");
        row("log: no-break space is no wrap point", "wrap", QString(450, QChar::Nbsp), "200,200,50");
        row("log: surrogate pair never split", "wrap", u'a' + QStringLiteral("\U0001F600").repeated(301),
            "201,200,200,2");
        row("stamped send", "out", "hello", "(09:05) >hello");
        row("dot command never stamped", "out", ".help", ".help");
        row("space then dot stamped", "out", " .x", "(09:05) > .x");
    }
    void rule() {
        QFETCH(QString, rule);
        QFETCH(QString, in);
        QTEST(Rules.value(rule)(in), "out");
    }

    // Answered without waiting, a refusal unreported, even when filtered; a text during the reply comes after.
    void versionQuery_answeredWithoutWait_evenFiltered_textDuringReplyComesAfter() {
        t->echoLink.failing.insert(QStringLiteral("SendChatText"));
        t->echoLink.duringSendChatText = [this](const QString&) {
            t->echoLink.duringSendChatText = nullptr;
            receive(QStringLiteral("N1XYZ>second"));
        };
        receive(QStringLiteral("N0CALL>/ver/"));
        t->in.FilterText.at(2)->setText(QStringLiteral("ver"));
        receive(QStringLiteral("N0CALL>/ver/"));
        QCOMPARE(t->echoLink.calls, QStringList(2, QStringLiteral("SendChatText(Parlevox  v1.2)")));
        QCOMPARE(t->echoLink.noWaitSends, 2);
        QCOMPARE(received(), QStringLiteral("N0CALL (09:05)>/ver/\nN1XYZ (09:05)>second\n"));
    }

    void incoming_logAndSpeech_data() {
        columns<int, int, QString, QString, QString>("check2", "check3", "text", "shown", "spoken"); // stamp, announce
        row("unstamped", 0, 1, "N0CALL-L>hi", "N0CALL-L>hi\n", "Message from  N0CALL-L:>hi");
        row("stamped", 1, 1, "N0CALL-L>hi", "N0CALL-L (17:40)>hi\n", "Message from  N0CALL : L: hi");
        row("greyed stamps count", 2, 1, "N0CALL-L>hi", "N0CALL-L (17:40)>hi\n", "Message from  N0CALL : L: hi");
        row("announce off", 1, 0, "A>x", "A (17:40)>x\n", "");
        row("announce greyed is silent", 0, 2, "A>x", "A>x\n", "");
        row("lone CR is a line break", 0, 0, "A>1\r2", "A>1\n2\n", "");
        row("no >: no sender", 1, 1, "hello", " (17:40)hello\n", "Message from  :hello");
        row("megabyte without spaces", 0, 0, QString(1 << 20, u'x'), QString(1 << 20, u'x') + u'\n', "");
        row("only separators", 0, 0, ">>>>", ">>>>\n", "");
    }
    void incoming_logAndSpeech() {
        QFETCH(QString, shown);
        QFETCH(QString, spoken);
        QFETCH(int, check2);
        QFETCH(int, check3);
        QFETCH(QString, text);
        t->clock.set(17, 40);
        controls::setCheckValue(t->in.Check2, check2);
        controls::setCheckValue(t->in.Check3, check3);
        t->voice.failing = spoken.isEmpty(); // a failing voice changes nothing else
        receive(text);
        QCOMPARE(received().remove(QChar(u'\u200B')), shown);
        QCOMPARE(t->in.IncomingText->document()->blockCount(), 2 + shown.count(u'\n'));
        QCOMPARE(t->voice.spoken, spoken.isEmpty() ? QStringList() : QStringList{spoken});
    }

    // Focus goes to the entry only from the entry, the log or nowhere, never from another active window, and never
    // for a dropped text.
    void incoming_focusGoesToEntryOnlyFromEntryLogOrNowhere() {
        QVERIFY(t->show());
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
        QCOMPARE(focusAfter(t->in.IncomingText, "N0CALL>hello"), t->in.TextTX);
        QCOMPARE(focusAfter(t->control("Text6"), "N0CALL>hello"), t->control("Text6"));
        QCOMPARE(focusAfter(nullptr, "N0CALL>drop me"), nullptr);
        QCOMPARE(focusAfter(nullptr, "N0CALL>hello"), t->in.TextTX);
        QLineEdit other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(focusAfter(&other, "N0CALL>hello") == &other && t->window.focusWidget() == t->in.TextTX);
    }

    // A burst shows whole and in order; a filter word in any box drops a text, caret still to the end, newest in view.
    void incoming_burstAndDroppedTexts_logInOrderCaretAtEndNewestLineInView() {
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
    }

    void outgoing_send_data() {
        columns<int, int, QString, QString>("check1", "key", "typed", "sent"); // key 0: the Send button
        row("stamped at the clock's time", 1, 0, "hello", "(17:40) >hello");
        row("unstamped by Return", 0, int(Qt::Key_Return), "hello", "hello");
        row("greyed: no stamp, by Enter", 2, int(Qt::Key_Enter), "hello", "hello");
        row("empty stamped", 1, int(Qt::Key_Return), "", "(17:40) >");
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

    void outgoing_refusedSend_keepsTextLogsNothingAndTellsReason_untilASendGoesThrough() {
        QVERIFY(t->show());
        t->echoLink.failing.insert(QStringLiteral("SendChatText"));
        send(QStringLiteral("hello"));
        QCOMPARE(t->out.TextTX->text(), QStringLiteral("hello"));
        QCOMPARE(sentLog(), SentHeading);
        QCOMPARE(t->voice.spoken, QStringList{OutgoingChat::sendFailedSpeech()});
        QVERIFY(t->out.TextTX->toolTip().contains(QStringLiteral("send failed")) && t->out.TextTX->hasFocus() &&
                t->out.TextTX->accessibleDescription().startsWith(QStringLiteral("Message not sent")));
        t->echoLink.failing.clear();
        QTest::mouseClick(t->out.Send, Qt::LeftButton);
        QCOMPARE(t->echoLink.sentChat, QStringList{QStringLiteral("(09:05) >hello")});
        QVERIFY(t->out.TextTX->toolTip().isEmpty() && t->out.TextTX->accessibleDescription().isEmpty());
    }

    // The credits replace the whole log, however often About is pressed.
    void outgoing_ownCallsignReadForEveryLine_loggedWithoutItWhenUnanswered_thenAboutReplacesTheLog() {
        send(QStringLiteral("one"));
        t->echoLink.ownCallsign = QStringLiteral("N1XYZ-L");
        send(QStringLiteral("two"));
        t->echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        send(QStringLiteral("three"));
        QCOMPARE(sentLog(),
                 SentHeading + QStringLiteral("N0CALL> (09:05) >one\nN1XYZ-L> (09:05) >two\n> (09:05) >three\n"));
        QTest::mouseClick(t->out.About, Qt::LeftButton);
        QTest::mouseClick(t->out.About, Qt::LeftButton);
        QCOMPARE(sentLog(), chat::credits());
    }

    // Any key and Send bring the sent log's caret to its end, newest line in view; each Clear button empties only
    // its own log, lines not shown yet included, and gives the focus to the entry.
    void outgoing_keysAndSendFollowTheLogEnd_clearButtonsEmptyTheirOwnLog() {
        QVERIFY(t->show());
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
};

QTEST_MAIN(ChatTest)
#include "tst_chat.moc"
