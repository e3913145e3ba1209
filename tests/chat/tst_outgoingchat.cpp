// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChatRules.h"
#include "Controls.h"
#include "DataRow.h"
#include "MainWindowRig.h"
#include "OutgoingChat.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTextDocument>

namespace {
const QString Heading = QStringLiteral("Text Sent\n");
}

class OutgoingChatTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ChatWindow<OutgoingChat>> t;

    QString sentLog() const { return logText(t->w.ReceivedText); }
    void send(const QString& typed) {
        t->w.TextTX->setText(typed);
        t->chat->Send_Click();
        controls::flushLog(t->w.ReceivedText);
    }

private Q_SLOTS:
    void init() {
        t = std::make_unique<ChatWindow<OutgoingChat>>();
        controls::setCheckValue(t->w.Check1, 1);
    }
    void cleanup() { t.reset(); }

    void send_data() {
        QTest::addColumn<int>("check1");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("sent");
        row("stamped", 1, "hello", "(09:05) >hello");
        row("unstamped", 0, "hello", "hello");
        row("greyed sends without stamp", 2, "hello", "hello");
        row("empty, unstamped", 0, "", "");
        row("long line sent whole", 0, QString(100000, QLatin1Char('q')), QString(100000, QLatin1Char('q')));
    }
    void send() {
        QFETCH(int, check1);
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        controls::setCheckValue(t->w.Check1, check1);
        t->w.TextTX->setText(typed);
        QTest::mouseClick(t->w.Send, Qt::LeftButton);
        QCOMPARE(t->echoLink.sentChat, QStringList{sent});
        const QString logged = Heading + QStringLiteral("N0CALL> ") + sent + QLatin1Char('\n');
        QCOMPARE(sentLog().remove(QChar(u'\u200B')), logged); // wrap hints aside
        t->w.ReceivedText->undo();
        QCOMPARE(sentLog().remove(QChar(u'\u200B')), logged);
        QVERIFY(t->w.TextTX->text().isEmpty());
        QVERIFY(t->voice.spoken.isEmpty());
    }
    void enterKeyAndSendButton_sendAtTheClocksTimeAndGiveFocusBackToEmptyEntry() {
        QVERIFY(t->show());
        t->w.TextTX->setFocus();
        QTest::keyClicks(t->w.TextTX, QStringLiteral("hello"));
        QVERIFY(t->echoLink.sentChat.isEmpty());
        QTest::keyClick(t->w.TextTX, Qt::Key_Return);
        QVERIFY(t->w.TextTX->text().isEmpty());
        t->clock.set(17, 40);
        QTest::keyClick(t->w.TextTX, Qt::Key_Enter);
        t->w.TextTX->setText(QStringLiteral("again"));
        t->w.Send->setFocus();
        QTest::mouseClick(t->w.Send, Qt::LeftButton);
        QCOMPARE(t->echoLink.sentChat, (QStringList{QStringLiteral("(09:05) >hello"), QStringLiteral("(17:40) >"),
                                                    QStringLiteral("(17:40) >again")}));
        QVERIFY(t->w.TextTX->text().isEmpty());
        QVERIFY(t->w.TextTX->hasFocus());
    }
    void refusedSend_keepsTextLogsNothingAndTellsUser() {
        QVERIFY(t->show());
        t->echoLink.failing.insert(QStringLiteral("SendChatText"));
        t->w.TextTX->setText(QStringLiteral("hello <there>"));
        QTest::mouseClick(t->w.Send, Qt::LeftButton);
        QCOMPARE(t->w.TextTX->text(), QStringLiteral("hello <there>"));
        QCOMPARE(sentLog(), Heading);
        QCOMPARE(t->voice.spoken, QStringList{OutgoingChat::sendFailedSpeech()});
        QVERIFY(t->w.TextTX->toolTip().contains(QStringLiteral("send failed")));
        QVERIFY(t->w.TextTX->accessibleDescription().startsWith(QStringLiteral("Message not sent")));
        QVERIFY(t->w.TextTX->hasFocus());
        t->echoLink.failing.clear(); // the next send that goes through takes the notice away
        QTest::mouseClick(t->w.Send, Qt::LeftButton);
        QCOMPARE(t->echoLink.sentChat, QStringList{QStringLiteral("(09:05) >hello <there>")});
        QVERIFY(t->w.TextTX->toolTip().isEmpty());
        QVERIFY(t->w.TextTX->accessibleDescription().isEmpty());
        QVERIFY(t->w.TextTX->text().isEmpty());
    }
    void failureReasonWithMarkup_isShownLiterally() {
        class MarkupRefusal : public FakeEchoLinkClient {
        public:
            CallStatus SendChatText(const QString&) override {
                return CallStatus::failure(QStringLiteral("<b>busy</b> & gone"));
            }
        } refusing;
        t->chat = std::make_unique<OutgoingChat>(t->w, refusing, t->voice, t->clock);
        t->chat->Send_Click();
        QTextDocument shown;
        shown.setHtml(t->w.TextTX->toolTip());
        QVERIFY(shown.toPlainText().contains(QStringLiteral("<b>busy</b> & gone")));
        QVERIFY(t->w.TextTX->accessibleDescription().contains(QStringLiteral("<b>busy</b> & gone")));
        t->chat.reset(); // before the refusing client goes
    }
    void ownCallsign_readForEveryLineAndLineLoggedWithoutIt() {
        send(QStringLiteral("one"));
        t->echoLink.ownCallsign = QStringLiteral("N1XYZ-L");
        send(QStringLiteral("two"));
        t->echoLink.failing.insert(QStringLiteral("OwnCallsign"));
        send(QStringLiteral("three"));
        QCOMPARE(sentLog(),
                 Heading + QStringLiteral("N0CALL> (09:05) >one\nN1XYZ-L> (09:05) >two\n> (09:05) >three\n"));
        QVERIFY(t->w.TextTX->text().isEmpty());
    }

    void anyKeyAndSend_putSentLogCaretAtEndWithNewestLineInView() {
        QVERIFY(t->show());
        controls::appendToLog(t->w.ReceivedText, QString(12000, QLatin1Char('s')) + QLatin1Char('\n'));
        controls::flushLog(t->w.ReceivedText);
        t->w.ReceivedText->moveCursor(QTextCursor::Start);
        t->w.TextTX->setFocus();
        QTest::keyClick(t->w.TextTX, Qt::Key_A);
        controls::flushLog(t->w.ReceivedText);
        QVERIFY(t->w.ReceivedText->textCursor().atEnd());
        QTRY_VERIFY(newestLineInView(t->w.ReceivedText));
        QCOMPARE(t->w.TextTX->text(), QStringLiteral("a"));
        QVERIFY(t->echoLink.sentChat.isEmpty());

        t->w.ReceivedText->moveCursor(QTextCursor::Start);
        send(QStringLiteral("last"));
        QVERIFY(t->w.ReceivedText->textCursor().atEnd());
        QVERIFY(sentLog().endsWith(QStringLiteral("N0CALL> (09:05) >last\n")));
        QTRY_VERIFY(newestLineInView(t->w.ReceivedText));
    }

    void clearButtons_emptyTheirLogsHeadingIncluded() {
        QVERIFY(t->show());
        send(QStringLiteral("hello"));
        const QString incoming = t->w.IncomingText->toPlainText();
        QTest::mouseClick(t->w.Clear, Qt::LeftButton);
        QCOMPARE(sentLog(), QString());
        QCOMPARE(t->w.IncomingText->toPlainText(), incoming);
        QVERIFY(t->w.TextTX->hasFocus());

        t->w.ClearRX->setFocus();
        QTest::mouseClick(t->w.ClearRX, Qt::LeftButton);
        QCOMPARE(t->w.IncomingText->toPlainText(), QString());
        QVERIFY(t->w.TextTX->hasFocus());

        send(QStringLiteral("next")); // starts the log afresh
        QCOMPARE(sentLog(), QStringLiteral("N0CALL> (09:05) >next\n"));

        // A line that came in just before the click, and is not shown yet, goes with the rest.
        controls::appendToLog(t->w.IncomingText, QStringLiteral("N1XYZ (09:05)>just before\n"));
        QTest::mouseClick(t->w.ClearRX, Qt::LeftButton);
        QTest::qWait(20);
        QCOMPARE(t->w.IncomingText->toPlainText(), QString());
    }
    void about_replacesWholeSentLogWithOneCreditsBlock() {
        send(QStringLiteral("hello"));
        QTest::mouseClick(t->w.About, Qt::LeftButton);
        QTest::mouseClick(t->w.About, Qt::LeftButton);
        QCOMPARE(sentLog(), chat::credits());
        QCOMPARE(t->echoLink.sentChat.size(), 1);
    }
};

QTEST_MAIN(OutgoingChatTest)
#include "tst_outgoingchat.moc"
