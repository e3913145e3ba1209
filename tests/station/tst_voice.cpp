// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "GsmCodec.h"
#include "JitterBuffer.h"
#include "Resampler.h"
#include "VoiceRig.h"

#include <QRegularExpression>
#include <complex>
#include <map>

namespace {
template <typename T> T col(const char* name) {
    return *static_cast<T*>(QTest::qData(name, qMetaTypeId<T>()));
}
// Level in dB full scale of the hz component over whole cycles.
double dbAt(std::span<const qint16> x, int rate, double hz) {
    std::complex<double> sum;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sum += double(x[i]) * std::polar(1.0, -2 * std::numbers::pi * hz * double(i) / rate);
    }
    return 20 * std::log10(2 * std::abs(sum) / double(x.size()) / 10000 + 1e-12);
}
} // namespace

class TestVoice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A frame is 33 bytes with 0xD in the top nibble, a block four; a refused frame comes out as silence.
    void gsm_decodesOrRefuses_data() {
        columns<QByteArray, int>("data", "silentFrames"); // silentFrames -1: decoded
        const QByteArray good = GsmCodec().encode(voicerig::tone(1000, 8000, GsmCodec::FrameSamples).data());
        QCOMPARE(GsmCodec().encode(QList<qint16>(GsmCodec::FrameSamples).data()).toHex(),
                 "d820a2e15a50004924924924500049249249245000492492492450004924924924");
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

QTEST_GUILESS_MAIN(TestVoice)
#include "tst_voice.moc"
