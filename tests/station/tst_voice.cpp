// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "GsmCodec.h"
#include "JitterBuffer.h"
#include "Resampler.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <cmath>
#include <complex>
#include <numbers>

namespace {
QList<qint16> tone(int rate, double hz, double amplitude, int count) {
    QList<qint16> out(count);
    for (int i = 0; i < count; ++i) {
        out[i] = qint16(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
    }
    return out;
}

// Amplitude of the hz component of x (exact over whole cycles) and the share of x's power it holds.
std::pair<double, double> measure(std::span<const qint16> x, int rate, double hz) {
    std::complex<double> sum;
    double power = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sum += double(x[i]) * std::polar(1.0, -2 * std::numbers::pi * hz * double(i) / rate);
        power += double(x[i]) * x[i] / double(x.size());
    }
    const double amplitude = 2 * std::abs(sum) / double(x.size());
    return {amplitude, amplitude * amplitude / 2 / std::max(power, 1e-9)};
}

double db(double ratio) {
    return 20 * std::log10(ratio + 1e-12);
}
} // namespace

class TestVoice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void silentPcm_encodesToTheKnownFrame() {
        const qint16 silence[GsmCodec::FrameSamples] = {};
        GsmCodec codec;
        QCOMPARE(codec.encode(silence).toHex(), "d820a2e15a50004924924924500049249249245000492492492450004924924924");
    }

    void gsmTone_keepsItsFrequency_data() {
        QTest::addColumn<double>("hz");
        row("1 kHz", 1000.0);
        row("700 Hz", 700.0);
    }
    void gsmTone_keepsItsFrequency() {
        QFETCH(double, hz);
        const QList<qint16> in = tone(8000, hz, 8000, 15 * GsmCodec::BlockSamples);
        GsmCodec codec;
        QList<qint16> out(in.size());
        for (qsizetype i = 0; i < in.size(); i += GsmCodec::BlockSamples) {
            QVERIFY(codec.decodeBlock(codec.encodeBlock(in.data() + i), out.data() + i));
        }
        const auto [amplitude, purity] = measure(std::span(out).subspan(1600, 8000), 8000, hz);
        QVERIFY2(purity > 0.95 && std::abs(db(amplitude / 8000)) < 2, qPrintable(QString::number(purity)));
    }

    // A frame is 33 bytes with 0xD in the top nibble; a block is four of them. silentFrames: frames given out
    // as silence (a refused frame must not come out as noise).
    void gsmData_isDecodedOrRefused_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("decoded");
        QTest::addColumn<int>("silentFrames");
        GsmCodec codec;
        const QByteArray good = codec.encode(tone(8000, 1000, 8000, GsmCodec::FrameSamples).data());
        const QByteArray bad = QByteArray(1, '\xc8') + good.mid(1);
        row("frame", good, true, 0);
        row("frame, any bits after the signature", QByteArray(1, '\xdf') + QByteArray(32, '\xff'), true, 0);
        row("frame, empty", QByteArray(), false, 1);
        row("frame, one byte short", good.chopped(1), false, 1);
        row("frame, one byte over", good + '\0', false, 1);
        row("frame, all NUL", QByteArray(33, '\0'), false, 1);
        row("frame, signature 0xC", bad, false, 1);
        row("block", good.repeated(4), true, 0);
        row("block, third frame bad", good + good + bad + good, false, 1);
        row("block, 131 bytes", good.repeated(4).chopped(1), false, 4);
        row("block, 133 bytes", good.repeated(4) + '\xd0', false, 4);
        row("block, five frames", good.repeated(5), false, 4);
    }
    void gsmData_isDecodedOrRefused() {
        QFETCH(QByteArray, data);
        QFETCH(bool, decoded);
        QFETCH(int, silentFrames);
        const bool block = QByteArrayView(QTest::currentDataTag()).startsWith("block");
        GsmCodec codec;
        std::array<qint16, GsmCodec::BlockSamples> out;
        out.fill(1234);
        QCOMPARE(block ? codec.decodeBlock(data, out.data()) : codec.decode(data, out.data()), decoded);
        int silent = 0;
        for (int f = 0; f < (block ? GsmCodec::BlockFrames : 1); ++f) {
            const auto frame = std::span(out).subspan(f * GsmCodec::FrameSamples, GsmCodec::FrameSamples);
            silent += std::all_of(frame.begin(), frame.end(), [](qint16 s) { return s == 0; });
            QVERIFY(!std::all_of(frame.begin(), frame.end(), [](qint16 s) { return s == 1234; })); // left out
        }
        QCOMPARE(silent, silentFrames);
    }

    void resampledTone_keepsFrequencyAndLevel_data() {
        QTest::addColumn<int>("inRate");
        QTest::addColumn<int>("outRate");
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("gainDb");
        row("8k to 48k, 1 kHz", 8000, 48000, 1000.0, 0.0);
        row("8k to 48k, 3 kHz", 8000, 48000, 3000.0, 0.0);
        row("8k to 44.1k, 700 Hz", 8000, 44100, 700.0, 0.0);
        row("8k to 11025, +6 dB", 8000, 11025, 1000.0, 6.0);
        row("8k to 16k", 8000, 16000, 1000.0, 0.0);
        row("8k to 22050", 8000, 22050, 1000.0, 0.0);
        row("8k to 32k", 8000, 32000, 1000.0, 0.0);
        row("8k to 96k", 8000, 96000, 1000.0, 0.0);
        row("8k to 8k, -6 dB", 8000, 8000, 1000.0, -6.0);
        row("48k to 8k, 1 kHz", 48000, 8000, 1000.0, 0.0);
        row("44.1k to 8k, 700 Hz, -10 dB", 44100, 8000, 700.0, -10.0);
        row("11025 to 8k, 3 kHz", 11025, 8000, 3000.0, 0.0);
    }
    void resampledTone_keepsFrequencyAndLevel() {
        QFETCH(int, inRate);
        QFETCH(int, outRate);
        QFETCH(double, hz);
        QFETCH(double, gainDb);
        Resampler r(inRate, outRate, gainDb);
        QVERIFY(r.isValid());
        const QList<qint16> out = r.process(tone(inRate, hz, 10000, inRate * 3 / 2));
        QCOMPARE_GE(out.size(), outRate * 5 / 4);
        const auto [amplitude, purity] = measure(std::span(out).subspan(outRate / 4, outRate), outRate, hz);
        QVERIFY2(purity > 0.999, qPrintable(QString::number(purity)));
        QVERIFY2(std::abs(db(amplitude / 10000) - gainDb) < 0.2, qPrintable(QString::number(amplitude)));
    }

    // Down-sampling must not fold what is above the lower Nyquist into the band; up-sampling must not leave
    // images of the band above it.
    void outOfBandTone_isAttenuated_data() {
        QTest::addColumn<int>("inRate");
        QTest::addColumn<int>("outRate");
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("foldsToHz");
        row("48k to 8k, 5 kHz", 48000, 8000, 5000.0, 3000.0);
        row("48k to 8k, 12 kHz", 48000, 8000, 12000.0, 4000.0);
        row("44.1k to 8k, 4.2 kHz", 44100, 8000, 4200.0, 3800.0);
        row("8k to 48k, image of 3 kHz", 8000, 48000, 3000.0, 5000.0);
        row("8k to 48k, image of 3.8 kHz", 8000, 48000, 3800.0, 4200.0);
        row("8k to 44.1k, image of 1 kHz", 8000, 44100, 1000.0, 7000.0);
    }
    void outOfBandTone_isAttenuated() {
        QFETCH(int, inRate);
        QFETCH(int, outRate);
        QFETCH(double, hz);
        QFETCH(double, foldsToHz);
        Resampler r(inRate, outRate);
        const QList<qint16> out = r.process(tone(inRate, hz, 20000, inRate * 3 / 2));
        const double leak = measure(std::span(out).subspan(outRate / 4, outRate), outRate, foldsToHz).first;
        QVERIFY2(db(leak / 20000) < -60, qPrintable(QString::number(leak)));
    }

    // Also saturates: +12 dB takes the steps far past full scale.
    void chunkedInput_matchesWholeInput_data() {
        QTest::addColumn<int>("inRate");
        QTest::addColumn<int>("outRate");
        row("8k to 48k", 8000, 48000);
        row("8k to 44.1k", 8000, 44100);
        row("48k to 8k", 48000, 8000);
        row("44.1k to 8k", 44100, 8000);
    }
    void chunkedInput_matchesWholeInput() {
        QFETCH(int, inRate);
        QFETCH(int, outRate);
        QList<qint16> in = tone(inRate, 440, 12000, inRate);
        for (int i = 0; i < in.size(); i += 97) {
            in[i] = qint16(in[i] / 2 + 15000); // steps, so any seam between chunks would show
        }
        Resampler whole(inRate, outRate, 12.0);
        Resampler chunked(inRate, outRate, 12.0);
        const QList<qint16> expected = whole.process(in);
        QList<qint16> got;
        QRandomGenerator random(7);
        for (qsizetype at = 0, n = 0; at < in.size(); at += n) {
            n = std::min<qsizetype>(random.bounded(0, 700), in.size() - at);
            chunked.process(std::span(in).subspan(at, n), got);
        }
        QCOMPARE(got.size(), expected.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            QVERIFY2(std::abs(got[i] - expected[i]) <= 1, qPrintable(QString::number(i)));
        }
        const auto [lo, hi] = std::minmax_element(got.begin(), got.end());
        QCOMPARE(std::pair(*lo, *hi), std::pair(qint16(-32768), qint16(32767)));
    }

    void roundTrip_isCloseToInput_data() {
        QTest::addColumn<int>("deviceRate");
        row("48k", 48000);
        row("44.1k", 44100);
        row("11025", 11025);
    }
    void roundTrip_isCloseToInput() {
        QFETCH(int, deviceRate);
        QList<qint16> in = tone(8000, 300, 6000, 8000);
        const QList<qint16> high = tone(8000, 2700, 4000, 8000);
        std::transform(in.begin(), in.end(), high.begin(), in.begin(), std::plus<>());
        Resampler up(8000, deviceRate);
        Resampler down(deviceRate, 8000);
        const QList<qint16> back = down.process(up.process(in));
        QCOMPARE_GE(back.size(), 7800);
        double error = 0;
        double signal = 0;
        for (int i = 400; i < 7600; ++i) { // the stream's edges start and end in silence
            error += std::pow(back[i] - in[i], 2);
            signal += std::pow(in[i], 2);
        }
        QVERIFY2(db(std::sqrt(error / signal)) < -60, qPrintable(QString::number(db(std::sqrt(error / signal)))));
    }

    void unsupportedRate_isInvalid_data() {
        QTest::addColumn<int>("inRate");
        QTest::addColumn<int>("outRate");
        row("zero", 8000, 0);
        row("negative", -8000, 48000);
        row("too high", 8000, 10000000);
        row("coprime, huge filter", 8000, 384001);
    }
    void unsupportedRate_isInvalid() {
        QFETCH(int, inRate);
        QFETCH(int, outRate);
        Resampler r(inRate, outRate);
        QVERIFY(!r.isValid());
        QVERIFY(r.process(tone(8000, 1000, 1000, 800)).isEmpty());
    }

    // Arrivals: "a-b@t+s" is packets a..b, the first at t ms, then one every s ms (steps "60/100" alternate).
    // Heard: packets played in order; "_" a packet of silence, "~" a pause of another length.
    void playback_data() {
        QTest::addColumn<QString>("arrivals");
        QTest::addColumn<int>("capMs");
        QTest::addColumn<QString>("heard");
        QTest::addColumn<QString>("counters"); // in Counters order; those not named stay 0
        row("burst, then paced", "0-5@0+0 6-19@80+80", 2000, "0-19", "transmissions=1");
        row("alternating 60/100 ms", "0-19@0+60/100", 2000, "0-19", "transmissions=1");
        row("reordered", "0-1@0+80 3@160 2@170 4-5@240+80 7@400 6@480 8@560", 2000, "0-8", "transmissions=1");
        row("first two swapped", "1@0 0@30 2-6@80+80", 2000, "0-6", "transmissions=1");
        row("lost packet", "0-3@0+80 5-9@400+80", 2000, "0-3 _ 5-9", "gaps=1 transmissions=1");
        row("late and duplicate", "0-3@0+80 5-9@400+80 4@900 2@910 7@920", 2000, "0-3 _ 5-9",
            "late=1 duplicates=2 gaps=1 transmissions=1");
        row("many duplicates", "0-5@0+0 3@1+0 3@2+0 3@3+0", 2000, "0-5", "duplicates=3 transmissions=1");
        row("wrap-around", "65533-65535@0+80 0-4@240+80", 2000, "65533-65535 0-4", "transmissions=1");
        row("new talker anywhere", "100-104@0+80 40000-40004@1000+80", 2000, "100-104 ~ 40000-40004",
            "transmissions=2");
        row("next talker behind a deep buffer", "0-11@0+0 500-502@500+80", 2000, "0-11 500-502", "transmissions=2");
        row("shorter than the target", "7-8@0+80", 2000, "7-8", "transmissions=1");
        row("starved, then resumed", "0-4@0+80 5-9@600+80", 2000, "0-4 ~ 5-9", "underruns=1 transmissions=1");
        row("overflow drops the oldest", "0-11@0+0", 400, "7-11", "overflows=7 transmissions=1");
        row("jump in numbering", "0-2@0+0 20000-20003@100+10", 400, "0-1 20000-20003", "overflows=1 transmissions=1");
    }
    void playback() {
        QFETCH(QString, arrivals);
        QFETCH(int, capMs);
        QFETCH(QString, heard);
        QFETCH(QString, counters);
        QList<std::pair<int, int>> schedule; // (time, sequence)
        for (const QString& item : arrivals.split(u' ')) {
            const auto m =
                QRegularExpression(QStringLiteral("^(\\d+)(?:-(\\d+))?@(\\d+)(?:\\+([\\d/]+))?$")).match(item);
            QVERIFY2(m.hasMatch(), qPrintable(item));
            const QStringList steps =
                m.captured(4).isEmpty() ? QStringList{QStringLiteral("0")} : m.captured(4).split(u'/');
            int at = m.captured(3).toInt();
            const int last = m.captured(m.hasCaptured(2) ? 2 : 1).toInt();
            for (int seq = m.captured(1).toInt(), k = 0; seq <= last; ++seq, ++k) {
                schedule.append({at, seq});
                at += steps[k % steps.size()].toInt();
            }
        }
        std::stable_sort(schedule.begin(), schedule.end(), [](auto a, auto b) { return a.first < b.first; });
        qint64 now = 0;
        JitterBuffer buffer([&now] { return now; }, {.targetMs = 240, .capMs = capMs, .endGapMs = 300});
        QList<qint16> out;
        for (auto next = schedule.cbegin(); now < schedule.last().first + 3000; now += 10) {
            for (; next != schedule.cend() && next->first <= now; ++next) {
                std::array<qint16, JitterBuffer::PacketSamples> packet;
                packet.fill(qint16(next->second % 30000 + 1)); // each packet's samples carry its number
                buffer.push(quint16(next->second), packet);
            }
            out.resize(out.size() + 80);
            buffer.read(std::span(out).last(80));
        }
        QCOMPARE(buffer.state(), JitterBuffer::State::Idle);

        QStringList got;
        for (qsizetype i = 0, end = 0; i < out.size(); i = end) {
            end = std::find_if(out.begin() + i, out.end(), [&](qint16 s) { return s != out[i]; }) - out.begin();
            if (out[i] != 0) {
                QCOMPARE(end - i, JitterBuffer::PacketSamples);
                got << QString::number(out[i] - 1);
            } else if (i > 0 && end < out.size()) {
                const qsizetype n = end - i;
                got << (n % JitterBuffer::PacketSamples
                            ? QStringList{QStringLiteral("~")}
                            : QStringList(n / JitterBuffer::PacketSamples, QStringLiteral("_")));
            }
        }
        QStringList expected;
        for (const QString& item : heard.split(u' ')) {
            const QStringList range = item.split(u'-');
            if (!range[0][0].isDigit()) {
                expected << item;
            }
            for (int seq = range[0].toInt(); range[0][0].isDigit() && seq <= range.last().toInt(); ++seq) {
                expected << QString::number(seq % 30000);
            }
        }
        QCOMPARE(got, expected);

        const JitterBuffer::Counters& c = buffer.counters();
        QString named = QStringLiteral("late=%1 duplicates=%2 gaps=%3 overflows=%4 underruns=%5 invalid=%6 "
                                       "transmissions=%7")
                            .arg(c.late)
                            .arg(c.duplicates)
                            .arg(c.gaps)
                            .arg(c.overflows)
                            .arg(c.underruns)
                            .arg(c.invalid)
                            .arg(c.transmissions);
        QCOMPARE(named.remove(QRegularExpression(QStringLiteral("\\w+=0 ?"))).trimmed(), counters);
        QCOMPARE(c.played, expected.filter(QRegularExpression(QStringLiteral("^\\d"))).size());
    }

    void endOfTransmission_comesAfterTheGap_data() {
        QTest::addColumn<int>("quietMs");
        QTest::addColumn<bool>("ended");
        row("just before", 299, false);
        row("at the gap", 300, true);
        row("long after", 5000, true);
    }
    void endOfTransmission_comesAfterTheGap() {
        QFETCH(int, quietMs);
        QFETCH(bool, ended);
        qint64 now = 0;
        JitterBuffer buffer([&now] { return now; });
        const std::array<qint16, JitterBuffer::PacketSamples> packet{};
        for (const quint16 seq : {10, 11, 12}) {
            buffer.push(seq, packet);
        }
        QVERIFY(!buffer.push(5, std::span(packet).first(639)));
        QCOMPARE(buffer.bufferedMs(), 240);
        std::array<qint16, JitterBuffer::PacketSamples * 4> out;
        buffer.read(out); // the target is held at once: all three played, then dry
        QCOMPARE(buffer.bufferedMs(), 0);
        now = quietMs;
        buffer.read(std::span(out).first(1));
        QCOMPARE(buffer.state() == JitterBuffer::State::Idle, ended);
        QCOMPARE(buffer.counters().transmissions, ended ? 1 : 0);
        QCOMPARE(buffer.counters().underruns, 0);
        QCOMPARE(buffer.counters().played, 3);
        QCOMPARE(buffer.counters().invalid, 1);
    }
};

QTEST_GUILESS_MAIN(TestVoice)
#include "tst_voice.moc"
