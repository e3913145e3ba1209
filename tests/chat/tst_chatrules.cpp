// SPDX-License-Identifier: GPL-3.0-or-later
#include "chat/ChatRules.h"
#include "DataRow.h"

#include <QTest>
#include <functional>

using namespace chat;

namespace {
const QChar Zwsp(u'\u200B');
const QString Stamp = QStringLiteral("09:05");
const QHash<QString, std::function<QString(const QString&)>> Rules{
    {QStringLiteral("split"),
     [](const QString& s) { return splitChatLine(s).sender + u'|' + splitChatLine(s).messagePart; }},
    {QStringLiteral("spokenStamped"), [](const QString& s) { return spokenText(splitChatLine(s), true); }},
    {QStringLiteral("log"), [](const QString& s) { return logDisplayText(s); }},
    {QStringLiteral("out"), [](const QString& s) { return outgoingText(s, true, Stamp); }},
    {QStringLiteral("ver"), [](const QString& s) { return QString::number(isVersionQuery(s)); }},
    {QStringLiteral("filter"),
     [](const QString& w) { return QString::number(filterWordMatches(QStringLiteral("N0CALL>hello"), w)); }},
};
} // namespace

class ChatRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rule_data() {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        row("split at first >", "split", "N0CALL-L>a>b", "N0CALL-L|>a>b");
        row("> far beyond 32767", "split", QString(40000, u'A') + QStringLiteral(">x"),
            QString(40000, u'A') + QStringLiteral("|>x"));
        row("version query anywhere", "ver", "/ver/N0CALL>hi", "1");
        row("version query upper case", "ver", "N0CALL>/VER/", "0");
        row("filter at first character", "filter", "N0", "1");
        row("filter other case", "filter", "Hello", "0");
        row("speech without sender", "spokenStamped", "a-b", "Message from  :a : b");
        row("log: lone CR breaks", "log", "a\rb", "a\nb");
        row("log: CR LF is one break", "log", "a\r\nb", "a\nb");
        row("log: paragraph separator", "log", QStringLiteral("a\u2029b"), "a\nb");
        row("log: controls made visible", "log", QStringLiteral("\x07\x1b\x7f") + QChar(0) + u'\t',
            QStringLiteral("\u2407\u241b\u2421\u2400\t"));
        row("log: frame markers replaced", "log", QStringLiteral("a\uFDD0b\uFDD1"), QStringLiteral("a\uFFFDb\uFFFD"));
        row("log: markup literal", "log", "<b>x</b>&amp;", "<b>x</b>&amp;");
        row("log: right-to-left kept", "log", QStringLiteral("\u05E9\u05DC \u202Eabc"), QStringLiteral("\u05E9\u05DC \u202Eabc"));
        row("stamped send", "out", "hello", "(09:05) >hello");
        row("dot command never stamped", "out", ".help", ".help");
        row("space then dot stamped", "out", " .x", "(09:05) > .x");
    }
    void rule() {
        QFETCH(QString, rule);
        QFETCH(QString, in);
        QTEST(Rules.value(rule)(in), "out");
    }

    void logDisplay_wrapsLongRunsInvisiblyButNeverWordsOrSurrogatePairs() {
        const QString run(1000, u'x');
        QCOMPARE(logDisplayText(run).count(Zwsp), 1000 / MaxUnbrokenRun);
        QCOMPARE(logDisplayText(run).remove(Zwsp), run);
        const QString words = (QString(MaxUnbrokenRun - 1, u'y') + u' ').repeated(50);
        QCOMPARE(logDisplayText(words), words);
        QVERIFY(logDisplayText(QString(1000, QChar::Nbsp)).contains(Zwsp));
        const QString emoji = u'a' + QStringLiteral("\U0001F600").repeated(301);
        const QString shown = logDisplayText(emoji);
        QCOMPARE(QString(shown).remove(Zwsp), emoji);
        for (qsizetype i = 0; i + 1 < shown.size(); ++i) {
            QVERIFY(!(shown.at(i).isHighSurrogate() && !shown.at(i + 1).isLowSurrogate()));
        }
    }
};

QTEST_APPLESS_MAIN(ChatRulesTest)
#include "tst_chatrules.moc"
