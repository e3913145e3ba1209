// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChatRules.h"
#include "Controls.h"
#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "LogInView.h"
#include "MainLayout.h"
#include "OutgoingChat.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <memory>

namespace {
const QString Heading = QStringLiteral("Text Sent\n");
}

class OutgoingChatTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> window;
    std::unique_ptr<FakeEchoLinkClient> echoLink;
    std::unique_ptr<FakeVoice> voice;
    FakeClock clock;
    OutgoingChat::Widgets w;
    std::unique_ptr<OutgoingChat> chat;

    QString sentLog() const { return w.ReceivedText->toPlainText(); }
    void showWindow() {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    void fillSentLog(int characters) {
        controls::appendToLog(w.ReceivedText, QString(characters, QLatin1Char('s')) + QLatin1Char('\n'));
        w.ReceivedText->moveCursor(QTextCursor::Start);
    }

private Q_SLOTS:
    void init() {
        window = std::make_unique<QWidget>();
        buildMainLayout(window.get());
        echoLink = std::make_unique<FakeEchoLinkClient>();
        voice = std::make_unique<FakeVoice>();
        clock.set(9, 5);
        w = OutgoingChat::Widgets::find(window.get());
        chat = std::make_unique<OutgoingChat>(w, *echoLink, *voice, clock);
        controls::setCheckValue(w.Check1, 1);
    }
    void cleanup() {
        chat.reset();
        window.reset();
    }

    // Sending

    void send_data() {
        QTest::addColumn<int>("check1");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("sent");
        QTest::newRow("stamped") << 1 << "hello"
                                 << "(09:05) >hello";
        QTest::newRow("unstamped") << 0 << "hello"
                                   << "hello";
        QTest::newRow("greyed sends without stamp") << 2 << "hello"
                                                    << "hello";
        QTest::newRow("dot line without stamp") << 1 << ".help"
                                                << ".help";
        QTest::newRow("empty, stamped") << 1 << ""
                                        << "(09:05) >";
        QTest::newRow("empty, unstamped") << 0 << ""
                                          << "";
        QTest::newRow("markup") << 0 << "<i>x</i>"
                                << "<i>x</i>";
    }
    void send() {
        QFETCH(int, check1);
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        controls::setCheckValue(w.Check1, check1);
        w.TextTX->setText(typed);
        QTest::mouseClick(w.Send, Qt::LeftButton);
        QCOMPARE(echoLink->sentChat, QStringList{sent});
        QCOMPARE(sentLog(), Heading + QStringLiteral("N0CALL> ") + sent + QLatin1Char('\n'));
        QVERIFY(w.TextTX->text().isEmpty());
        QVERIFY(voice->spoken.isEmpty());
    }
    void stampFollowsTheClock() {
        clock.set(17, 40);
        w.TextTX->setText(QStringLiteral("hi"));
        chat->Send_Click();
        clock.set(0, 0);
        w.TextTX->setText(QStringLiteral("again"));
        chat->Send_Click();
        QCOMPARE(echoLink->sentChat, (QStringList{QStringLiteral("(17:40) >hi"), QStringLiteral("(00:00) >again")}));
    }
    void enterKey_sendsLikeSendButtonAndLeavesBoxEmpty() {
        showWindow();
        w.TextTX->setFocus();
        QTest::keyClicks(w.TextTX, QStringLiteral("hello"));
        QVERIFY(echoLink->sentChat.isEmpty());
        QTest::keyClick(w.TextTX, Qt::Key_Return);
        QCOMPARE(echoLink->sentChat, QStringList{QStringLiteral("(09:05) >hello")});
        QVERIFY(w.TextTX->text().isEmpty());
        QTest::keyClick(w.TextTX, Qt::Key_Enter);
        QCOMPARE(echoLink->sentChat.size(), 2);
        QCOMPARE(echoLink->sentChat.last(), QStringLiteral("(09:05) >"));
        QVERIFY(w.TextTX->text().isEmpty());
        QVERIFY(w.TextTX->hasFocus());
    }
    void sendButton_givesFocusBackToEntry() {
        showWindow();
        w.TextTX->setText(QStringLiteral("hello"));
        w.Send->setFocus();
        QTest::mouseClick(w.Send, Qt::LeftButton);
        QVERIFY(w.TextTX->hasFocus());
    }
    void longTypedLine_isSentWhole() {
        const QString typed(100000, QLatin1Char('q'));
        controls::setCheckValue(w.Check1, 0);
        w.TextTX->setText(typed);
        chat->Send_Click();
        QCOMPARE(echoLink->sentChat, QStringList{typed});
        QCOMPARE(sentLog().remove(QChar(u'\u200B')), Heading + QStringLiteral("N0CALL> ") + typed + QLatin1Char('\n'));
    }

    // Failures

    void refusedSend_keepsTextLogsNothingAndTellsUser() {
        showWindow();
        echoLink->failing.insert(QStringLiteral("SendChatText"));
        w.TextTX->setText(QStringLiteral("hello <there>"));
        QTest::mouseClick(w.Send, Qt::LeftButton);
        QCOMPARE(w.TextTX->text(), QStringLiteral("hello <there>"));
        QCOMPARE(sentLog(), Heading);
        QVERIFY(echoLink->callsTo(QStringLiteral("OwnCallsign")).isEmpty());
        QCOMPARE(voice->spoken, QStringList{OutgoingChat::sendFailedSpeech()});
        QVERIFY(w.TextTX->toolTip().contains(QStringLiteral("send failed")));
        QVERIFY(w.TextTX->accessibleDescription().startsWith(QStringLiteral("Message not sent")));
        QVERIFY(w.TextTX->hasFocus());

        // The next send that goes through takes the notice away.
        echoLink->failing.clear();
        QTest::mouseClick(w.Send, Qt::LeftButton);
        QCOMPARE(echoLink->sentChat, QStringList{QStringLiteral("(09:05) >hello <there>")});
        QVERIFY(w.TextTX->toolTip().isEmpty());
        QVERIFY(w.TextTX->accessibleDescription().isEmpty());
        QVERIFY(w.TextTX->text().isEmpty());
    }
    void failureReasonWithMarkup_isShownLiterally() {
        class MarkupRefusal : public FakeEchoLinkClient {
        public:
            CallStatus SendChatText(const QString&) override {
                return CallStatus::failure(QStringLiteral("<b>busy</b> & gone"));
            }
        } refusing;
        chat = std::make_unique<OutgoingChat>(w, refusing, *voice, clock);
        chat->Send_Click();
        QTextDocument shown;
        shown.setHtml(w.TextTX->toolTip());
        QVERIFY(shown.toPlainText().contains(QStringLiteral("<b>busy</b> & gone")));
        QVERIFY(w.TextTX->accessibleDescription().contains(QStringLiteral("<b>busy</b> & gone")));
        chat.reset(); // before the refusing client goes
    }
    void unreadableOwnCallsign_stillLogsLineAndEmptiesEntry() {
        echoLink->failing.insert(QStringLiteral("OwnCallsign"));
        w.TextTX->setText(QStringLiteral("hello"));
        chat->Send_Click();
        QCOMPARE(echoLink->sentChat.size(), 1);
        QCOMPARE(sentLog(), Heading + QStringLiteral("> (09:05) >hello\n"));
        QVERIFY(w.TextTX->text().isEmpty());
    }
    void ownCallsign_isReadForEveryLine() {
        w.TextTX->setText(QStringLiteral("one"));
        chat->Send_Click();
        echoLink->ownCallsign = QStringLiteral("N1XYZ-L");
        w.TextTX->setText(QStringLiteral("two"));
        chat->Send_Click();
        QCOMPARE(sentLog(), Heading + QStringLiteral("N0CALL> (09:05) >one\nN1XYZ-L> (09:05) >two\n"));
    }

    // Caret of the sent log

    void anyKey_putsSentLogCaretAtEnd() {
        showWindow();
        fillSentLog(12000);
        w.TextTX->setFocus();
        QTest::keyClick(w.TextTX, Qt::Key_A);
        QVERIFY(w.ReceivedText->textCursor().atEnd());
        QCOMPARE(w.TextTX->text(), QStringLiteral("a"));
        QVERIFY(echoLink->sentChat.isEmpty());
        QTRY_VERIFY(newestLineInView(w.ReceivedText));
    }
    void send_putsSentLogCaretAtEndOfLongLog() {
        showWindow();
        for (int i = 0; i < 300; ++i) {
            fillSentLog(60);
        }
        QVERIFY(sentLog().size() > 10000);
        w.TextTX->setText(QStringLiteral("last"));
        chat->Send_Click();
        QVERIFY(w.ReceivedText->textCursor().atEnd());
        QVERIFY(sentLog().endsWith(QStringLiteral("N0CALL> (09:05) >last\n")));
        QTRY_VERIFY(newestLineInView(w.ReceivedText));
    }

    // Clear and About

    void clearButtons_emptyTheirLogsHeadingIncluded() {
        showWindow();
        w.TextTX->setText(QStringLiteral("hello"));
        chat->Send_Click();
        const QString incoming = w.IncomingText->toPlainText();
        QTest::mouseClick(w.Clear, Qt::LeftButton);
        QCOMPARE(sentLog(), QString());
        QCOMPARE(w.IncomingText->toPlainText(), incoming);
        QVERIFY(w.TextTX->hasFocus());

        w.ClearRX->setFocus();
        QTest::mouseClick(w.ClearRX, Qt::LeftButton);
        QCOMPARE(w.IncomingText->toPlainText(), QString());
        QVERIFY(w.TextTX->hasFocus());

        // Lines sent afterwards start the log afresh.
        w.TextTX->setText(QStringLiteral("next"));
        chat->Send_Click();
        QCOMPARE(sentLog(), QStringLiteral("N0CALL> (09:05) >next\n"));
    }
    void about_replacesWholeSentLogWithOneCreditsBlock() {
        w.TextTX->setText(QStringLiteral("hello"));
        chat->Send_Click();
        QTest::mouseClick(w.About, Qt::LeftButton);
        QCOMPARE(sentLog(), chat::credits());
        QTest::mouseClick(w.About, Qt::LeftButton);
        QCOMPARE(sentLog(), chat::credits());
        QVERIFY(echoLink->sentChat.size() == 1);
    }
    void sentLog_isNotUndoable() {
        w.TextTX->setText(QStringLiteral("hello"));
        chat->Send_Click();
        const QString logged = sentLog();
        w.ReceivedText->undo();
        QCOMPARE(sentLog(), logged);
    }
};

QTEST_MAIN(OutgoingChatTest)
#include "tst_outgoingchat.moc"
