// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChatRules.h"
#include "DataRow.h"

#include <QTest>

using chat::ChatLine;

namespace {
const QChar Zwsp(u'\u200B');

QString withoutBreakHints(QString s) {
    return s.remove(Zwsp);
}
} // namespace

class ChatRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void split_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("message");
        row("plain", "N0CALL>hello", "N0CALL", ">hello");
        row("cut at first >", "N0CALL-L>a>b", "N0CALL-L", ">a>b");
        row("no > keeps whole text as message", "hello there", "", "hello there");
        row("only >", ">", "", ">");
        row("empty", "", "", "");
        row("> far beyond 32767", QString(40000, QLatin1Char('A')) + QStringLiteral(">x"),
            QString(40000, QLatin1Char('A')), ">x");
    }
    void split() {
        QFETCH(QString, text);
        const ChatLine line = chat::splitChatLine(text);
        QTEST(line.sender, "sender");
        QTEST(line.messagePart, "message");
    }

    void versionQuery_lowerCaseOnlyAnywhereInText() {
        for (const char* query : {"N0CALL>/ver/", "/ver/N0CALL>hi"}) {
            QVERIFY2(chat::isVersionQuery(QString::fromLatin1(query)), query);
        }
        for (const char* other : {"N0CALL>/VER/", "N0CALL>/Ver/", "N0CALL>ver"}) {
            QVERIFY2(!chat::isVersionQuery(QString::fromLatin1(other)), other);
        }
        QCOMPARE(chat::versionReply(), QStringLiteral("Parlevox  v1.2"));
    }

    void filterWord_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("drops");
        row("inside callsign", "CALL", true);
        row("at first character", "N0", true);
        row("whole callsign", "N0CALL", true);
        row("in message", "hello", true);
        row("other case", "Hello", false);
        row("separator", ">", true);
        row("empty box", "", false);
        row("absent", "bye", false);
    }
    void filterWord() {
        QFETCH(QString, word);
        QTEST(chat::filterWordMatches(QStringLiteral("N0CALL>hello"), word), "drops");
    }
    void stampedLine_keepsLoneCr() {
        const ChatLine line = chat::splitChatLine(QStringLiteral("N0CALL>line1\rline2"));
        QCOMPARE(chat::stampedLine(line, QStringLiteral("09:05")), QStringLiteral("N0CALL (09:05)>line1\rline2"));
        QCOMPARE(chat::stampedLine(chat::splitChatLine(QStringLiteral("hello")), QStringLiteral("17:40")),
                 QStringLiteral(" (17:40)hello"));
    }

    void spokenText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("stamped");
        QTest::addColumn<QString>("spoken");
        row("unstamped keeps >", "N0CALL>hello", false, "Message from  N0CALL:>hello");
        row("stamped turns > into space", "N0CALL>hello", true, "Message from  N0CALL: hello");
        row("stamped splits at -", "N0CALL-L>hi", true, "Message from  N0CALL : L: hi");
        row("unstamped keeps -", "N0CALL-L>hi", false, "Message from  N0CALL-L:>hi");
        row("no separator", "hello", false, "Message from  :hello");
        row("no separator stamped", "a-b", true, "Message from  :a : b");
        row("only >", ">", true, "Message from  : ");
        row("lone CR kept", "N0CALL>a\rb", true, "Message from  N0CALL: a\rb");
    }
    void spokenText() {
        QFETCH(QString, text);
        QFETCH(bool, stamped);
        QTEST(chat::spokenText(chat::splitChatLine(text), stamped), "spoken");
    }

    void logDisplay_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        row("lone CR breaks the line", "a\rb", "a\nb");
        row("CR LF is one break", "a\r\nb", "a\nb");
        row("lone LF", "a\nb", "a\nb");
        row("CR CR is two breaks", "a\r\rb", "a\n\nb");
        row("paragraph separator", QStringLiteral("a\u2029b"), "a\nb");
        row("bell and escape made visible", QStringLiteral("a\x07[\x1b]"), QStringLiteral("a\u2407[\u241b]"));
        row("NUL", QString(QChar(0)), QStringLiteral("\u2400"));
        row("DEL", QStringLiteral("\x7f"), QStringLiteral("\u2421"));
        row("tab kept", "a\tb", "a\tb");
        row("frame markers replaced", QStringLiteral("a\uFDD0b\uFDD1"), QStringLiteral("a\uFFFDb\uFFFD"));
        row("markup literal", "<b>x</b>&amp;", "<b>x</b>&amp;");
        row("right-to-left", QStringLiteral("\u05E9\u05DC\u05D5\u05DD \u202Eabc"),
            QStringLiteral("\u05E9\u05DC\u05D5\u05DD \u202Eabc"));
    }
    void logDisplay() {
        QFETCH(QString, text);
        QTEST(chat::logDisplayText(text), "shown");
    }

    void logDisplay_longRunGetsInvisibleWrapPoints() {
        const QString run(1000, QLatin1Char('x'));
        const QString shown = chat::logDisplayText(run);
        QCOMPARE(shown.count(Zwsp), 1000 / chat::MaxUnbrokenRun);
        QCOMPARE(withoutBreakHints(shown), run);

        QString words; // ordinary words, however many, are left alone
        for (int i = 0; i < 500; ++i) {
            words += QString(chat::MaxUnbrokenRun - 1, QLatin1Char('y')) + QLatin1Char(' ');
        }
        QCOMPARE(chat::logDisplayText(words), words);
        QVERIFY(chat::logDisplayText(QString(1000, QChar::Nbsp)).contains(Zwsp)); // no place to wrap
    }
    void logDisplay_neverSplitsSurrogatePairs() {
        QString emoji;
        for (int i = 0; i < 301; ++i) {
            emoji += QStringLiteral("\U0001F600");
        }
        const QString shown = chat::logDisplayText(QLatin1Char('a') + emoji);
        QVERIFY(shown.contains(Zwsp));
        QCOMPARE(withoutBreakHints(shown), QLatin1Char('a') + emoji);
        for (qsizetype i = 0; i + 1 < shown.size(); ++i) {
            QVERIFY2(!(shown.at(i).isHighSurrogate() && !shown.at(i + 1).isLowSurrogate()), "split pair");
        }
    }

    void outgoing_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("stampOn");
        QTest::addColumn<QString>("sent");
        row("stamped", "hello", true, "(09:05) >hello");
        row("unstamped", "hello", false, "hello");
        row("dot line never stamped", ".help", true, ".help");
        row("dot later is stamped", "a.b", true, "(09:05) >a.b");
        row("leading space then dot is stamped", " .x", true, "(09:05) > .x");
        row("empty stamped", "", true, "(09:05) >");
        row("empty unstamped", "", false, "");
    }
    void outgoing() {
        QFETCH(QString, typed);
        QFETCH(bool, stampOn);
        QTEST(chat::outgoingText(typed, stampOn, QStringLiteral("09:05")), "sent");
    }
    void sentLogLine_putsCallsignFirst() {
        QCOMPARE(chat::sentLogLine(QStringLiteral("N0CALL"), QStringLiteral("(09:05) >hello")),
                 QStringLiteral("N0CALL> (09:05) >hello\n"));
        QCOMPARE(chat::sentLogLine(QString(), QStringLiteral("hi")), QStringLiteral("> hi\n"));
    }
};

QTEST_APPLESS_MAIN(ChatRulesTest)
#include "tst_chatrules.moc"
