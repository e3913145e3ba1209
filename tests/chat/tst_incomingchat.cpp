// SPDX-License-Identifier: GPL-3.0-or-later
#include "Controls.h"
#include "FakeClock.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "IncomingChat.h"
#include "LogInView.h"
#include "MainLayout.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <memory>

namespace {
const QString Heading = QStringLiteral("Incoming Text\n");
}

class IncomingChatTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> window;
    std::unique_ptr<FakeEchoLinkClient> echoLink;
    std::unique_ptr<FakeVoice> voice;
    FakeClock clock;
    IncomingChat::Widgets w;
    std::unique_ptr<IncomingChat> chat;

    void receive(const QString& text) { echoLink->ChatTextReceived(text); }
    QString log() const { return w.IncomingText->toPlainText(); }
    // The log after its heading.
    QString logged() const { return log().mid(Heading.size()); }
    void setChecks(int check2, int check3) {
        controls::setCheckValue(w.Check2, check2);
        controls::setCheckValue(w.Check3, check3);
    }

private Q_SLOTS:
    void init() {
        window = std::make_unique<QWidget>();
        buildMainLayout(window.get());
        echoLink = std::make_unique<FakeEchoLinkClient>();
        voice = std::make_unique<FakeVoice>();
        clock.set(9, 5);
        w = IncomingChat::Widgets::find(window.get());
        chat = std::make_unique<IncomingChat>(w, *echoLink, *voice, clock);
        connect(echoLink.get(), &EchoLinkClient::ChatTextReceived, chat.get(),
                &IncomingChat::EchoLink_ChatTextReceived);
        setChecks(1, 1);
    }
    void cleanup() {
        chat.reset();
        window.reset();
    }

    // Version query

    void versionQuery_isAnsweredEvenWhenFiltered() {
        w.FilterText.at(2)->setText(QStringLiteral("ver"));
        receive(QStringLiteral("N0CALL>/ver/"));
        QCOMPARE(echoLink->sentChat, QStringList{QStringLiteral("Parlevox  v1.2")});
        // The reply does not wait for the station's answer: a burst of queries is answered at the bus's pace.
        QCOMPARE(echoLink->noWaitSends, 1);
        QCOMPARE(log(), Heading);
        QVERIFY(voice->spoken.isEmpty());
    }
    void versionQuery_isLoggedAndSpokenButReplyIsNot() {
        receive(QStringLiteral("N0CALL>/ver/"));
        QCOMPARE(echoLink->sentChat.size(), 1);
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>/ver/\n"));
        QCOMPARE(voice->spoken, QStringList{QStringLiteral("Message from  N0CALL: /ver/")});
    }
    void versionQueryInCapitals_isNotAnswered() {
        receive(QStringLiteral("N0CALL>/VER/"));
        QVERIFY(echoLink->callsTo(QStringLiteral("SendChatText")).isEmpty());
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>/VER/\n"));
    }
    void refusedVersionReply_stillLogsAndSpeaks() {
        echoLink->failing.insert(QStringLiteral("SendChatText"));
        receive(QStringLiteral("N0CALL>/ver/"));
        QCOMPARE(echoLink->callsTo(QStringLiteral("SendChatText")).size(), 1);
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>/ver/\n"));
        QCOMPARE(voice->spoken.size(), 1);
    }

    // Filter

    void filterWordInsideCallsign_dropsText() {
        w.FilterText.at(4)->setText(QStringLiteral("CALL"));
        receive(QStringLiteral("N0CALL>hello"));
        receive(QStringLiteral("N0CALL>anything else"));
        QCOMPARE(log(), Heading);
        QVERIFY(voice->spoken.isEmpty());
    }
    void filterWordAtFirstCharacter_dropsText() {
        w.FilterText.at(0)->setText(QStringLiteral("N0CALL"));
        receive(QStringLiteral("N0CALL>hello"));
        QCOMPARE(log(), Heading);
        QVERIFY(voice->spoken.isEmpty());
    }
    void filterWordInOtherCase_keepsText() {
        w.FilterText.at(7)->setText(QStringLiteral("Hello"));
        receive(QStringLiteral("N0CALL>hello"));
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>hello\n"));
    }
    void emptyFilterBoxes_neverDrop() {
        receive(QStringLiteral("N0CALL>hello"));
        receive(QString());
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>hello\n (09:05)\n"));
    }
    void editedFilterWord_takesEffectWithNextText() {
        receive(QStringLiteral("N0CALL>one"));
        w.FilterText.at(3)->setText(QStringLiteral("two"));
        receive(QStringLiteral("N0CALL>two"));
        w.FilterText.at(3)->clear();
        receive(QStringLiteral("N0CALL>two"));
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>one\nN0CALL (09:05)>two\n"));
    }

    // Log forms

    void logLine_data() {
        QTest::addColumn<int>("check2");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("unstamped") << 0 << "N0CALL>hello"
                                   << "N0CALL>hello\n";
        QTest::newRow("stamped") << 1 << "N0CALL>hello"
                                 << "N0CALL (17:40)>hello\n";
        QTest::newRow("greyed stamps") << 2 << "N0CALL>hello"
                                       << "N0CALL (17:40)>hello\n";
        QTest::newRow("lone CR unstamped") << 0 << "N0CALL>line1\rline2"
                                           << "N0CALL>line1\nline2\n";
        QTest::newRow("lone CR stamped") << 1 << "N0CALL>line1\rline2"
                                         << "N0CALL (17:40)>line1\nline2\n";
        QTest::newRow("no > unstamped") << 0 << "hello"
                                        << "hello\n";
        QTest::newRow("no > stamped") << 1 << "hello"
                                      << " (17:40)hello\n";
        QTest::newRow("only >") << 1 << ">"
                                << " (17:40)>\n";
        QTest::newRow("markup literal") << 0 << "N0CALL><b>bold</b> &lt;"
                                        << "N0CALL><b>bold</b> &lt;\n";
    }
    void logLine() {
        QFETCH(int, check2);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        clock.set(17, 40);
        setChecks(check2, 0);
        receive(text);
        QCOMPARE(logged(), shown);
        // A lone CR is a real line break in the log, not a stray character.
        QCOMPARE(w.IncomingText->document()->blockCount(), 2 + shown.count(QLatin1Char('\n')));
    }

    // Announcement

    void spoken_data() {
        QTest::addColumn<int>("check2");
        QTest::addColumn<int>("check3");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("spoken");
        const QString text = QStringLiteral("N0CALL-L>hello");
        const QStringList raw{QStringLiteral("Message from  N0CALL-L:>hello")};
        const QStringList eased{QStringLiteral("Message from  N0CALL : L: hello")};
        QTest::newRow("unstamped, announce") << 0 << 1 << text << raw;
        QTest::newRow("stamped, announce") << 1 << 1 << text << eased;
        QTest::newRow("greyed stamp, announce") << 2 << 1 << text << eased;
        QTest::newRow("announce off") << 1 << 0 << text << QStringList();
        QTest::newRow("announce greyed is silent") << 0 << 2 << text << QStringList();
        QTest::newRow("no >") << 0 << 1 << "hello" << QStringList{QStringLiteral("Message from  :hello")};
        QTest::newRow("lone CR reaches voice")
            << 0 << 1 << "N0CALL>a\rb" << QStringList{QStringLiteral("Message from  N0CALL:>a\rb")};
    }
    void spoken() {
        QFETCH(int, check2);
        QFETCH(int, check3);
        QFETCH(QString, text);
        QFETCH(QStringList, spoken);
        setChecks(check2, check3);
        receive(text);
        QCOMPARE(voice->spoken, spoken);
    }
    void failingVoice_stillLogsAndFinishes() {
        voice->failing = true;
        w.IncomingText->moveCursor(QTextCursor::Start);
        receive(QStringLiteral("N0CALL>hello"));
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>hello\n"));
        QVERIFY(w.IncomingText->textCursor().atEnd());
    }

    // Finish: caret, view and focus

    void everyText_putsCaretAtEndAndFocusOnEntry() {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        w.FilterText.at(0)->setText(QStringLiteral("drop"));
        for (const QString& text : {QStringLiteral("N0CALL>drop me"), QStringLiteral("N0CALL>keep me")}) {
            w.FilterText.at(1)->setFocus();
            w.IncomingText->moveCursor(QTextCursor::Start);
            receive(text);
            QVERIFY2(w.IncomingText->textCursor().atEnd(), qPrintable(text));
            QVERIFY2(w.TextTX->hasFocus(), qPrintable(text));
        }
    }
    void loggedText_makesLogReadOnly() {
        QVERIFY(!w.IncomingText->isReadOnly());
        receive(QStringLiteral("N0CALL>hello"));
        QVERIFY(w.IncomingText->isReadOnly());
    }
    void longLog_keepsNewestLineInView() {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        for (int i = 0; i < 400; ++i) {
            receive(QStringLiteral("N0CALL>line %1 %2").arg(i).arg(QString(60, QLatin1Char('z'))));
        }
        QVERIFY(log().size() > 20000);
        w.IncomingText->moveCursor(QTextCursor::Start);
        receive(QStringLiteral("N0CALL>newest"));
        QVERIFY(w.IncomingText->textCursor().atEnd());
        QVERIFY(log().endsWith(QStringLiteral("N0CALL (09:05)>newest\n")));
        QTRY_VERIFY(newestLineInView(w.IncomingText));
        QVERIFY(w.IncomingText->verticalScrollBar()->maximum() > 0);
    }

    // Strangers' text

    void hostileTexts_areLoggedAndSpoken_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("control characters")
            << QStringLiteral("N0CALL>\x01\x07\x1b[2J\x7f") + QChar(0) + QStringLiteral("end");
        QTest::newRow("megabyte without spaces") << QStringLiteral("N0CALL>") + QString(1 << 20, QLatin1Char('x'));
        QTest::newRow("right-to-left override") << QStringLiteral("N0CALL>\u202E\u05E9\u05DC\u05D5\u05DD olleh");
        QTest::newRow("frame markers") << QStringLiteral("N0CALL>\uFDD0x\uFDD1");
        QTest::newRow("only separators") << QStringLiteral(">>>>");
    }
    void hostileTexts_areLoggedAndSpoken() {
        QFETCH(QString, text);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        receive(text);
        receive(QStringLiteral("N0CALL>after"));
        // One line per text below the heading, whatever the text held.
        QCOMPARE(w.IncomingText->document()->blockCount(), 4);
        QVERIFY(logged().startsWith(text.section(QLatin1Char('>'), 0, 0) + QStringLiteral(" (09:05)>")));
        QVERIFY(logged().endsWith(QStringLiteral("N0CALL (09:05)>after\n")));
        QCOMPARE(voice->spoken.size(), 2);
        QCOMPARE(voice->spoken.first().size(), QStringLiteral("Message from  :").size() + text.size());
    }

    void textArrivingDuringReply_isHandledAfterTheQuery() {
        echoLink->duringSendChatText = [this](const QString&) {
            echoLink->duringSendChatText = nullptr;
            receive(QStringLiteral("N1XYZ>second"));
        };
        receive(QStringLiteral("N0CALL>/ver/"));
        QCOMPARE(logged(), QStringLiteral("N0CALL (09:05)>/ver/\nN1XYZ (09:05)>second\n"));
        QCOMPARE(voice->spoken.size(), 2);
    }
};

QTEST_MAIN(IncomingChatTest)
#include "tst_incomingchat.moc"
