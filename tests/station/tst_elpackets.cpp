// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "DirectoryProtocol.h"
#include "Packets.h"

#include <QTest>

using namespace el;

namespace {
QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}
template <qsizetype N> QByteArray withNul(const char (&text)[N]) {
    return QByteArray(text, N);
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
const QByteArray SdesOfficial = hex("c0c90001 1234abcd e1ca0015 1234abcd 0108 43414c4c5349474e"
                                    "0212 5131444444 20202020202020202020 446f6e 0308 43414c4c5349474e"
                                    "0408 3132333441424344 0608 4532203320313231 0806 015035313938 0803 014430"
                                    "00 0000 00000004");
const QByteArray Bye = hex("c0c90001 00000000 c1cb0003 00000000 076a616e32303032");
const QByteArray ByeOfficial = hex("c0c90001 1234abcd e1cb0004 1234abcd 076a616e32303032 00000004");
const QByteArray SilentFrame = hex("d820a2e15a50004924924924500049249249245000492492492450004924924924");
const QByteArray EntryB = "Q1BBB\nelpeer b test               [ON 02:21]\n900001\n127.0.0.3\n";

QByteArray list(int count, const QByteArray& entries, const char* end = "+++") {
    return "@@@\n" + QByteArray::number(count) + '\n' + entries + end;
}
} // namespace

class ElPacketsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void builders_matchCapturedBytes() {
        QCOMPARE(buildSdes(QStringLiteral("q1bbb"), QStringLiteral("Opb")), SdesB);
        QCOMPARE(buildBye(), Bye);
        QCOMPARE(buildChat(QStringLiteral("Q1B\0BB"), QStringLiteral("ca\0fé")), withNul("oNDATAQ1BBB>caf\xe9\r\n"));
        QCOMPARE(buildInfo(QStringLiteral("a\r\nb\nc\rd")), withNul("oNDATA\ra\rb\rc\rd\r"));
        QCOMPARE(buildInfo(QString()), withNul("oNDATA\r"));
        QCOMPARE(buildLogin(QStringLiteral("q1aaa-l"), QStringLiteral("testpass"), DirectoryStatus::Online,
                            QTime(2, 21), QStringLiteral("[Svx] Loopback rig A")),
                 QByteArray("lQ1AAA-L\xac\xactestpass\rONLINE3.38(02:21)\r[Svx] Loopback rig A\r"));
        QCOMPARE(buildLogin(QStringLiteral("Q1A"), QStringLiteral("pw"), DirectoryStatus::Off, QTime(1, 2), {}),
                 QByteArray("lQ1A\xac\xacpw\rOFF-V3.40\r\r"));
    }

    void parseControl_readsPeerForms_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("callsign"); // "BYE": a BYE
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("priv");
        row("B's SDES", SdesB, "Q1BBB", "Opb", "");
        row("SDES with SPEEX", SdesA, "Q1AAA-L", "Alice", "SPEEX");
        row("official padded SDES", SdesOfficial, "Q1DDD", "Don", "P5198 D0");
        row("BYE", Bye, "BYE", "", "");
        row("version 1 sender report first", patched(SdesB, 0, "40c8"), "Q1BBB", "Opb", "");
        row("callsign of 32", sdesWithName(QByteArray(32, 'Q')), QString(32, u'Q'), "", "");
        row("built with NUL and lower case", buildSdes(QStringLiteral("q1b\0bb"), QStringLiteral("O\0pb")), "Q1BBB",
            "Opb", "");
        row("built name cut to fit", buildSdes(QStringLiteral("Q1BBB"), QString(300, u'é')), "Q1BBB",
            QString(MaxNameChars, u'é'), "");
    }
    void parseControl_readsPeerForms() {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, callsign);
        const auto packet = parseControl(datagram);
        QVERIFY(packet);
        QCOMPARE(packet->kind == ControlPacket::Kind::Bye ? QStringLiteral("BYE") : packet->callsign, callsign);
        QTEST(packet->name, "name");
        QTEST(packet->priv, "priv");
    }

    void parseControl_rejectsHostile_data() {
        QTest::addColumn<QByteArray>("datagram");
        row("empty", QByteArray());
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
        row("item past its part", hex("c0c90001 00000000 c1ca0003 00000000 0203 513142 0305 41 42434445"));
        row("no NAME item", patched(SdesB, 26, "05"));
        row("empty callsign", sdesWithName(" Opb"));
        row("NUL in callsign", sdesWithName(QByteArray("Q1\0BB Opb", 9)));
        row("C1 control in callsign", sdesWithName("Q1\xc2\x85 Opb"));
        row("callsign of 33", sdesWithName(QByteArray(33, 'Q')));
        row("pad count zero", patched(SdesOfficial, SdesOfficial.size() - 1, "00"));
        row("pad count past the header", patched(SdesOfficial, SdesOfficial.size() - 1, "ff"));
        row("longer than MaxDatagram", SdesB + QByteArray(MaxDatagram - SdesB.size() + 1, 0));
        row("all 0xff", QByteArray(64, '\xff'));
    }
    void parseControl_rejectsHostile() {
        QFETCH(QByteArray, datagram);
        QString why;
        QVERIFY(!parseControl(datagram, &why));
        QVERIFY(!why.isEmpty());
    }

    void parseText_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("kind"); // empty: rejected
        QTest::addColumn<QString>("text");
        row("chat", withNul("oNDATAQ1BBB>hello\r\n"), "chat", "Q1BBB>hello\r\n");
        row("SSRC after the NUL", withNul("oNDATAhi\0\x12\x34\0\xff"), "chat", "hi");
        row("control characters dropped", withNul("oNDATAa\x01\x1b[b\x7f\tc\r\n"), "chat", "a[b\tc\r\n");
        row("UTF-8", withNul("oNDATAcaf\xc3\xa9"), "chat", "café");
        row("empty", QByteArray(), "", "");
        row("header cut", QByteArray("oNDAT"), "", "");
        row("no NUL", QByteArray("oNDATAQ1BBB>hi\r\n"), "", "");
        row("NUL only inside the header", QByteArray("oND\0TAhi", 8), "", "");
        row("voice marker", withNul("\xc0NDATAhi"), "", "");
        row("other header", withNul("oNDATBhi"), "", "");
        row("longer than MaxDatagram", "oNDATA" + QByteArray(MaxDatagram, 'x') + '\0', "", "");
    }
    void parseText() {
        QFETCH(QByteArray, datagram);
        QString why;
        const auto packet = el::parseText(datagram, &why);
        QTEST(QString::fromLatin1(packet ? (packet->kind == TextPacket::Kind::Info ? "info" : "chat") : ""), "kind");
        QCOMPARE(why.isEmpty(), bool(packet));
        QTEST(packet ? packet->text : QString(), "text");
    }

    void voice_matchesCapturedLayoutAndRoundTrips() {
        const QByteArray frames = SilentFrame.repeated(4);
        QCOMPARE(buildVoice({}, frames), hex("c0030000 00000000 00000000") + frames);
        const auto voice = parseVoice(buildVoice({PayloadGsm, 0xABCD, 0x01020304, 0xFEDCBA98}, frames) + "extra");
        QVERIFY(voice);
        QCOMPARE(voice->header.sequence, quint16(0xABCD));
        QCOMPARE(voice->header.ssrc, 0xFEDCBA98u);
        QCOMPARE(voice->frames.toByteArray(), frames);
        QVERIFY(buildVoice({}, frames.chopped(1)).isEmpty());
    }

    void parseVoice_rejectsOthers_data() {
        QTest::addColumn<QByteArray>("datagram");
        const QByteArray gsm = buildVoice({}, SilentFrame.repeated(4));
        row("empty", QByteArray());
        row("one byte short", gsm.chopped(1));
        row("Speex", patched(gsm, 1, "96") + QByteArray(18, 0));
        row("RTP version 2", patched(gsm, 0, "80"));
        row("longer than MaxDatagram", gsm + QByteArray(MaxDatagram, 0));
    }
    void parseVoice_rejectsOthers() {
        QFETCH(QByteArray, datagram);
        QVERIFY(!parseVoice(datagram));
    }

    void loginAccepted_onlyOnLeadingOk_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("accepted");
        row("OK and version", QByteArray("OK2.6\r\n"), true);
        row("lower case", QByteArray("ok"), false);
        row("leading space", QByteArray(" OK"), false);
    }
    void loginAccepted_onlyOnLeadingOk() {
        QFETCH(QByteArray, reply);
        QTEST(loginAccepted(reply), "accepted");
    }

    void stationList_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("streamEnded");
        QTest::addColumn<int>("stations"); // -1 incomplete, -2 rejected
        const QByteArray dot = ".\nx\n0\n0.0.0.0\n";
        const QByteArray big = "Q1ABCDEF-L\nsome description here       [ON 12:34]\n123456\n10.20.30.40\n";
        row("end marker, open", list(1, EntryB), false, 1);
        row("end marker and trailing bytes", list(1, EntryB, "+++\njunk"), true, 1);
        row("no marker, closed", list(1, EntryB, ""), true, 1);
        row("no marker, open", list(1, EntryB, ""), false, -1);
        row("half marker, open", list(1, EntryB, "++"), false, -1);
        row("empty list", list(0, {}), false, 0);
        row("count includes the dot", list(2, dot + EntryB), false, 1);
        row("most entries allowed", list(MaxListEntries, big.repeated(MaxListEntries)), false, MaxListEntries);
        row("more entries than counted", list(1, EntryB + EntryB), false, -2);
        row("fewer entries than counted", list(3, EntryB), true, -2);
        row("junk instead of marker", list(1, EntryB, "ZZZ"), false, -2);
        row("not a list", QByteArray("HTTP/1.1 400\r\n"), false, -2);
        row("third byte not @, open", QByteArray("@@x"), false, -2);
        row("empty, closed", QByteArray(), true, -2);
        row("count not a number", list(1, EntryB).replace("\n1\n", "\nx1\n"), false, -2);
        row("count negative", list(-1, {}), false, -2);
        row("count absurd", list(MaxListEntries + 1, {}), false, -2);
        row("count overflows", QByteArray("@@@\n99999999999999999999\n+++"), false, -2);
        row("unterminated overlong line", "@@@\n1\nQ1BBB\n" + QByteArray(MaxListLine + 1, 'x'), false, -2);
        row("longer than MaxListBytes", QByteArray(MaxListBytes + 1, '@'), false, -2);
        row("NUL bytes in fields", list(1, QByteArray("Q1\0BBB\n\0[ON\0\n\0\n\0\n", 17)), false, 1);
    }
    void stationList() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, streamEnded);
        bool incomplete = true;
        QString why;
        const auto parsed = parseStationList(reply, streamEnded, &incomplete, &why);
        QTEST(parsed ? int(parsed->stations.size()) : incomplete ? -1 : -2, "stations");
        QCOMPARE(why.isEmpty(), bool(parsed));
    }
};

QTEST_GUILESS_MAIN(ElPacketsTest)
#include "tst_elpackets.moc"
