// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in station's command language.
#include "SimCommand.h"

#include "DataRow.h"

#include <QTest>

using Kind = SimCommand::Kind;
Q_DECLARE_METATYPE(Kind)

class SimCommandTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void accepted_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number"); // ms for pause, count for burst and storm
        const auto add = [](const char* name, const char* line, Kind kind, const char* callsign = "",
                            const char* text = "", int number = 0) { row(name, line, kind, callsign, text, number); };
        add("chat keeps text and spaces exactly", "chat  QA1BRK>hello  there ", Kind::Chat, "",
            " QA1BRK>hello  there ");
        add("empty chat", "chat", Kind::Chat);
        add("escaped carriage return", "chat A>one\\rtwo", Kind::Chat, "", "A>one\rtwo");
        add("escaped backslash", "chat A>c:\\\\dir", Kind::Chat, "", "A>c:\\dir");
        add("line feed, tab, hex", "chat \\n\\t\\x41\\x7f", Kind::Chat, "", "\n\tA\x7f");
        add("escaped backslash before r", "chat \\\\r", Kind::Chat, "", "\\r");
        add("CRLF line end dropped", "chat A>hi\r", Kind::Chat, "", "A>hi");
        add("CRLF after escaped CR", "chat A>hi\\r\r", Kind::Chat, "", "A>hi\r");
        add("CRLF after a word", "key\r", Kind::Key);
        add("connect in capitals with name", "connect qa2fnv-l  Fernvale 2 m link ", Kind::Connect, "QA2FNV-L",
            "Fernvale 2 m link");
        add("connect without name", "connect *ECHOTEST*", Kind::Connect, "*ECHOTEST*");
        add("drop", "drop QA1BRK", Kind::Drop, "QA1BRK");
        add("receive in capitals", "receive qa1brk ", Kind::Receive, "QA1BRK");
        add("unreceive", "unreceive", Kind::Unreceive);
        add("refuse in capitals", "refuse qa1bad", Kind::Refuse, "QA1BAD");
        add("accept", "accept QA1BAD", Kind::Accept, "QA1BAD");
        add("pause", "pause 250", Kind::Pause, "", "", 250);
        add("pause zero", "pause 0", Kind::Pause);
        add("burst keeps text exactly", "burst 10000 QA1BRK>/ver/  x\\t", Kind::Burst, "", "QA1BRK>/ver/  x\t", 10000);
        add("burst without text", "burst 3", Kind::Burst, "", "", 3);
        add("storm", "storm 2000", Kind::Storm, "", "", 2000);
        add("word in capitals after spaces", "  CLOSE", Kind::Close);
        add("quit", "quit", Kind::Quit);
        add("drop-all", "drop-all", Kind::DropAll);
        add("wait-client", "wait-client", Kind::WaitClient);
        add("unkey", "unkey", Kind::Unkey);
        add("comment", "   # connect QA1BRK", Kind::None);
        add("empty line", "", Kind::None);
        add("blank line", "  \t ", Kind::None);
    }
    void accepted() {
        QFETCH(QString, line);
        QFETCH(Kind, kind);
        QString error;
        const auto c = parseSimCommand(line, &error);
        QVERIFY2(c.has_value(), qPrintable(error));
        QCOMPARE(c->kind, kind);
        QTEST(c->callsign, "callsign");
        QTEST(c->text, "text");
        QTEST(kind == Kind::Pause ? c->ms : c->count, "number");
    }

    // Each error names what is wrong, or the cure.
    void refused_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("reason");
        row("unknown escape", "chat a\\q", "\\\\");
        row("trailing backslash", "chat ends in \\", "backslash");
        row("short hex", "chat \\x4", "hex");
        row("bad hex", "chat \\xzz", "hex");
        row("drop without callsign", "drop", "missing");
        row("two callsigns", "drop QA1 QA2", "not a callsign");
        row("receive without callsign", "receive", "missing");
        row("receive of two", "receive QA1 QA2", "not a callsign");
        row("unreceive with callsign", "unreceive QA1", "no argument");
        row("markup callsign", "connect QA<1>", "not a callsign");
        row("pause without number", "pause", "milliseconds");
        row("negative pause", "pause -5", "milliseconds");
        row("pause with unit", "pause 1s", "milliseconds");
        for (const char* line : {"storm", "storm 0", "storm -1", "storm many", "storm 1000001", "storm 5 more",
                                 "burst x A>hi", "burst  5 A>hi"}) {
            row(line, line, "count");
        }
        row("argument to a bare word", "close now", "no argument");
        row("unknown word", "shout hello", "unknown command \"shout\"");
    }
    void refused() {
        QFETCH(QString, line);
        QFETCH(QString, reason);
        QString error;
        QVERIFY(!parseSimCommand(line, &error).has_value());
        QVERIFY2(error.contains(reason), qPrintable(error));
    }

    void escapeText_keepsEveryTextOnOneLineAndUnescapesBack() {
        QString all;
        for (ushort u = 0; u < 0x90; ++u) {
            all += QChar(u);
        }
        all += QStringLiteral("\\r é ✓");
        const QString escaped = escapeText(all);
        QVERIFY(!escaped.contains(QLatin1Char('\n')) && !escaped.contains(QLatin1Char('\r')));
        QString error;
        QCOMPARE(unescapeText(escaped, &error).value_or(QStringLiteral("<error>")), all);
    }
};

QTEST_GUILESS_MAIN(SimCommandTest)
#include "SimCommandTest.moc"
