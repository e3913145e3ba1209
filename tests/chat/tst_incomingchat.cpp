// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Controls.h"
#include "DataRow.h"
#include "chat/IncomingChat.h"
#include "MainWindowRig.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>

class IncomingChatTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ChatWindow<IncomingChat>> t;

    void receive(const QString& text) {
        t->echoLink.ChatTextReceived(text);
        controls::flushLog(t->w.IncomingText);
    }
    QString logged() const { return t->w.IncomingText->toPlainText().mid(QStringLiteral("Incoming Text\n").size()); }

private Q_SLOTS:
    void init() {
        t = std::make_unique<ChatWindow<IncomingChat>>();
        connect(&t->echoLink, &EchoLinkClient::ChatTextReceived, t->chat.get(),
                &IncomingChat::EchoLink_ChatTextReceived);
        controls::setCheckValue(t->w.Check2, 1);
        controls::setCheckValue(t->w.Check3, 1);
    }
    void cleanup() { t.reset(); }

    // Answered without waiting, a refusal unreported, even when filtered; a text during the reply comes after.
    void versionQuery_answeredWithoutWait_evenFiltered_textDuringReplyComesAfter() {
        t->echoLink.failing.insert(QStringLiteral("SendChatText"));
        receive(QStringLiteral("N0CALL>/ver/"));
        t->echoLink.failing.clear();
        t->w.FilterText.at(2)->setText(QStringLiteral("ver"));
        t->echoLink.duringSendChatText = [this](const QString&) {
            t->echoLink.duringSendChatText = nullptr;
            receive(QStringLiteral("N1XYZ>second"));
        };
        receive(QStringLiteral("N0CALL>/ver/"));
        QCOMPARE(t->echoLink.calls, QStringList(2, QStringLiteral("SendChatText(Parlevox  v1.2)")));
        QCOMPARE(t->echoLink.noWaitSends, 2);
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>/ver/\nN1XYZ (09:05)>second\n"));
    }

    void logAndSpeech_data() {
        QTest::addColumn<int>("check2"); // time stamps
        QTest::addColumn<int>("check3"); // announce
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("spoken");
        row("unstamped", 0, 1, "N0CALL-L>hi", "N0CALL-L>hi\n", "Message from  N0CALL-L:>hi");
        row("stamped", 1, 1, "N0CALL-L>hi", "N0CALL-L (17:40)>hi\n", "Message from  N0CALL : L: hi");
        row("greyed stamps count", 2, 1, "N0CALL-L>hi", "N0CALL-L (17:40)>hi\n", "Message from  N0CALL : L: hi");
        row("announce off", 1, 0, "A>x", "A (17:40)>x\n", "");
        row("announce greyed is silent", 0, 2, "A>x", "A>x\n", "");
        row("lone CR is a line break", 0, 0, "A>1\r2", "A>1\n2\n", "");
        row("no > stamped", 1, 0, "hello", " (17:40)hello\n", "");
        row("megabyte without spaces", 0, 0, QString(1 << 20, u'x'), QString(1 << 20, u'x') + u'\n', "");
        row("only separators", 0, 0, ">>>>", ">>>>\n", "");
    }
    void logAndSpeech() {
        QFETCH(QString, shown);
        QFETCH(QString, spoken);
        QFETCH(int, check2);
        QFETCH(int, check3);
        QFETCH(QString, text);
        t->clock.set(17, 40);
        controls::setCheckValue(t->w.Check2, check2);
        controls::setCheckValue(t->w.Check3, check3);
        t->voice.failing = spoken.isEmpty(); // a failing voice changes nothing else
        receive(text);
        QCOMPARE(logged().remove(QChar(u'\u200B')), shown);
        QCOMPARE(t->w.IncomingText->document()->blockCount(), 2 + shown.count(u'\n'));
        QCOMPARE(t->voice.spoken, spoken.isEmpty() ? QStringList() : QStringList{spoken});
    }

    // Focus goes to the entry only from the entry, the log or nowhere, and never from another active window.
    void focusAfterText_data() {
        QTest::addColumn<QString>("focused"); // "other": another window is active
        QTest::addColumn<bool>("filtered");
        QTest::addColumn<QString>("after");
        row("incoming log", "IncomingText", false, "TextTX");
        row("incoming log, filtered", "IncomingText", true, "IncomingText");
        row("favourite's box", "Text6", false, "Text6");
        row("nowhere", "", false, "TextTX");
        row("nowhere, filtered", "", true, "");
        row("other window", "other", false, "TextTX");
    }
    void focusAfterText() {
        QFETCH(QString, focused);
        QFETCH(bool, filtered);
        QVERIFY(t->show());
        QLineEdit other;
        if (QWidget* before = t->window.findChild<QWidget*>(focused); before != nullptr && !focused.isEmpty()) {
            before->setFocus();
        } else if (focused == QStringLiteral("other")) {
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            other.setFocus();
        } else if (QWidget* any = QApplication::focusWidget()) {
            any->clearFocus();
        }
        t->w.FilterText.at(4)->setText(QStringLiteral("drop"));
        receive(filtered ? QStringLiteral("N0CALL>drop me") : QStringLiteral("N0CALL>hello"));
        const QWidget* now = t->window.focusWidget();
        QTEST(now != nullptr ? now->objectName() : QString(), "after");
        QCOMPARE(QApplication::focusWidget(), other.isVisible() ? &other : now);
    }

    // A burst shows whole and in order; a filter word in any box drops a text, caret still to the end, newest in view.
    void burstAndDroppedTexts_logInOrderCaretAtEndNewestLineInView() {
        QVERIFY(t->show());
        QString expected;
        for (int i = 0; i < 300; ++i) {
            t->echoLink.ChatTextReceived(QStringLiteral("N0CALL>%1\r\n%2").arg(i).arg(QString(60, u'z')));
            expected += QStringLiteral("N0CALL (09:05)>%1\n%2\n").arg(i).arg(QString(60, u'z'));
        }
        for (QLineEdit* box : t->w.FilterText) {
            box->setText(QStringLiteral("N0"));
            t->w.IncomingText->moveCursor(QTextCursor::Start);
            receive(QStringLiteral("N0CALL>drop me"));
            QVERIFY(t->w.IncomingText->textCursor().atEnd());
            box->clear();
        }
        QCOMPARE(logged(), expected);
        QCOMPARE(t->voice.spoken.size(), 300);
        QTRY_VERIFY(newestLineInView(t->w.IncomingText));
    }
};

QTEST_MAIN(IncomingChatTest)
#include "tst_incomingchat.moc"
