// SPDX-License-Identifier: GPL-3.0-or-later
// The chat rules, and both chat handlers on the main window's layout against a fake station.
#include "DataRow.h"
#include "MainWindowRig.h"
#include "chat/ChatRules.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

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
        row("megabyte without spaces", 0, 0, QString(1 << 20, u'x'), QString(1 << 20, u'x') + u'\n', "");
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
};

QTEST_MAIN(ChatTest)
#include "tst_chat.moc"
