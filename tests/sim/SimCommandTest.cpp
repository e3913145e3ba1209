// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in station's command language.
#include "SimCommand.h"

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
        auto row = [](const char* name, const QString& line, Kind kind, const QString& callsign = {},
                      const QString& text = {},
                      int number = 0) { QTest::newRow(name) << line << kind << callsign << text << number; };
        row("chat keeps text and spaces exactly", "chat  QA1BRK>hello  there ", Kind::Chat, {},
            " QA1BRK>hello  there ");
        row("empty chat", "chat", Kind::Chat);
        row("escaped carriage return", "chat A>one\\rtwo", Kind::Chat, {}, "A>one\rtwo");
        row("escaped backslash", "chat A>c:\\\\dir", Kind::Chat, {}, "A>c:\\dir");
        row("line feed, tab, hex", "chat \\n\\t\\x41\\x7f", Kind::Chat, {}, "\n\tA\x7f");
        row("escaped backslash before r", "chat \\\\r", Kind::Chat, {}, "\\r");
        row("CRLF line end dropped", "chat A>hi\r", Kind::Chat, {}, "A>hi");
        row("CRLF after escaped CR", "chat A>hi\\r\r", Kind::Chat, {}, "A>hi\r");
        row("CRLF after a word", "key\r", Kind::Key);
        row("connect in capitals with name", "connect qa2fnv-l  Fernvale 2 m link ", Kind::Connect, "QA2FNV-L",
            "Fernvale 2 m link");
        row("connect without name", "connect *ECHOTEST*", Kind::Connect, "*ECHOTEST*");
        row("drop", "drop QA1BRK", Kind::Drop, "QA1BRK");
        row("receive in capitals", "receive qa1brk ", Kind::Receive, "QA1BRK");
        row("unreceive", "unreceive", Kind::Unreceive);
        row("refuse in capitals", "refuse qa1bad", Kind::Refuse, "QA1BAD");
        row("accept", "accept QA1BAD", Kind::Accept, "QA1BAD");
        row("pause", "pause 250", Kind::Pause, {}, {}, 250);
        row("pause zero", "pause 0", Kind::Pause);
        row("burst keeps text exactly", "burst 10000 QA1BRK>/ver/  x\\t", Kind::Burst, {}, "QA1BRK>/ver/  x\t", 10000);
        row("burst without text", "burst 3", Kind::Burst, {}, {}, 3);
        row("storm", "storm 2000", Kind::Storm, {}, {}, 2000);
        row("word in capitals after spaces", "  CLOSE", Kind::Close);
        row("quit", "quit", Kind::Quit);
        row("drop-all", "drop-all", Kind::DropAll);
        row("wait-client", "wait-client", Kind::WaitClient);
        row("unkey", "unkey", Kind::Unkey);
        row("comment", "   # connect QA1BRK", Kind::None);
        row("empty line", "", Kind::None);
        row("blank line", "  \t ", Kind::None);
    }
    void accepted() {
        QFETCH(QString, line);
        QFETCH(Kind, kind);
        QFETCH(QString, callsign);
        QFETCH(QString, text);
        QFETCH(int, number);
        QString error;
        const auto c = parseSimCommand(line, &error);
        QVERIFY2(c.has_value(), qPrintable(error));
        QCOMPARE(c->kind, kind);
        QCOMPARE(c->callsign, callsign);
        QCOMPARE(c->text, text);
        QCOMPARE(kind == Kind::Pause ? c->ms : c->count, number);
    }

    // Each error names what is wrong, or the cure.
    void refused_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unknown escape") << "chat a\\q"
                                        << "\\\\";
        QTest::newRow("trailing backslash") << "chat ends in \\"
                                            << "backslash";
        QTest::newRow("short hex") << "chat \\x4"
                                   << "hex";
        QTest::newRow("bad hex") << "chat \\xzz"
                                 << "hex";
        QTest::newRow("drop without callsign") << "drop"
                                               << "missing";
        QTest::newRow("two callsigns") << "drop QA1 QA2"
                                       << "not a callsign";
        QTest::newRow("receive without callsign") << "receive"
                                                  << "missing";
        QTest::newRow("receive of two") << "receive QA1 QA2"
                                        << "not a callsign";
        QTest::newRow("unreceive with callsign") << "unreceive QA1"
                                                 << "no argument";
        QTest::newRow("markup callsign") << "connect QA<1>"
                                         << "not a callsign";
        QTest::newRow("pause without number") << "pause"
                                              << "milliseconds";
        QTest::newRow("negative pause") << "pause -5"
                                        << "milliseconds";
        QTest::newRow("pause with unit") << "pause 1s"
                                         << "milliseconds";
        for (const char* line : {"storm", "storm 0", "storm -1", "storm many", "storm 1000001", "storm 5 more",
                                 "burst x A>hi", "burst  5 A>hi"}) {
            QTest::newRow(line) << line << "count";
        }
        QTest::newRow("argument to a bare word") << "close now"
                                                 << "no argument";
        QTest::newRow("unknown word") << "shout hello"
                                      << "unknown command \"shout\"";
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
