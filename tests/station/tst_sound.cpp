// SPDX-License-Identifier: GPL-3.0-or-later
// The sound devices against a private PulseAudio with null sinks (VoiceRig.h): what SoundOutput plays is
// recorded from a sink's monitor; what MicSource hears is a WAV played into the "mic" sink.
#include "DataRow.h"
#include "GsmCodec.h"
#include "MicSource.h"
#include "SoundOutput.h"
#include "VoiceRig.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

using voicerig::tone;

class TestSound : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    voicerig::PrivatePulse pulse_{dir_.path()};

private Q_SLOTS:
    void initTestCase() { // before Qt asks for devices: it connects to the server once
        for (const char* program : {"pulseaudio", "pactl", "parec", "paplay"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
                QSKIP(program);
            }
        }
        for (const char* key : {"HOME", "PULSE_SERVER"}) {
            qputenv(key, pulse_.processEnvironment().value(QLatin1String(key)).toUtf8());
        }
        QString error;
        QVERIFY2(pulse_.start({{QStringLiteral("Speaker44"), 44100, 2}, {QStringLiteral("mic"), 8000, 1}}, &error),
                 qPrintable(error));
        QTest::qWait(2500); // the keepers' streams settle the sinks
    }

    void burstyTone_isPlayedWhole() {
        voicerig::Recorder recorder;
        QVERIFY(recorder.start(pulse_, QStringLiteral("Speaker44"), 8000));
        QTest::qWait(300);
        SoundOutput output(
            SoundOutput::Options{.device = QStringLiteral("NoSuchSpeaker"), .gainDb = 6.0, .jitter = {}});
        QSignalSpy notices(&output, &SoundOutput::notice);
        const QList<qint16> pcm = tone(1000, 8000, 25 * GsmCodec::BlockSamples);
        GsmCodec encoder;
        for (int i = 0; i < 25; ++i) { // 2 s as a relaying node sends it: six packets at once, then every 60 or 100 ms
            const QByteArray block = encoder.encodeBlock(pcm.constData() + i * GsmCodec::BlockSamples);
            QTimer::singleShot(i < 6 ? 0 : (i - 5) * 80 + (i % 2 ? -20 : 20), &output,
                               [&output, block, i] { output.play(block, quint16(65530 + i)); });
        }
        QTRY_VERIFY(output.isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(!output.isOpen(), 10000); // closes by itself once played out
        QTest::qWait(300);
        recorder.stop();
        const voicerig::Heard heard = voicerig::hear(recorder.samples(), 8000);
        const auto c = output.counters();
        QVERIFY2(std::abs(heard.seconds - 2.0) <= 0.2 && std::abs(heard.hz - 1000) <= 100 && heard.longestHoleMs < 40,
                 qPrintable(heard.text()));
        const double expected = 2 * 8000 / std::sqrt(2.0); // 6 dB over the tone's RMS
        QVERIFY2(std::abs(heard.level / expected - 1) <= 0.25, qPrintable(QString::number(heard.level)));
        QCOMPARE(c.jitter.underruns + c.jitter.gaps + c.dropped, 0);
        QVERIFY(c.jitter.played == 25 && c.opens == 1);
        QCOMPARE(notices.size(), 1); // the unknown name: said once, the default played
    }

    void micTone_isSentAsBlocksOfThatTone() {
        const QString file = dir_.filePath(QStringLiteral("tone.wav"));
        QVERIFY(writeFile(file, voicerig::wav(tone(700, 8000, 16000))));
        MicSource mic(MicSource::Options{QString(), 0});
        QList<qint16> sent;
        GsmCodec decoder;
        connect(&mic, &MicSource::framesReady, this, [&](const QByteArray& block) {
            sent.resize(sent.size() + GsmCodec::BlockSamples);
            QVERIFY(decoder.decodeBlock(block, sent.data() + sent.size() - GsmCodec::BlockSamples));
        });
        mic.start();
        QTest::qWait(300);
        QProcess paplay;
        paplay.setProcessEnvironment(pulse_.processEnvironment());
        paplay.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("mic"), file});
        QTRY_COMPARE_WITH_TIMEOUT(paplay.state(), QProcess::NotRunning, 10000);
        QTest::qWait(300);
        mic.stop();
        const voicerig::Heard heard = voicerig::hear(sent, 8000);
        QVERIFY2(std::abs(heard.seconds - 2.0) <= 0.2 && std::abs(heard.hz - 700) <= 70 && !mic.isCapturing(),
                 qPrintable(heard.text()));
    }

    void serverGone_voiceIsDroppedWithOneNoticeEach() { // last: it takes the sound server away
        pulse_.stop();
        SoundOutput output({});
        MicSource mic({});
        QSignalSpy outputNotices(&output, &SoundOutput::notice), micNotices(&mic, &MicSource::notice);
        for (int i = 0; i < 3; ++i) {
            output.play(GsmCodec().encodeBlock(QList<qint16>(GsmCodec::BlockSamples).constData()), quint16(i));
            mic.start();
        }
        QVERIFY(output.counters().dropped == 3 && output.counters().failures == 1 && !mic.isCapturing());
        QVERIFY(outputNotices.size() == 1 && micNotices.size() == 1);
    }
};

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
