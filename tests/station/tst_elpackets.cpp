// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "DirectoryProtocol.h"
#include "Packets.h"

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
const QByteArray SilentFrames = hex("d820a2e15a50004924924924500049249249245000492492492450004924924924").repeated(4);
const QByteArray EntryB = "Q1BBB\nelpeer b test               [ON 02:21]\n900001\n127.0.0.3\n";

QByteArray list(int count, const QByteArray& entries, const char* end = "+++") {
    return "@@@\n" + QByteArray::number(count) + '\n' + entries + end;
}
} // namespace

class ElPacketsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void builders_matchCapturedBytes() {
        QCOMPARE(buildSdes(QStringLiteral("q1b\0bb"), QStringLiteral("O\0pb")), SdesB);
        QCOMPARE(buildBye(), Bye);
        QCOMPARE(buildChat(QStringLiteral("Q1B\0BB"), QStringLiteral("ca\0fé")), withNul("oNDATAQ1BBB>caf\xe9\r\n"));
        QCOMPARE(buildInfo(QStringLiteral("a\r\nb\nc\rd")), withNul("oNDATA\ra\rb\rc\rd\r"));
        QCOMPARE(buildInfo(QString()), withNul("oNDATA\r"));
        QCOMPARE(buildVoice({}, SilentFrames), hex("c0030000 00000000 00000000") + SilentFrames);
        QVERIFY(buildVoice({}, SilentFrames.chopped(1)).isEmpty());
        QCOMPARE(buildLogin(QStringLiteral("q1aaa-l"), QStringLiteral("testpass"), DirectoryStatus::Online,
                            QTime(2, 21), QStringLiteral("[Svx] Loopback rig A")),
                 QByteArray("lQ1AAA-L\xac\xactestpass\rONLINE3.38(02:21)\r[Svx] Loopback rig A\r"));
    }

    // Every datagram goes through all three readers: what each one read, joined by " / ", must be as expected.
    void parse_data() {
        columns<QByteArray, QString>("datagram", "read"); // empty: every reader rejects it
        const auto rejected = [](const char* name, const QByteArray& datagram) { row(name, datagram, ""); };
        const QByteArray gsm = buildVoice({}, SilentFrames);
        row("B's SDES", SdesB, "Q1BBB|Opb|");
        row("SDES with SPEEX", SdesA, "Q1AAA-L|Alice|SPEEX");
        row("official padded SDES", SdesOfficial, "Q1DDD|Don|P5198 D0");
        row("BYE", Bye, "BYE");
        row("version 1 sender report first", patched(SdesB, 0, "40c8"), "Q1BBB|Opb|");
        row("callsign of 32", buildSdes(QString(32, u'Q'), {}), QString(32, u'Q') + QStringLiteral("||"));
        row("built name cut to fit", buildSdes(QStringLiteral("Q1BBB"), QString(300, u'é')),
            QStringLiteral("Q1BBB|") + QString(MaxNameChars, u'é') + u'|');
        rejected("empty", QByteArray());
        rejected("version 2", patched(SdesB, 0, "80c9 0001 00000000 81ca"));
        rejected("later part version 2", patched(SdesB, 8, "81"));
        rejected("padding bit in the RR", patched(SdesB, 0, "e0"));
        rejected("SDES first", SdesB.sliced(8));
        rejected("SDES length past the end", patched(SdesB, 10, "000f"));
        rejected("item header cut by the part's end", hex("c0c90001 00000000 c1ca0003 00000000 0205 5131424242 03"));
        rejected("item past its part", hex("c0c90001 00000000 c1ca0003 00000000 0203 513142 0305 41 42434445"));
        rejected("no NAME item", patched(SdesB, 26, "05"));
        rejected("empty callsign", buildSdes({}, QStringLiteral("Opb")));
        rejected("NUL in callsign", patched(SdesB, 30, "00"));
        rejected("C1 control in callsign", buildSdes(QStringLiteral("Q1\u0085BB"), {}));
        rejected("callsign of 33", buildSdes(QString(33, u'Q'), {}));
        rejected("pad count zero", patched(SdesOfficial, SdesOfficial.size() - 1, "00"));
        rejected("pad count past the header", patched(SdesOfficial, SdesOfficial.size() - 1, "ff"));
        rejected("SDES longer than MaxDatagram", SdesB + QByteArray(MaxDatagram - SdesB.size() + 1, 0));
        row("SSRC after the NUL", withNul("oNDATAhi\0\x12\x34\0\xff"), "chat hi");
        row("control characters dropped", withNul("oNDATAa\x01\x1b[b\x7f\tc\r\n"), "chat a[b\tc\r\n");
        row("UTF-8", withNul("oNDATAcaf\xc3\xa9"), "chat café");
        rejected("text header cut", QByteArray("oNDAT"));
        rejected("no NUL", QByteArray("oNDATAQ1BBB>hi\r\n"));
        rejected("voice marker", withNul("\xc0NDATAhi"));
        rejected("other header", withNul("oNDATBhi"));
        rejected("text longer than MaxDatagram", "oNDATA" + QByteArray(MaxDatagram, 'x') + '\0');
        row("voice with extra bytes", buildVoice({PayloadGsm, 0xABCD, 0x01020304, 0xFEDCBA98}, SilentFrames) + "extra",
            "voice abcd fedcba98, frames at 12+132");
        rejected("voice one byte short", gsm.chopped(1));
        rejected("voice longer than MaxDatagram", gsm + QByteArray(MaxDatagram, 0));
    }
    void parse() {
        QFETCH(QByteArray, datagram);
        QString why[3];
        QStringList read;
        if (const auto control = parseControl(datagram, &why[0])) {
            read << (control->kind == ControlPacket::Kind::Bye
                         ? QStringLiteral("BYE")
                         : QStringList{control->callsign, control->name, control->priv}.join(u'|'));
        }
        if (const auto text = parseText(datagram, &why[1])) {
            read << QLatin1String(text->kind == TextPacket::Kind::Info ? "info " : "chat ") + text->text;
        }
        if (const auto voice = parseVoice(datagram, &why[2])) {
            read << QStringLiteral("voice %1 %2, frames at %3+%4")
                        .arg(voice->header.sequence, 0, 16)
                        .arg(voice->header.ssrc, 0, 16)
                        .arg(voice->frames.data() - datagram.constData())
                        .arg(voice->frames.size());
        }
        QTEST(read.join(QStringLiteral(" / ")), "read");
        QCOMPARE(why[0].isEmpty() + why[1].isEmpty() + why[2].isEmpty(), int(read.size())); // every reject says why
    }

    void stationList_data() {
        columns<QByteArray, bool, int>("reply", "streamEnded", "stations"); // -1 incomplete, -2 rejected
        row("end marker and trailing bytes", list(1, EntryB, "+++\njunk"), true, 1);
        row("half marker, open", list(1, EntryB, "++"), false, -1);
        row("empty list", list(0, {}), false, 0);
        row("count includes the dot", list(2, ".\nx\n0\n0.0.0.0\n" + EntryB), false, 1);
        row("most entries allowed", list(MaxListEntries, EntryB.repeated(MaxListEntries)), false, MaxListEntries);
        row("fewer entries than counted", list(3, EntryB), true, -2);
        row("junk instead of marker", list(1, EntryB, "ZZZ"), false, -2);
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
