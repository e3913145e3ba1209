// SPDX-License-Identifier: GPL-3.0-or-later
// The station's parts that need neither sockets nor other programs: packets and the directory list, the settings
// file, and the voice path (GSM frames, the resampler, the jitter buffer).
#include "DataRow.h"
#include "DirectoryProtocol.h"
#include "FakeNetwork.h"
#include "GsmCodec.h"
#include "JitterBuffer.h"
#include "Packets.h"
#include "Resampler.h"
#include "StationSettings.h"
#include "VoiceRig.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <complex>
#include <map>

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

QString describe(const StationSettings& s) {
    const char* accept[] = {"directory", "any", "none"};
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
               .arg(s.callsign, s.password, s.name, s.location, s.info, s.directoryServers.join(u','),
                    s.bind.toString(), QString::number(s.maxConnections), QString::fromLatin1(accept[int(s.accept)])) +
           QStringLiteral("|%1|%2|%3|%4")
               .arg(s.audioIn, s.audioOut, QString::number(s.rxGainDb), QString::number(s.txGainDb));
}
const QString Ok = QStringLiteral("QA1ABC|pw||||servers.echolink.org|0.0.0.0|4|directory|||0|0");

// Level in dB full scale of the hz component over whole cycles.
double dbAt(std::span<const qint16> x, int rate, double hz) {
    std::complex<double> sum;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sum += double(x[i]) * std::polar(1.0, -2 * std::numbers::pi * hz * double(i) / rate);
    }
    return 20 * std::log10(2 * std::abs(sum) / double(x.size()) / 10000 + 1e-12);
}
} // namespace

class StationUnitsTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    const QString path_ = dir_.filePath(QStringLiteral("station.ini"));

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

    // body: after "[STATION]\nCALLSIGN=QA1ABC\n" unless it has one; null: no file. expected empty: refused.
    void settings_load_data() {
        columns<QByteArray, QString, QString>("body", "expected", "warning"); // a part of the one warning or the error
        row("keys and ACCEPT in any case",
            QByteArray("Password= p;a#s\"\\,1 \nname=Ann\ndirectory= a.example , b "
                       ",\nbind=127.0.0.5\nmaxconnections=100\naccept=ANY"),
            "QA1ABC|p;a#s\"\\,1|Ann|||a.example,b|127.0.0.5|100|any|||0|0", "");
        row("sound devices and gains",
            QByteArray("PASSWORD=pw\nAUDIOIN=USB Mic [x]\naudioout= Speakers \nRXGAIN=-40\nTXGAIN=+6.5"),
            Ok.chopped(6) + QStringLiteral("|USB Mic [x]|Speakers|-40|6.5"), "");
        row("BOM, CRLF, comments, other section",
            QByteArray(
                "\xEF\xBB\xBF; x\r\n[OTHER]\r\nCALLSIGN=QA9BAD\r\n[ station ]\r\nCALLSIGN=QA1ABC\r\nPASSWORD=pw\r\n"),
            Ok, "");
        row("junk lines skipped",
            QByteArray("\x01\xff\xfe junk\n[STATION\nNAME=") + QByteArray(5000, 'x') +
                QByteArray("\nINFO=a\0b\nPASSWORD=pw", 21),
            Ok, "4 line(s) could not be read and were ignored (the first is line 3)");
        row("unknown keys sorted", QByteArray("PASSWORD=pw\nZED=1\nPASWORD=x\nAKEY=3"), Ok,
            "unknown key(s) AKEY, PASWORD, ZED ignored");
        row("RXGAIN too loud", QByteArray("PASSWORD=pw\nRXGAIN=40.5"), Ok, "RXGAIN=40.5");
        row("MAXCONNECTIONS 0", QByteArray("PASSWORD=pw\nMAXCONNECTIONS=0"), Ok, "MAXCONNECTIONS=0");
        row("DIRECTORY not hosts", QByteArray("PASSWORD=pw\nDIRECTORY=a b,c"), Ok, "DIRECTORY=a b,c");
        row("no password", QByteArray(""), QStringLiteral("QA1ABC|") + Ok.mid(9), "PASSWORD");
        row("no file", QByteArray(), "", "CALLSIGN");
        row("huge line without end", QByteArray(2 * 1024 * 1024, 'C'), "", "chmod 600");
        row("callsign with a star inside", QByteArray("[STATION]\nCALLSIGN=QA*ABC\n"), "", "CALLSIGN=QA*ABC");
    }
    void settings_load() {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QFETCH(QString, warning);
        QFile::remove(path_);
        if (!body.isNull()) {
            QFile file(path_);
            QVERIFY(file.open(QIODevice::WriteOnly, QFile::ReadOwner | QFile::WriteOwner));
            file.write(body.contains("CALLSIGN") || expected.isEmpty() ? body : "[STATION]\nCALLSIGN=QA1ABC\n" + body);
        }
        const SettingsLoad load = loadStationSettings(path_);
        const QString said = load.settings ? load.warnings.join(u'\n') : load.error;
        QCOMPARE(load.settings ? describe(*load.settings) : QString(), expected);
        QCOMPARE(load.settings ? load.warnings.size() : 1, warning.isEmpty() ? 0 : 1);
        QVERIFY2(said.contains(warning) && (load.settings || said.contains(path_)), qPrintable(said));
    }

    void settings_writtenAreReadBack() {
        StationSettings s;
        s.callsign = QStringLiteral("QA1ABC-L");
        s.password = QStringLiteral("p;a#s\"s\\w,1=[x]");
        s.name = QStringLiteral("Ann Émile");
        s.audioIn = QStringLiteral("Mic; #2 \"USB\"");
        s.rxGainDb = -3.5;
        QString why;
        QVERIFY2(writeStationSettings(path_, s, &why), qPrintable(why));
        QVERIFY(QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const SettingsLoad load = loadStationSettings(path_);
        QCOMPARE(describe(load.settings.value()), describe(s));
        QCOMPARE(load.warnings.size(), 1);
        QVERIFY(load.warnings[0].endsWith(
            QStringLiteral("(mode 0640) and it holds your EchoLink password; make it private with: chmod 600 ") +
            path_));
        s.password = QStringLiteral("two\nlines");
        QVERIFY(!writeStationSettings(path_, s, &why) && why.contains(QStringLiteral("PASSWORD")));
    }

    // A frame is 33 bytes with 0xD in the top nibble, a block four; a refused frame comes out as silence.
    void gsm_decodesOrRefuses_data() {
        columns<QByteArray, int>("data", "silentFrames"); // silentFrames -1: decoded
        const QByteArray good = GsmCodec().encode(voicerig::tone(1000, 8000, GsmCodec::FrameSamples).data());
        QCOMPARE(GsmCodec().encode(QList<qint16>(GsmCodec::FrameSamples).data()), SilentFrames.first(33));
        row("frame", good, -1);
        row("frame, empty", QByteArray(), 1);
        row("frame, all NUL", QByteArray(33, '\0'), 1);
        row("block", good.repeated(4), -1);
        row("block, third frame bad", good + good + QByteArray(1, '\xc8') + good.mid(1) + good, 1);
        row("block, 131 bytes", good.repeated(4).chopped(1), 4);
        row("block, five frames", good.repeated(5), 4);
    }
    void gsm_decodesOrRefuses() {
        QFETCH(QByteArray, data);
        QFETCH(int, silentFrames);
        const bool block = QByteArrayView(QTest::currentDataTag()).startsWith("block");
        GsmCodec codec;
        std::array<qint16, GsmCodec::BlockSamples> out;
        out.fill(1234);
        QCOMPARE(block ? codec.decodeBlock(data, out.data()) : codec.decode(data, out.data()), silentFrames < 0);
        int silent = 0;
        for (int f = 0; f < (block ? GsmCodec::BlockFrames : 1); ++f) {
            const auto frame = std::span(out).subspan(f * GsmCodec::FrameSamples, GsmCodec::FrameSamples);
            silent += std::all_of(frame.begin(), frame.end(), [](qint16 s) { return s == 0; });
            QVERIFY(std::find(frame.begin(), frame.end(), 1234) == frame.end());
        }
        QCOMPARE(silent, std::max(silentFrames, 0));
    }

    // Tones keep frequency and level; what lies above the lower Nyquist is neither folded in nor imaged.
    void resampler_data() {
        columns<int, int, double, double, double>("inRate", "outRate", "hz", "gainDb", "atHz");
        row("8k to 48k, 3 kHz", 8000, 48000, 3000.0, 0.0, 3000.0);
        row("8k to 8k, -6 dB", 8000, 8000, 1000.0, -6.0, 1000.0);
        row("44.1k to 8k, 700 Hz, -10 dB", 44100, 8000, 700.0, -10.0, 700.0);
        row("48k to 8k, 5 kHz not folded", 48000, 8000, 5000.0, 0.0, 3000.0);
        row("8k to 44.1k, no image of 1 kHz", 8000, 44100, 1000.0, 0.0, 7000.0);
    }
    void resampler() {
        const int outRate = col<int>("outRate");
        const double hz = col<double>("hz"), gainDb = col<double>("gainDb"), atHz = col<double>("atHz");
        Resampler r(col<int>("inRate"), outRate, gainDb);
        const QList<qint16> out = r.process(voicerig::tone(hz, 10000, r.inRate() * 3 / 2, r.inRate()));
        QCOMPARE_GE(out.size(), outRate * 5 / 4);
        const double db = dbAt(std::span(out).subspan(outRate / 4, outRate), outRate, atHz);
        QVERIFY2(hz == atHz ? std::abs(db - gainDb) < 0.2 : db < -60, qPrintable(QString::number(db)));
    }

    // Arrivals "a-b@t+s": packets a..b, the first at t ms, then one every s ms. Heard: the packets played, in
    // order. Counters: late, duplicates, gaps, overflows, underruns, transmissions.
    void jitterBuffer_data() {
        columns<QString, int, QString, QString>("arrivals", "capMs", "heard", "counters");
        row("reordered", "0-1@0+80 3@160 2@170 4-5@240+80 7@400 6@480 8@560", 2000, "0-8", "0 0 0 0 0 1");
        row("late and duplicate", "0-3@0+80 5-9@400+80 4@900 2@910 7@920", 2000, "0-3 5-9", "1 2 1 0 0 1");
        row("new talker anywhere", "100-104@0+80 40000-40004@1000+80", 2000, "100-104 40000-40004", "0 0 0 0 0 2");
        row("starved, then resumed", "0-4@0+80 5-9@600+80", 2000, "0-9", "0 0 0 0 1 1");
        row("overflow drops the oldest", "0-11@0+0", 400, "7-11", "0 0 0 7 0 1");
        row("jump in numbering", "0-2@0+0 20000-20003@100+10", 400, "0-1 20000-20003", "0 0 0 1 0 1");
    }
    void jitterBuffer() {
        std::multimap<int, int> schedule; // time, sequence
        for (const QString& item : col<QString>("arrivals").split(u' ')) {
            const auto m = QRegularExpression(QStringLiteral("^(\\d+)(?:-(\\d+))?@(\\d+)(?:\\+(\\d+))?$")).match(item);
            for (int seq = m.captured(1).toInt(), at = m.captured(3).toInt();
                 seq <= m.captured(m.hasCaptured(2) ? 2 : 1).toInt(); ++seq, at += m.captured(4).toInt()) {
                schedule.emplace(at, seq);
            }
        }
        qint64 now = 0;
        JitterBuffer buffer([&now] { return now; }, {.targetMs = 240, .capMs = col<int>("capMs"), .endGapMs = 300});
        QStringList heard, expected;
        std::array<qint16, 80> out;
        for (auto next = schedule.cbegin(); now < schedule.rbegin()->first + 3000; now += 10) {
            for (; next != schedule.cend() && next->first <= now; ++next) { // each packet's samples carry its number
                buffer.push(quint16(next->second),
                            QList<qint16>(JitterBuffer::PacketSamples, qint16(next->second % 30000 + 1)));
            }
            buffer.read(out);
            if (out[0] != 0 && (heard.isEmpty() || heard.last() != QString::number(out[0] - 1))) {
                heard << QString::number(out[0] - 1);
            }
        }
        for (const QString& item : col<QString>("heard").split(u' ')) {
            for (int seq = item.section(u'-', 0, 0).toInt(); seq <= item.section(u'-', -1).toInt(); ++seq) {
                expected << QString::number(seq % 30000);
            }
        }
        QCOMPARE(heard, expected);
        QCOMPARE(buffer.state(), JitterBuffer::State::Idle);
        const JitterBuffer::Counters& c = buffer.counters();
        QCOMPARE(QString::asprintf("%lld %lld %lld %lld %lld %lld", c.late, c.duplicates, c.gaps, c.overflows,
                                   c.underruns, c.transmissions),
                 col<QString>("counters"));
        QCOMPARE(c.played, expected.size());
    }

    void jitterBuffer_endsTheTransmissionAfterTheGap() {
        qint64 now = 0;
        JitterBuffer buffer([&now] { return now; });
        const std::array<qint16, JitterBuffer::PacketSamples> packet{};
        for (const quint16 seq : {10, 11, 12}) {
            buffer.push(seq, packet);
        }
        QVERIFY(!buffer.push(5, std::span(packet).first(639)));
        QCOMPARE(buffer.bufferedMs(), 240);
        std::array<qint16, JitterBuffer::PacketSamples * 4> out;
        buffer.read(out);
        QCOMPARE(buffer.bufferedMs(), 0);
        for (const qint64 at : {299, 300}) {
            now = at;
            buffer.read(std::span(out).first(1));
            QCOMPARE(buffer.state() == JitterBuffer::State::Idle, at == 300);
        }
        QCOMPARE(buffer.counters().invalid, 1);
    }
};

QTEST_GUILESS_MAIN(StationUnitsTest)
#include "tst_stationunits.moc"
