// SPDX-License-Identifier: GPL-3.0-or-later
// The sound devices against a private PulseAudio with null sinks: what SoundOutput plays is recorded from a
// sink's monitor with parec; what MicSource hears is a WAV played with paplay into the "mic" sink, whose
// monitor is remapped into the default source.
#include "DataRow.h"
#include "GsmCodec.h"
#include "MicSource.h"
#include "ProcessTools.h"
#include "SoundOutput.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <cmath>
#include <numbers>

namespace {

QList<qint16> tone(double hz, double amplitude, int count) {
    QList<qint16> out(count);
    for (int i = 0; i < count; ++i) {
        out[i] = qint16(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / 8000)));
    }
    return out;
}

double rms(std::span<const qint16> x) {
    double sum = 0;
    for (const qint16 s : x) {
        sum += double(s) * s;
    }
    return x.empty() ? 0 : std::sqrt(sum / double(x.size()));
}

// What an 8 kHz recording holds: where sound is (20 ms windows louder than a tenth of the loudest), its
// strongest frequency, its level and the longest quiet stretch inside it.
struct Heard {
    double seconds = 0, hz = 0, level = 0, longestHoleMs = 0;
};
Heard hear(const QList<qint16>& x) {
    constexpr int Window = 160;
    QList<double> levels;
    for (qsizetype i = 0; i + Window <= x.size(); i += Window) {
        levels << rms(std::span(x).subspan(i, Window));
    }
    const double loud = levels.isEmpty() ? 0 : *std::max_element(levels.begin(), levels.end()) / 10;
    qsizetype first = 0, last = levels.size() - 1;
    while (first < levels.size() && levels[first] <= loud) {
        ++first;
    }
    while (last >= first && levels[last] <= loud) {
        --last;
    }
    Heard h;
    if (loud == 0 || first > last) {
        return h;
    }
    h.seconds = double(last - first + 1) * Window / 8000;
    int hole = 0;
    for (qsizetype w = first; w <= last; ++w) {
        hole = levels[w] <= loud ? hole + 1 : 0;
        h.longestHoleMs = std::max(h.longestHoleMs, hole * 20.0);
    }
    const auto sound = std::span(x).subspan(first * Window, (last - first + 1) * Window);
    h.level = rms(sound);
    double best = 0;
    for (double hz = 300; hz <= 3000; hz += 5) { // Goertzel at each candidate
        const double c = 2 * std::cos(2 * std::numbers::pi * hz / 8000);
        double s1 = 0, s2 = 0;
        for (const qint16 v : sound) {
            const double s0 = v + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        if (const double power = s1 * s1 + s2 * s2 - c * s1 * s2; power > best) {
            best = power;
            h.hz = hz;
        }
    }
    return h;
}

QList<qint16> samplesOf(const QByteArray& bytes) {
    QList<qint16> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.constData(), size_t(out.size()) * 2);
    return out;
}

QByteArray wav(const QList<qint16>& pcm) {
    QByteArray out("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data\0\0\0\0", 44);
    qToLittleEndian<quint32>(quint32(36 + pcm.size() * 2), out.data() + 4);
    qToLittleEndian<quint32>(quint32(pcm.size() * 2), out.data() + 40);
    return out + QByteArray(reinterpret_cast<const char*>(pcm.constData()), pcm.size() * 2);
}

} // namespace

class TestSound : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QProcess pulse_;
    QList<QProcess*> keepers_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();

    bool run(const QString& program, const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(program, args);
        return p.waitForFinished(10000) && p.exitCode() == 0;
    }

