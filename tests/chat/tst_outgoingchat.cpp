// SPDX-License-Identifier: GPL-3.0-or-later
#include "chat/ChatRules.h"
#include "ui/Controls.h"
#include "DataRow.h"
#include "MainWindowRig.h"
#include "chat/OutgoingChat.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace {
const QString Heading = QStringLiteral("Text Sent\n");

} // namespace

class OutgoingChatTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ChatWindow<OutgoingChat>> t;

    QString sentLog() const { return logText(t->w.ReceivedText).remove(QChar(u'\u200B')); }
    void send(const QString& typed) {
        t->w.TextTX->setText(typed);
        QTest::mouseClick(t->w.Send, Qt::LeftButton);
    }

private Q_SLOTS:
    void init() {
        t = std::make_unique<ChatWindow<OutgoingChat>>();
        controls::setCheckValue(t->w.Check1, 1);
    }
    void cleanup() { t.reset(); }

    void send_data() {
        QTest::addColumn<int>("check1");
        QTest::addColumn<int>("key"); // 0: the Send button
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("sent");
        row("stamped at the clock's time", 1, 0, "hello", "(17:40) >hello");
        row("unstamped by Return", 0, int(Qt::Key_Return), "hello", "hello");
        row("greyed: no stamp, by Enter", 2, int(Qt::Key_Enter), "hello", "hello");
        row("empty stamped", 1, int(Qt::Key_Return), "", "(17:40) >");
        row("long line sent whole", 0, 0, QString(100000, u'q'), QString(100000, u'q'));
    }
    void send() {
        QFETCH(int, check1);
        QFETCH(int, key);
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        QVERIFY(t->show());
        controls::setCheckValue(t->w.Check1, check1);
        t->clock.set(17, 40);
        t->w.TextTX->setText(typed);
        t->w.Send->setFocus();
        key ? QTest::keyClick(t->w.TextTX, Qt::Key(key)) : QTest::mouseClick(t->w.Send, Qt::LeftButton);
        QCOMPARE(t->echoLink.sentChat, QStringList{sent});
        t->w.ReceivedText->undo();
        QCOMPARE(sentLog(), Heading + QStringLiteral("N0CALL> ") + sent + u'\n');
        QVERIFY(t->w.TextTX->text().isEmpty() && t->voice.spoken.isEmpty() && t->w.TextTX->hasFocus());
    }
    void refusedSend_keepsTextLogsNothingAndTellsReason_untilASendGoesThrough() {
        QVERIFY(t->show());
        t->echoLink.failing.insert(QStringLiteral("SendChatText"));
        send(QStringLiteral("hello"));
        QCOMPARE(t->w.TextTX->text(), QStringLiteral("hello"));
        QCOMPARE(sentLog(), Heading);
        QCOMPARE(t->voice.spoken, QStringList{OutgoingChat::sendFailedSpeech()});
        QVERIFY(t->w.TextTX->toolTip().contains(QStringLiteral("send failed")));
        QVERIFY(t->w.TextTX->accessibleDescription().startsWith(QStringLiteral("Message not sent")));
        QVERIFY(t->w.TextTX->hasFocus());
        t->echoLink.failing.clear();
        QTest::mouseClick(t->w.Send, Qt::LeftButton);
        QCOMPARE(t->echoLink.sentChat, QStringList{QStringLiteral("(09:05) >hello")});
        QVERIFY(t->w.TextTX->toolTip().isEmpty() && t->w.TextTX->accessibleDescription().isEmpty());
    }
    void ownCallsign_readForEveryLine_lineLoggedWithoutItWhenUnanswered() {
        send(QStringLiteral("one"));
        t->echoLink.ownCallsign = QStringLiteral("N1XYZ-L");
        send(QStringLiteral("two"));
        t->echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        send(QStringLiteral("three"));
        QCOMPARE(sentLog(),
                 Heading + QStringLiteral("N0CALL> (09:05) >one\nN1XYZ-L> (09:05) >two\n> (09:05) >three\n"));
    }
    void anyKeyAndSend_putSentLogCaretAtEndWithNewestLineInView() {
        QVERIFY(t->show());
        controls::appendToLog(t->w.ReceivedText, QString(12000, u's') + u'\n');
        controls::flushLog(t->w.ReceivedText);
        for (bool typing : {true, false}) {
            t->w.ReceivedText->moveCursor(QTextCursor::Start);
            t->w.TextTX->setFocus();
            typing ? QTest::keyClick(t->w.TextTX, Qt::Key_A) : send(QStringLiteral("last"));
            controls::flushLog(t->w.ReceivedText);
            QVERIFY(t->w.ReceivedText->textCursor().atEnd());
            QTRY_VERIFY(newestLineInView(t->w.ReceivedText));
        }
    }
    void clearButtons_emptyOnlyTheirOwnLog_evenLinesNotShownYet_andGiveFocusToEntry() {
        QVERIFY(t->show());
        send(QStringLiteral("hello"));
        controls::appendToLog(t->w.IncomingText, QStringLiteral("N1XYZ (09:05)>in\n"));
        controls::flushLog(t->w.IncomingText);
        QTest::mouseClick(t->w.Clear, Qt::LeftButton);
        QCOMPARE(sentLog(), QString());
        QCOMPARE(logText(t->w.IncomingText), QStringLiteral("Incoming Text\nN1XYZ (09:05)>in\n"));
        controls::appendToLog(t->w.IncomingText, QStringLiteral("N1XYZ (09:05)>just before\n"));
        t->w.ClearRX->setFocus();
        QTest::mouseClick(t->w.ClearRX, Qt::LeftButton);
        QTest::qWait(20);
        QCOMPARE(t->w.IncomingText->toPlainText(), QString());
        QVERIFY(t->w.TextTX->hasFocus());
    }
    void about_replacesWholeSentLogWithOneCreditsBlock() {
        send(QStringLiteral("hello"));
        QTest::mouseClick(t->w.About, Qt::LeftButton);
        QTest::mouseClick(t->w.About, Qt::LeftButton);
        QCOMPARE(sentLog(), chat::credits());
    }
};

QTEST_MAIN(OutgoingChatTest)
#include "tst_outgoingchat.moc"
