// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in station's command language.
#include "SimCommand.h"

#include <QTest>

using Kind = SimCommand::Kind;

class SimCommandTest : public QObject {
    Q_OBJECT

private:
    static SimCommand parsed(const QString& line) {
        QString error;
        const auto command = parseSimCommand(line, &error);
        if (!command) {
            qWarning("unexpected error for %s: %s", qPrintable(line), qPrintable(error));
            return SimCommand{Kind::None, QStringLiteral("<error>"), {}, -1};
        }
        return *command;
    }
    static QString errorOf(const QString& line) {
        QString error;
        return parseSimCommand(line, &error) ? QStringLiteral("<accepted>") : error;
    }

private Q_SLOTS:
    void chat_keepsTextExactlyWithItsSpaces() {
        const SimCommand c = parsed(QStringLiteral("chat  QA1BRK>hello  there "));
        QCOMPARE(c.kind, Kind::Chat);
        QCOMPARE(c.text, QStringLiteral(" QA1BRK>hello  there "));
        QCOMPARE(parsed(QStringLiteral("chat")).text, QString());
    }

    void chat_escapesGiveControlCharactersAndBackslash() {
        QCOMPARE(parsed(QStringLiteral("chat A>one\\rtwo")).text, QStringLiteral("A>one\rtwo"));
        QCOMPARE(parsed(QStringLiteral("chat A>c:\\\\dir")).text, QStringLiteral("A>c:\\dir"));
        QCOMPARE(parsed(QStringLiteral("chat \\n\\t\\x41\\x7f")).text, QStringLiteral("\n\tA\x7f"));
        // "\\r" is a backslash followed by r, not a carriage return.
        QCOMPARE(parsed(QStringLiteral("chat \\\\r")).text, QStringLiteral("\\r"));
    }

    void chat_badEscapes_areErrorsNamingTheCure() {
        QVERIFY(errorOf(QStringLiteral("chat a\\q")).contains(QStringLiteral("\\\\")));
        QVERIFY(errorOf(QStringLiteral("chat ends in \\")).contains(QStringLiteral("backslash")));
        QVERIFY(errorOf(QStringLiteral("chat \\x4")).contains(QStringLiteral("hex")));
        QVERIFY(errorOf(QStringLiteral("chat \\xzz")).contains(QStringLiteral("hex")));
    }

    void crlfLineEnd_isNotPartOfTheText() {
        QCOMPARE(parsed(QStringLiteral("chat A>hi\r")).text, QStringLiteral("A>hi"));
        QCOMPARE(parsed(QStringLiteral("chat A>hi\\r\r")).text, QStringLiteral("A>hi\r"));
        QCOMPARE(parsed(QStringLiteral("key\r")).kind, Kind::Key);
    }

    void connect_takesCallsignInCapitalsAndOptionalName() {
        const SimCommand named = parsed(QStringLiteral("connect qa2fnv-l  Fernvale 2 m link "));
        QCOMPARE(named.kind, Kind::Connect);
        QCOMPARE(named.callsign, QStringLiteral("QA2FNV-L"));
        QCOMPARE(named.text, QStringLiteral("Fernvale 2 m link"));
        const SimCommand bare = parsed(QStringLiteral("connect *ECHOTEST*"));
        QCOMPARE(bare.callsign, QStringLiteral("*ECHOTEST*"));
        QCOMPARE(bare.text, QString());
    }

    void callsignCommands_needOneCallsign() {
        QCOMPARE(parsed(QStringLiteral("drop QA1BRK")).kind, Kind::Drop);
        QCOMPARE(parsed(QStringLiteral("refuse qa1bad")).callsign, QStringLiteral("QA1BAD"));
        QCOMPARE(parsed(QStringLiteral("accept QA1BAD")).kind, Kind::Accept);
        QVERIFY(errorOf(QStringLiteral("drop")).contains(QStringLiteral("missing")));
        QVERIFY(errorOf(QStringLiteral("drop QA1 QA2")).contains(QStringLiteral("not a callsign")));
        QVERIFY(errorOf(QStringLiteral("connect QA<1>")).contains(QStringLiteral("not a callsign")));
    }

    void pause_needsANonNegativeNumber() {
        QCOMPARE(parsed(QStringLiteral("pause 250")).ms, 250);
        QCOMPARE(parsed(QStringLiteral("pause 0")).kind, Kind::Pause);
        QVERIFY(errorOf(QStringLiteral("pause")).contains(QStringLiteral("milliseconds")));
        QVERIFY(errorOf(QStringLiteral("pause -5")).contains(QStringLiteral("milliseconds")));
        QVERIFY(errorOf(QStringLiteral("pause 1s")).contains(QStringLiteral("milliseconds")));
    }

    void burst_takesCountAndTextKeptExactly() {
        const SimCommand c = parsed(QStringLiteral("burst 10000 QA1BRK>/ver/  x\\t"));
        QCOMPARE(c.kind, Kind::Burst);
        QCOMPARE(c.count, 10000);
        QCOMPARE(c.text, QStringLiteral("QA1BRK>/ver/  x\t"));
        QCOMPARE(parsed(QStringLiteral("burst 3")).text, QString());
    }

    void burstAndStorm_needACountInRange() {
        QCOMPARE(parsed(QStringLiteral("storm 2000")).kind, Kind::Storm);
        QCOMPARE(parsed(QStringLiteral("storm 2000")).count, 2000);
        for (const char* line :
             {"storm", "storm 0", "storm -1", "storm many", "storm 1000001", "burst x A>hi", "burst  5 A>hi"}) {
            QVERIFY2(errorOf(QString::fromLatin1(line)).contains(QStringLiteral("count")), line);
        }
        QVERIFY(errorOf(QStringLiteral("storm 5 more")).contains(QStringLiteral("count")));
    }

    void wordsWithoutArgument_refuseOne() {
        QCOMPARE(parsed(QStringLiteral("  CLOSE")).kind, Kind::Close);
        QCOMPARE(parsed(QStringLiteral("quit")).kind, Kind::Quit);
        QCOMPARE(parsed(QStringLiteral("drop-all")).kind, Kind::DropAll);
        QCOMPARE(parsed(QStringLiteral("wait-client")).kind, Kind::WaitClient);
        QCOMPARE(parsed(QStringLiteral("unkey")).kind, Kind::Unkey);
        QVERIFY(errorOf(QStringLiteral("close now")).contains(QStringLiteral("no argument")));
    }

    void commentsAndBlankLines_doNothing_unknownWordsAreErrors() {
        QCOMPARE(parsed(QStringLiteral("   # connect QA1BRK")).kind, Kind::None);
        QCOMPARE(parsed(QStringLiteral("")).kind, Kind::None);
        QCOMPARE(parsed(QStringLiteral("  \t ")).kind, Kind::None);
        QVERIFY(errorOf(QStringLiteral("shout hello")).contains(QStringLiteral("unknown command \"shout\"")));
    }

    void escapeText_keepsEveryTextOnOneLineAndUnescapesBack() {
        QString all;
        for (ushort u = 0; u < 0x90; ++u) {
            all += QChar(u);
        }
        all += QStringLiteral("\\r é ✓");
        const QString escaped = escapeText(all);
        QVERIFY(!escaped.contains(QLatin1Char('\n')));
        QVERIFY(!escaped.contains(QLatin1Char('\r')));
        QString error;
        QCOMPARE(unescapeText(escaped, &error).value_or(QStringLiteral("<error>")), all);
    }
};

QTEST_GUILESS_MAIN(SimCommandTest)
#include "SimCommandTest.moc"