private Q_SLOTS:
    // Before anything asks Qt for devices: it connects to the server once and keeps the connection.
    void initTestCase() {
        for (const char* program : {"pulseaudio", "pactl", "parec", "paplay"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(program))));
            }
        }
        const QString native = dir_.filePath(QStringLiteral("pulse/native"));
        env_.insert(QStringLiteral("HOME"), dir_.path());
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        env_.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir_.filePath(QStringLiteral("pulse")));
        env_.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + native);
        for (const QString& key : {QStringLiteral("HOME"), QStringLiteral("PULSE_SERVER")}) {
            qputenv(qPrintable(key), env_.value(key).toUtf8());
        }
        auto sink = [](const char* name, int rate, int channels) {
            return QStringLiteral("--load=module-null-sink sink_name=%1 rate=%2 channels=%3 "
                                  "sink_properties=device.description=%1")
                .arg(QLatin1String(name))
                .arg(rate)
                .arg(channels);
        };
        e2e::dieWithParent(pulse_);
        pulse_.setProcessEnvironment(env_);
        pulse_.setProcessChannelMode(QProcess::MergedChannels);
        pulse_.setStandardOutputFile(dir_.filePath(QStringLiteral("pulse.log")));
        pulse_.start(QStringLiteral("pulseaudio"),
                     {QStringLiteral("--daemonize=no"), QStringLiteral("-n"), QStringLiteral("--use-pid-file=no"),
                      QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--disallow-exit"),
                      QStringLiteral("--disable-shm=yes"), sink("Speaker44", 44100, 2), sink("Speaker8", 8000, 1),
                      sink("Speaker48", 48000, 2), sink("mic", 8000, 1),
                      QStringLiteral("--load=module-remap-source master=mic.monitor source_name=micsrc"),
                      QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1")});
        QVERIFY(pulse_.waitForStarted());
        QVERIFY2(e2e::waitForFile(native, 10000), qPrintable(e2e::fileLines(dir_.filePath("pulse.log")).join('\n')));
        QVERIFY(run(QStringLiteral("pactl"), {QStringLiteral("set-default-sink"), QStringLiteral("Speaker44")}));
        QVERIFY(run(QStringLiteral("pactl"), {QStringLiteral("set-default-source"), QStringLiteral("micsrc")}));
        // An idle null sink renders 2 s ahead and a new stream waits that long; a sound card's sink takes it at
        // once. A silent low-latency stream on each keeps the null sinks like one.
        for (const char* name : {"Speaker44", "Speaker8", "Speaker48", "mic"}) {
            auto* keeper = new QProcess(this);
            e2e::dieWithParent(*keeper);
            keeper->setProcessEnvironment(env_);
            keeper->setStandardInputFile(QStringLiteral("/dev/zero"));
            keeper->start(QStringLiteral("pacat"), {QStringLiteral("-d"), QLatin1String(name), QStringLiteral("--raw"),
                                                    QStringLiteral("--latency-msec=20")});
            keepers_ << keeper;
        }
        QTest::qWait(2500);
    }
    void cleanupTestCase() {
        for (QProcess* keeper : std::as_const(keepers_)) {
            e2e::stopProcess(*keeper);
        }
        e2e::stopProcess(pulse_);
    }

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
        const QString file = dir_.filePath(QStringLiteral("played.raw"));
        QProcess parec;
        e2e::dieWithParent(parec);
        parec.setProcessEnvironment(env_);
        parec.setStandardOutputFile(file);
        parec.start(QStringLiteral("parec"),
                    {QStringLiteral("-d"), sink + QStringLiteral(".monitor"), QStringLiteral("--raw"),
                     QStringLiteral("--format=s16le"), QStringLiteral("--rate=8000"), QStringLiteral("--channels=1"),
                     QStringLiteral("--latency-msec=20")});
        QVERIFY(parec.waitForStarted());
        QTest::qWait(300);

        SoundOutput::Options options;
        options.device = setting;
        options.gainDb = gainDb;
        SoundOutput output(options);
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
        QVERIFY(output.isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(!output.isOpen(), 10000); // closes by itself once played out
        QTest::qWait(300);
        e2e::stopProcess(parec);

        QFile recorded(file);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        const Heard heard = hear(samplesOf(recorded.readAll()));
        const double expectedLevel = rms(decoded) * std::pow(10, gainDb / 20);
        const auto c = output.counters();
        const QString got = QStringLiteral("%1 s at %2 Hz, level %3 of %4, hole %5 ms; underruns %6 gaps %7")
                                .arg(heard.seconds)
                                .arg(heard.hz)
                                .arg(heard.level)
                                .arg(expectedLevel)
                                .arg(heard.longestHoleMs)
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
        QVERIFY(e2e::writeFile(file, wav(pcm)));

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
        paplay.setProcessEnvironment(env_);
        paplay.start(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("mic"), file});
        QTRY_COMPARE_WITH_TIMEOUT(paplay.state(), QProcess::NotRunning, 10000);
        QCOMPARE(paplay.exitCode(), 0);
        QTest::qWait(300);
        const qint64 stoppedAt = clock.elapsed();
        mic.stop();
        QVERIFY(!mic.isCapturing());

        const Heard heard = hear(sent);
        const auto& c = mic.counters();
        const QString got = QStringLiteral("%1 s at %2 Hz, level %3; %4 blocks in %5 ms, %6 catch-ups, %7 empty ticks")
                                .arg(heard.seconds)
                                .arg(heard.hz)
                                .arg(heard.level)
                                .arg(times.size())
                                .arg(stoppedAt)
                                .arg(c.catchUps)
                                .arg(c.emptyTicks);
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
        station.setProcessEnvironment(env_);
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
        e2e::stopProcess(pulse_);
        SoundOutput output({});
        MicSource mic({});
        QStringList notices;
        connect(&output, &SoundOutput::notice, this, [&](const QString& line) { notices << line; });
        connect(&mic, &MicSource::notice, this, [&](const QString& line) { notices << line; });
        GsmCodec encoder;
        const QList<qint16> pcm = tone(1000, 8000, GsmCodec::BlockSamples);
        for (int i = 0; i < 3; ++i) {
            output.play(encoder.encodeBlock(pcm.constData()), quint16(i));
            mic.start();
            mic.stop();
        }
        QCOMPARE(output.counters().dropped, 3);
        QCOMPARE(output.counters().failures, 1); // tried once for the transmission
        QTest::qWait(400);                       // the next one tries again, without saying it again
        output.play(encoder.encodeBlock(pcm.constData()), 3);
        QCOMPARE(output.counters().failures, 2);
        QVERIFY(!output.isOpen() && !mic.isCapturing());
        QCOMPARE(notices.size(), 2);
        QVERIFY2(notices[0].contains(QLatin1String("output")) && notices[1].contains(QLatin1String("input")),
                 qPrintable(notices.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
