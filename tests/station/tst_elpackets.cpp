// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "DirectoryProtocol.h"
#include "Packets.h"

#include <QTest>

using namespace el;

namespace {
QByteArray hex(const char* text) {
    return QByteArray::fromHex(text); // spaces are skipped
}
// A literal's bytes with its terminating NUL (a text datagram), or without it.
template <qsizetype N> QByteArray withNul(const char (&text)[N]) {
    return QByteArray(text, N);
}
template <qsizetype N> QByteArray raw(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}
QByteArray patched(QByteArray base, qsizetype at, const char* hexBytes) {
    const QByteArray with = hex(hexBytes);
    return base.replace(at, with.size(), with);
}
// An empty RR, then a SDES holding only the given NAME item and END.
QByteArray sdesWithName(const QByteArray& name) {
    QByteArray sdes = hex("c1ca0000 00000000") + char(2) + char(name.size()) + name + hex("0000");
    sdes.append((4 - sdes.size() % 4) % 4, '\0');
    sdes[3] = char(sdes.size() / 4 - 1);
    return hex("c0c90001 00000000") + sdes;
}

// Captured and hand-decoded packets.
const QByteArray SdesB = hex("c0c90001 00000000 c1ca000e 00000000 0108 43414c4c5349474e"
                             "0212 5131424242 20202020202020202020 4f7062 0308 43414c4c5349474e"
                             "0405 30383a3330 00 00 000000");
const QByteArray SdesA = hex("c0c90001 00000000 c1ca0010 00000000 0108 43414c4c5349474e"
                             "0214 5131414141 2d4c 2020202020202020 416c696365 0308 43414c4c5349474e"
                             "0405 30383a3330 0805 5350454558 0000 0000");
// The official client's form: padding bit, SSRC (also in PHONE), extra items, pad count at the end.
const QByteArray SdesOfficial = hex("c0c90001 1234abcd e1ca0015 1234abcd 0108 43414c4c5349474e"
                                    "0212 5131444444 20202020202020202020 446f6e 0308 43414c4c5349474e"
                                    "0408 3132333441424344 0608 4532203320313231 0806 015035313938 0803 014430"
                                    "00 0000 00000004");
const QByteArray Bye = hex("c0c90001 00000000 c1cb0003 00000000 076a616e32303032");
const QByteArray ByeOfficial = hex("c0c90001 1234abcd e1cb0004 1234abcd 076a616e32303032 00000004");
const QByteArray SilentFrame = hex("d820a2e15a50004924924924500049249249245000492492492450004924924924");
const QByteArray ListEntryB = "Q1BBB\nelpeer b test               [ON 02:21]\n900001\n127.0.0.3\n";

QByteArray list(int count, const QByteArray& entries, const char* end = "+++") {
    return "@@@\n" + QByteArray::number(count) + '\n' + entries + end;
}
} // namespace

class ElPacketsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sdesAndBye_matchCapturedBytes() {
        QCOMPARE(buildSdes(QStringLiteral("q1bbb"), QStringLiteral("Opb")), SdesB);
        QCOMPARE(buildBye(), Bye);
    }

    void parseControl_readsPeerForms_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("bye");
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("priv");
        row("B's SDES", SdesB, false, "Q1BBB", "Opb", "");
        row("A's SDES with SPEEX", SdesA, false, "Q1AAA-L", "Alice", "SPEEX");
        row("official padded SDES", SdesOfficial, false, "Q1DDD", "Don", "P5198 D0");
        row("BYE", Bye, true, "", "", "");
        row("official padded BYE", ByeOfficial, true, "", "", "");
        row("version 1 sender report first", patched(SdesB, 0, "40c8"), false, "Q1BBB", "Opb", "");
        row("single space after the callsign", sdesWithName("Q1BBB Opb Smith"), false, "Q1BBB", "Opb Smith", "");
        row("tab and line breaks", sdesWithName("Q1BBB\t\r\n Opb\tS\r"), false, "Q1BBB", "Opb S", "");
        row("callsign of 32 characters", sdesWithName(QByteArray(32, 'Q')), false, QString(32, u'Q'), "", "");
    }
    void parseControl_readsPeerForms() {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, bye);
        QString why;
        const auto packet = parseControl(datagram, &why);
        QVERIFY2(packet, qPrintable(why));
        QCOMPARE(packet->kind, bye ? ControlPacket::Kind::Bye : ControlPacket::Kind::Sdes);
        QTEST(packet->callsign, "callsign");
        QTEST(packet->name, "name");
        QTEST(packet->priv, "priv");
    }

    void parseControl_rejectsHostileOrForeign_data() {
        QTest::addColumn<QByteArray>("datagram");
        row("empty", QByteArray());
        row("RR only", SdesB.first(8));
        row("cut inside the SDES header", SdesB.first(10));
        row("cut inside the items", SdesB.first(40));
        row("cut before the pad", SdesB.first(67));
        row("version 2", patched(SdesB, 0, "80c9 0001 00000000 81ca"));
        row("later part version 2", patched(SdesB, 8, "81"));
        row("padding bit in the RR", patched(SdesB, 0, "e0"));
        row("SDES first", SdesB.sliced(8));
        row("RR length past the end", patched(SdesB, 2, "ffff"));
        row("SDES length past the end", patched(SdesB, 10, "000f"));
        row("NAME length past the packet", patched(SdesB, 27, "ff"));
        row("item header cut by the part's end", hex("c0c90001 00000000 c1ca0003 00000000 0205 5131424242 03"));
        row("item past its part, inside the datagram",
            hex("c0c90001 00000000 c1ca0003 00000000 0203 513142 0305 41 42434445"));
        row("no NAME item", patched(SdesB, 26, "05"));
        row("empty callsign", sdesWithName(" Opb"));
        row("NUL in callsign", sdesWithName(raw("Q1\0BB Opb")));
        row("C1 control in callsign", sdesWithName("Q1\xc2\x85 Opb"));
        row("callsign of 33 characters", sdesWithName(QByteArray(33, 'Q')));
        row("pad count zero", patched(SdesOfficial, SdesOfficial.size() - 1, "00"));
        row("pad count past the header", patched(SdesOfficial, SdesOfficial.size() - 1, "ff"));
        row("longer than MaxDatagram", SdesB + QByteArray(MaxDatagram - SdesB.size() + 1, 0));
        row("all 0xff", QByteArray(64, '\xff'));
    }
    void parseControl_rejectsHostileOrForeign() {
        QFETCH(QByteArray, datagram);
        QString why;
        QVERIFY(!parseControl(datagram, &why));
        QVERIFY(!why.isEmpty());
    }

    void sdes_roundTripsAndStaysBounded_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("readName");
        row("libecholib layout", "Q1AAA-L", "Alice", "Alice");
        row("callsign longer than the field", "*Q1LONGCONFNAME*", "Conf", "Conf");
        row("UTF-8 name", "Q1BBB", "Zoë 日本", "Zoë 日本");
        row("NUL left out", QStringLiteral("Q1B\0BB"), QStringLiteral("O\0pb"), "Opb");
        row("name cut to fit", "Q1BBB", QString(300, u'é'), QString(MaxNameChars, u'é'));
    }
    void sdes_roundTripsAndStaysBounded() {
        QFETCH(QString, callsign);
        QFETCH(QString, name);
        const QByteArray sdes = buildSdes(callsign, name);
        QCOMPARE(sdes.size() % 4, 0);
        QVERIFY(sdes.size() <= 8 + 8 + 10 + 2 + 255 + 10 + 7 + 2 + 3);
        const auto packet = parseControl(sdes);
        QVERIFY(packet);
        QCOMPARE(packet->callsign, callsign.remove(QChar(0)).toUpper());
        QTEST(packet->name, "readName");
        QVERIFY(!sdes.contains("SPEEX"));
    }

    void text_matchesCapturedBytes() {
        QCOMPARE(buildChat(QStringLiteral("q1bbb"), QStringLiteral("hello from B 7511")),
                 withNul("oNDATAQ1BBB>hello from B 7511\r\n"));
        QCOMPARE(buildInfo(QStringLiteral("elpeer station Q1BBB")), withNul("oNDATA\relpeer station Q1BBB\r"));
        QCOMPARE(buildInfo(QStringLiteral("a\r\nb\nc\rd\n")), withNul("oNDATA\ra\rb\rc\rd\r"));
        QCOMPARE(buildInfo(QString()), withNul("oNDATA\r"));
        QCOMPARE(buildChat(QStringLiteral("Q1B\0BB"), QStringLiteral("ca\0fé")), withNul("oNDATAQ1BBB>caf\xe9\r\n"));
        QCOMPARE(buildChat(QStringLiteral("Q1BBB"), QStringLiteral("€")), withNul("oNDATAQ1BBB>\xe2\x82\xac\r\n"));
    }

    void text_cutOnCharacterBoundary_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kept");
        row("Latin-1", QString(2000, u'é'), QString(MaxTextBytes, u'é'));
        row("three-byte UTF-8", QString(500, u'€'), QString(MaxTextBytes / 3, u'€'));
        row("surrogate pairs", QStringLiteral("😀").repeated(300), QStringLiteral("😀").repeated(MaxTextBytes / 4));
    }
    void text_cutOnCharacterBoundary() {
        QFETCH(QString, text);
        QFETCH(QString, kept);
        const auto chat = parseText(buildChat(QStringLiteral("Q1BBB"), text));
        QVERIFY(chat);
        QCOMPARE(chat->text, QStringLiteral("Q1BBB>") + kept + QStringLiteral("\r\n"));
        const QByteArray info = buildInfo(text);
        QVERIFY(info.size() <= 7 + MaxTextBytes + 1);
        QVERIFY(info.endsWith(QByteArray("\r", 2)));
        QVERIFY(kept.startsWith(parseText(info)->text.chopped(1)));
    }

    void parseText_readsTextOnly_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("kind"); // empty: rejected
        QTest::addColumn<QString>("text");
        row("chat from B", withNul("oNDATAQ1BBB>hello from B 7511\r\n"), "chat", "Q1BBB>hello from B 7511\r\n");
        row("conference relay", withNul("oNDATAQ1AAA-L>Q1BBB>hello from B 7511\n\n\r\n"), "chat",
            "Q1AAA-L>Q1BBB>hello from B 7511\n\n\r\n");
        row("info from B", withNul("oNDATA\relpeer station Q1BBB"), "info", "elpeer station Q1BBB");
        row("conference info", withNul("oNDATA\rSvxLink (3)\r\rQ1AAA-L  Alice\r\n"), "info",
            "SvxLink (3)\n\nQ1AAA-L  Alice\n");
        row("CONF info", withNul("oNDATACONF Q1X\r"), "info", "CONF Q1X\n");
        row("first byte unchecked", withNul("xNDATAhi"), "chat", "hi");
        row("SSRC after the NUL", withNul("oNDATAhi\0\x12\x34\0\xff"), "chat", "hi");
        row("control characters dropped", withNul("oNDATAa\x01\x1b[b\x7f\tc\r\n"), "chat", "a[b\tc\r\n");
        row("Latin-1", withNul("oNDATAcaf\xe9"), "chat", "café");
        row("UTF-8", withNul("oNDATAcaf\xc3\xa9"), "chat", "café");
        row("overlong UTF-8 read as Latin-1", withNul("oNDATA\xc0\xaf"), "chat", "À¯");
        row("empty chat", withNul("oNDATA"), "chat", "");
        row("empty", QByteArray(), "", "");
        row("header cut", QByteArray("oNDAT"), "", "");
        row("no NUL", QByteArray("oNDATAQ1BBB>hi\r\n"), "", "");
        row("NUL only inside the header", raw("oND\0TAhi"), "", "");
        row("voice marker", withNul("\xc0NDATAhi"), "", "");
        row("other header", withNul("oNDATBhi"), "", "");
        row("longer than MaxDatagram", "oNDATA" + QByteArray(MaxDatagram, 'x') + '\0', "", "");
    }
    void parseText_readsTextOnly() {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, kind);
        QString why;
        const auto packet = el::parseText(datagram, &why);
        QCOMPARE(QString::fromLatin1(packet ? (packet->kind == TextPacket::Kind::Info ? "info" : "chat") : ""), kind);
        QCOMPARE(why.isEmpty(), bool(packet));
        if (packet) {
            QTEST(packet->text, "text");
        }
    }

    void voice_matchesCapturedLayoutAndRoundTrips() {
        const QByteArray frames = SilentFrame.repeated(4);
        QCOMPARE(buildVoice({}, frames), hex("c0030000 00000000 00000000") + frames);
        const QByteArray packet = buildVoice({PayloadGsm, 0xABCD, 0x01020304, 0xFEDCBA98}, frames) + "extra";
        const auto voice = parseVoice(packet);
        QVERIFY(voice);
        QCOMPARE(voice->header.sequence, quint16(0xABCD));
        QCOMPARE(voice->header.timestamp, 0x01020304u);
        QCOMPARE(voice->header.ssrc, 0xFEDCBA98u);
        QCOMPARE(voice->frames.toByteArray(), frames);
        QCOMPARE(voice->frames.data(), packet.constData() + VoiceHeaderBytes);
        QVERIFY(buildVoice({}, frames.chopped(1)).isEmpty());
    }

    void parseVoice_rejectsOtherPackets_data() {
        QTest::addColumn<QByteArray>("datagram");
        const QByteArray gsm = buildVoice({}, SilentFrame.repeated(4));
        row("empty", QByteArray());
        row("marker only", gsm.first(1));
        row("one byte short", gsm.chopped(1));
        row("Speex", patched(gsm, 1, "96") + QByteArray(18, 0));
        row("RTP version 2", patched(gsm, 0, "80"));
        row("longer than MaxDatagram", gsm + QByteArray(MaxDatagram, 0));
    }
    void parseVoice_rejectsOtherPackets() {
        QFETCH(QByteArray, datagram);
        QVERIFY(!parseVoice(datagram));
    }

    void login_matchesCapturedBytes() {
        QCOMPARE(buildLogin(QStringLiteral("q1aaa-l"), QStringLiteral("testpass"), DirectoryStatus::Online,
                            QTime(2, 21), QStringLiteral("[Svx] Loopback rig A")),
                 QByteArray("lQ1AAA-L\xac\xactestpass\rONLINE3.38(02:21)\r[Svx] Loopback rig A\r"));
        QCOMPARE(buildLogin(QStringLiteral("Q1A"), QStringLiteral("p\rw"), DirectoryStatus::Busy, QTime(23, 5),
                            QStringLiteral("line\none ") + QString(40, u'x')),
                 QByteArray("lQ1A\xac\xacp w\rBUSY3.40(23:05)\rline one xxxxxxxxxxxxxxxxxx\r"));
        QCOMPARE(buildLogin(QStringLiteral("Q1A"), QStringLiteral("pw"), DirectoryStatus::Off, QTime(1, 2), {}),
                 QByteArray("lQ1A\xac\xacpw\rOFF-V3.40\r\r"));
        QCOMPARE(listRequest(), QByteArray("s"));
    }

    void loginAccepted_onlyOnLeadingOk_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("accepted");
        row("OK", QByteArray("OK"), true);
        row("OK and version", QByteArray("OK2.6\r\n"), true);
        row("refused", QByteArray("BAD"), false);
        row("lower case", QByteArray("ok"), false);
        row("leading space", QByteArray(" OK"), false);
    }
    void loginAccepted_onlyOnLeadingOk() {
        QFETCH(QByteArray, reply);
        QTEST(loginAccepted(reply), "accepted");
    }

    void stationList_readsEntries() {
        const QByteArray entries = ListEntryB + ".\n\n0\n0.0.0.0\n" + " \nWelcome to the rig  [x]\n0\n0.0.0.0\n" +
                                   "*Q1CONF*\nmy [conf] [BUSY 23:59]\r\n4294967295\r\n127.0.0.255\r\n" +
                                   "Q1X\nno bracket  \nnot a number\n127.1\n" + "Q1Y\n[OFF]\n12\n127.000.0.1\n";
        QString why;
        const auto parsed = parseStationList(list(5, entries), false, nullptr, &why);
        QVERIFY2(parsed, qPrintable(why));
        QCOMPARE(parsed->message, QStringLiteral("Welcome to the rig  [x]"));
        QStringList got;
        for (const StationEntry& e : parsed->stations) {
            got << QStringLiteral("%1|%2|%3|%4|%5|%6")
                       .arg(e.callsign, e.description)
                       .arg(int(e.status))
                       .arg(e.time)
                       .arg(e.id)
                       .arg(e.address.isNull() ? QStringLiteral("-") : e.address.toString());
        }
        // Without an address an entry is listed, but nobody can be matched or called there.
        QCOMPARE(got, (QStringList{QStringLiteral("Q1BBB|elpeer b test|0|02:21|900001|127.0.0.3"),
                                   QStringLiteral("*Q1CONF*|my [conf]|1|23:59|4294967295|127.0.0.255"),
                                   QStringLiteral("Q1X|no bracket|2||0|-"), QStringLiteral("Q1Y||2||12|-")}));
    }

    void stationList_endsAndLimits_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("streamEnded");
        QTest::addColumn<int>("stations"); // -1 incomplete, -2 rejected
        const QByteArray dot = ".\nx\n0\n0.0.0.0\n";
        row("end marker, open", list(1, ListEntryB), false, 1);
        row("end marker and trailing bytes", list(1, ListEntryB, "+++\njunk"), true, 1);
        row("no marker, closed", list(1, ListEntryB, ""), true, 1);
        row("no marker, open", list(1, ListEntryB, ""), false, -1);
        row("half marker, open", list(1, ListEntryB, "++"), false, -1);
        row("half marker, closed", list(1, ListEntryB, "++"), true, -2);
        row("empty list", list(0, {}), false, 0);
        row("count includes the dot", list(2, dot + ListEntryB), false, 1);
        row("count leaves out the dot", list(1, dot + ListEntryB), false, 1);
        row("uncounted dot after the last, closed", list(1, ListEntryB + dot, ""), true, 1);
        row("more entries than counted", list(1, ListEntryB + ListEntryB), false, -2);
        row("fewer entries than counted", list(3, ListEntryB), true, -2);
        row("fewer entries, open", list(3, ListEntryB), false, -2);
        row("junk instead of marker", list(1, ListEntryB, "ZZZ"), false, -2);
        row("not a list", QByteArray("HTTP/1.1 400\r\n"), false, -2);
        row("third byte not @, open", QByteArray("@@x"), false, -2); // no waiting for more of a wrong header
        row("empty, open", QByteArray(), false, -1);
        row("empty, closed", QByteArray(), true, -2);
        row("count not a number", list(1, ListEntryB).replace("\n1\n", "\nx1\n"), false, -2);
        row("count negative", list(-1, {}), false, -2);
        row("count absurd", list(MaxListEntries + 1, {}), false, -2);
        row("count overflows", QByteArray("@@@\n99999999999999999999\n+++"), false, -2);
        row("unterminated overlong line", "@@@\n1\nQ1BBB\n" + QByteArray(MaxListLine + 1, 'x'), false, -2);
        row("overlong count line", "@@@\n" + QByteArray(MaxListLine + 1, '0'), false, -2);
        row("longer than MaxListBytes", QByteArray(MaxListBytes + 1, '@'), false, -2);
        row("NUL bytes in fields", list(1, raw("Q1\0BBB\n\0[ON\0\n\0\n\0\n")), false, 1);
    }
    void stationList_endsAndLimits() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, streamEnded);
        QFETCH(int, stations);
        bool incomplete = true;
        QString why;
        const auto parsed = parseStationList(reply, streamEnded, &incomplete, &why);
        QCOMPARE(parsed ? int(parsed->stations.size()) : incomplete ? -1 : -2, stations);
        QCOMPARE(why.isEmpty(), bool(parsed));
    }

    void stationList_everySplitPointIsIncompleteUntilDone() {
        const QByteArray whole = list(2, ListEntryB + ListEntryB);
        for (qsizetype n = 0; n < whole.size(); ++n) {
            bool incomplete = false;
            QVERIFY2(!parseStationList(whole.first(n), false, &incomplete) && incomplete,
                     qPrintable(QString::number(n)));
            const bool allEntries = n == whole.size() - 3;
            QCOMPARE(bool(parseStationList(whole.first(n), true, &incomplete)), allEntries);
            QVERIFY(!incomplete);
        }
    }

    void stationList_acceptsMaxEntries() {
        const QByteArray entry = "Q1ABCDEF-L\nsome description here       [ON 12:34]\n123456\n10.20.30.40\n";
        const auto parsed = parseStationList(list(MaxListEntries, entry.repeated(MaxListEntries)), false);
        QVERIFY(parsed);
        QCOMPARE(parsed->stations.size(), MaxListEntries);
        QCOMPARE(parsed->stations.last().address, QHostAddress(QStringLiteral("10.20.30.40")));
    }
};

QTEST_GUILESS_MAIN(ElPacketsTest)
#include "tst_elpackets.moc"
