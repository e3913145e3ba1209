// SPDX-License-Identifier: GPL-3.0-or-later
// The sound devices against a private PulseAudio with null sinks (VoiceRig.h): what SoundOutput plays is
// recorded from a sink's monitor; what MicSource hears is a WAV played into the "mic" sink.
#include "DataRow.h"
#include "GsmCodec.h"
#include "MicSource.h"
#include "SoundOutput.h"
#include "VoiceRig.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using voicerig::tone;

namespace {
double rms(std::span<const qint16> x) {
    double sum = 0;
    for (const qint16 s : x) {
        sum += double(s) * s;
    }
    return std::sqrt(sum / double(x.size()));
}
} // namespace

class TestSound : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    voicerig::PrivatePulse pulse_{dir_.path()};

private Q_SLOTS:
    // Before anything asks Qt for devices: it connects to the server once and keeps the connection.
    void initTestCase() {
        for (const char* program : {"pulseaudio", "pactl", "parec", "paplay", "pacat"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(program))));
            }
        }
        for (const char* key : {"HOME", "PULSE_SERVER"}) {
            qputenv(key, pulse_.processEnvironment().value(QLatin1String(key)).toUtf8());
        }
        QString error;
        QVERIFY2(pulse_.start({{QStringLiteral("Speaker44"), 44100, 2},
                               {QStringLiteral("Speaker8"), 8000, 1},
                               {QStringLiteral("Speaker48"), 48000, 2},
                               {QStringLiteral("mic"), 8000, 1}},
                              &error),
                 qPrintable(error));
        QTest::qWait(2500); // the keepers' streams settle the sinks
    }
    void cleanupTestCase() { pulse_.stop(); }

    void burstyTone_isPlayedWhole_data() {
        QTest::addColumn<QString>("setting"); // AUDIOOUT
        QTest::addColumn<QString>("sink");    // where it should come out
        QTest::addColumn<double>("gainDb");
        QTest::addColumn<QString>("notice"); // a part of the one notice expected; empty: none
        row("defaultStereoDevice", "", "Speaker44", 0.0, "");
        row("namedMono8kDevice", "Speaker8", "Speaker8", 0.0, "");
        row("namedStereo48kDeviceQuieter", "Speaker48", "Speaker48", -12.0, "");
        row("unknownNameUsesDefaultLouder", "NoSuchSpeaker", "Speaker44", 6.0, "AUDIOOUT=NoSuchSpeaker");
    }
    void burstyTone_isPlayedWhole() {
        QFETCH(QString, setting);
        QFETCH(QString, sink);
        QFETCH(double, gainDb);
        QFETCH(QString, notice);
        voicerig::Recorder recorder;
        QVERIFY(recorder.start(pulse_, sink, 8000));
        QTest::qWait(300);

        SoundOutput output(SoundOutput::Options{.device = setting, .gainDb = gainDb, .jitter = {}});
        QStringList notices;
        connect(&output, &SoundOutput::notice, this, [&](const QString& line) { notices << line; });
        // 2 s of tone as a relaying node sends it: six packets at once, then every 60 or 100 ms in turn.
        constexpr int Packets = 25;
        const QList<qint16> pcm = tone(1000, 8000, Packets * GsmCodec::BlockSamples);
        GsmCodec encoder, reference;
        QList<qint16> decoded(pcm.size());
        for (int i = 0; i < Packets; ++i) {
            const QByteArray block = encoder.encodeBlock(pcm.constData() + i * GsmCodec::BlockSamples);
            reference.decodeBlock(block, decoded.data() + i * GsmCodec::BlockSamples);
            const int due = i < 6 ? 0 : (i - 5) * 80 + (i % 2 ? -20 : 20);
            QTimer::singleShot(due, &output, [&output, block, i] { output.play(block, quint16(65530 + i)); });
        }
        QTRY_VERIFY(output.isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(!output.isOpen(), 10000); // closes by itself once played out
        QTest::qWait(300);
        recorder.stop();

        const voicerig::Heard heard = voicerig::hear(recorder.samples(), 8000);
        const double expectedLevel = rms(decoded) * std::pow(10, gainDb / 20);
        const auto c = output.counters();
        const QString got = QStringLiteral("%1; level %2 of %3; underruns %4 gaps %5")
                                .arg(heard.text())
                                .arg(heard.level)
                                .arg(expectedLevel)
                                .arg(c.jitter.underruns)
                                .arg(c.jitter.gaps);
        QVERIFY2(std::abs(heard.seconds - 2.0) <= 0.2, qPrintable(got));
        QVERIFY2(std::abs(heard.hz - 1000) <= 100, qPrintable(got));
        QVERIFY2(std::abs(heard.level / expectedLevel - 1) <= 0.2, qPrintable(got));
        QVERIFY2(heard.longestHoleMs < 40, qPrintable(got));
        QCOMPARE(c.jitter.underruns + c.jitter.gaps + c.dropped, 0);
        QCOMPARE(c.jitter.played, Packets);
        QCOMPARE(c.opens, 1);
        QCOMPARE(notices.size(), notice.isEmpty() ? 0 : 1);
        QVERIFY2(notices.join(u'\n').contains(notice), qPrintable(notices.join(u'\n')));
    }

    void micTone_isSentAsEvenBlocksOfThatTone_data() {
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("gainDb");
        row("700Hz", 700.0, 0.0);
        row("1kHzQuieter", 1000.0, -12.0);
    }
    void micTone_isSentAsEvenBlocksOfThatTone() {
        QFETCH(double, hz);
        QFETCH(double, gainDb);
        const QList<qint16> pcm = tone(hz, 8000, 16000); // 2 s
        const QString file = dir_.filePath(QStringLiteral("tone.wav"));
        QVERIFY(e2e::writeFile(file, voicerig::wav(pcm)));

        MicSource mic(MicSource::Options{QString(), gainDb});
        QList<qint64> times;
        QList<qint16> sent;
        GsmCodec decoder;
        QElapsedTimer clock;
        connect(&mic, &MicSource::framesReady, this, [&](const QByteArray& block) {
            times << clock.elapsed();
            sent.resize(sent.size() + GsmCodec::BlockSamples);
            QVERIFY(decoder.decodeBlock(block, sent.data() + sent.size() - GsmCodec::BlockSamples));
        });
        clock.start();
        mic.start();
        QVERIFY(mic.isCapturing());
        QTest::qWait(300);
        QProcess paplay; // while the event loop runs: the timer paces the blocks
        paplay.setProcessEnvironment(pulse_.processEnvironment());
        paplay.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("mic"), file});
        QTRY_COMPARE_WITH_TIMEOUT(paplay.state(), QProcess::NotRunning, 10000);
        QCOMPARE(paplay.exitCode(), 0);
        QTest::qWait(300);
        const qint64 stoppedAt = clock.elapsed();
        mic.stop();
        QVERIFY(!mic.isCapturing());

        const voicerig::Heard heard = voicerig::hear(sent, 8000);
        const QString got = QStringLiteral("%1, level %2; %3 blocks in %4 ms")
                                .arg(heard.text())
                                .arg(heard.level)
                                .arg(times.size())
                                .arg(stoppedAt);
        QVERIFY2(std::abs(heard.seconds - 2.0) <= 0.2, qPrintable(got));
        QVERIFY2(std::abs(heard.hz - hz) <= hz / 10, qPrintable(got));
        QVERIFY2(std::abs(heard.level / (rms(pcm) * std::pow(10, gainDb / 20)) - 1) <= 0.25, qPrintable(got));
        // One block per 80 ms: all the time it ran, and never three within one tick and the next.
        QVERIFY2(std::abs(times.size() * 80.0 / double(stoppedAt) - 1) <= 0.15, qPrintable(got));
        for (qsizetype i = 2; i < times.size(); ++i) {
            QVERIFY2(times[i] - times[i - 2] >= 50, qPrintable(got + QStringLiteral(" at block %1").arg(i)));
        }
    }

    void listDevices_printsBothKindsWithDefaultsMarked() {
        QProcess station;
        station.setProcessEnvironment(pulse_.processEnvironment());
        station.start(QStringLiteral(PARLEVOX_STATION_PATH), {QStringLiteral("--list-devices")});
        QVERIFY(station.waitForFinished(10000));
        QCOMPARE(station.exitCode(), 0);
        const QString out = QString::fromUtf8(station.readAllStandardOutput());
        for (const char* line : {"Sound outputs (AUDIOOUT):\n  Speaker44  [Speaker44]  (default)\n",
                                 "  Speaker8  [Speaker8]\n", "Sound inputs (AUDIOIN):\n", "[micsrc]  (default)\n"}) {
            QVERIFY2(out.contains(QLatin1String(line)), qPrintable(out));
        }
    }

    // Last: it takes the sound server away.
    void serverGone_voiceIsDroppedWithOneNoticeEach() {
        pulse_.stop();
        SoundOutput output({});
        MicSource mic({});
        QStringList notices;
        connect(&output, &SoundOutput::notice, this, [&](const QString& line) { notices << line; });
        connect(&mic, &MicSource::notice, this, [&](const QString& line) { notices << line; });
        GsmCodec encoder;
        const QByteArray block = encoder.encodeBlock(tone(1000, 8000, GsmCodec::BlockSamples).constData());
        for (int i = 0; i < 3; ++i) {
            output.play(block, quint16(i));
            mic.start();
            mic.stop();
        }
        QCOMPARE(output.counters().dropped, 3);
        QCOMPARE(output.counters().failures, 1); // tried once for the transmission
        QTest::qWait(400);                       // the next one tries again, without saying it again
        output.play(block, 3);
        QCOMPARE(output.counters().failures, 2);
        QVERIFY(!output.isOpen() && !mic.isCapturing());
        QCOMPARE(notices.size(), 2);
        QVERIFY2(notices[0].contains(QLatin1String("output")) && notices[1].contains(QLatin1String("input")),
                 qPrintable(notices.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
