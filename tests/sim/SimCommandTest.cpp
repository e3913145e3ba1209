// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimCommand.h"

#include "DataRow.h"

#include <QTest>

using Kind = SimCommand::Kind;
Q_DECLARE_METATYPE(Kind)

class SimCommandTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A line of standard input and what it gives; number is ms for pause, count for burst and storm.
    void accepted_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        row("chat keeps text and spaces", "chat  QA1>hi  there ", Kind::Chat, "", " QA1>hi  there ", 0);
        row("empty chat", "chat", Kind::Chat, "", "", 0);
        row("escapes", "chat \\r\\n\\t\\x41\\x7f\\\\r", Kind::Chat, "", "\r\n\tA\x7f\\r", 0);
        row("CRLF end dropped after escaped CR", "chat A>hi\\r\r", Kind::Chat, "", "A>hi\r", 0);
        row("CRLF after a word", "key\r", Kind::Key, "", "", 0);
        row("connect in capitals with name", "connect qa2-l  Fern 2 m ", Kind::Connect, "QA2-L", "Fern 2 m", 0);
        row("receive", "receive qa1 ", Kind::Receive, "QA1", "", 0);
        row("refuse", "refuse qa1bad", Kind::Refuse, "QA1BAD", "", 0);
        row("pause", "pause 250", Kind::Pause, "", "", 250);
        row("burst keeps text exactly", "burst 10000 QA1>/ver/  x\\t", Kind::Burst, "", "QA1>/ver/  x\t", 10000);
        row("storm", "storm 2000", Kind::Storm, "", "", 2000);
        row("word in capitals after spaces", "  CLOSE", Kind::Close, "", "", 0);
        row("drop-all", "drop-all", Kind::DropAll, "", "", 0);
        row("comment", "   # connect QA1", Kind::None, "", "", 0);
        row("blank", "  \t ", Kind::None, "", "", 0);
    }
    void accepted() {
        QFETCH(QString, line);
        QString error;
        const auto c = parseSimCommand(line, &error);
        QVERIFY2(c.has_value(), qPrintable(error));
        QTEST(c->kind, "kind");
        QTEST(c->callsign, "callsign");
        QTEST(c->text, "text");
        QTEST(c->kind == Kind::Pause ? c->ms : c->count, "number");
    }

    // Each error names what is wrong, or the cure.
    void refused_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("reason");
        row("unknown escape", "chat a\\q", "\\\\");
        row("trailing backslash", "chat ends in \\", "backslash");
        row("short hex", "chat \\x4", "hex");
        row("bad hex", "chat \\xzz", "hex");
        row("NUL in a word", QStringLiteral("drop QA") + QChar(0), "not a callsign");
        row("drop without callsign", "drop", "missing");
        row("two callsigns", "receive QA1 QA2", "not a callsign");
        row("markup callsign", "connect QA<1>", "not a callsign");
        row("argument to a bare word", "unreceive QA1", "no argument");
        row("negative pause", "pause -5", "milliseconds");
        row("pause with unit", "pause 1s", "milliseconds");
        row("pause beyond int", "pause 99999999999999999999", "milliseconds");
        for (const char* line :
             {"storm", "storm 0", "storm many", "storm 1000001", "storm 5 more", "burst x A>hi", "burst  5 A>hi"}) {
            row(line, line, "count");
        }
        row("unknown word", "shout hello", "unknown command \"shout\"");
    }
    void refused() {
        QFETCH(QString, line);
        QString error;
        QVERIFY(!parseSimCommand(line, &error).has_value());
        QFETCH(QString, reason);
        QVERIFY2(error.contains(reason), qPrintable(error));
    }

    void escapeText_keepsEveryTextOnOneLineAndUnescapesBack() {
        QString all = QStringLiteral("\\r é ✓");
        for (char16_t u = 0; u < 0x90; ++u) {
            all += QChar(u);
        }
        const QString escaped = escapeText(all);
        QVERIFY(!escaped.contains(u'\n') && !escaped.contains(u'\r'));
        QString error;
        QCOMPARE(unescapeText(escaped, &error).value_or(QStringLiteral("<error>")), all);
    }
};

QTEST_GUILESS_MAIN(SimCommandTest)
#include "SimCommandTest.moc"
