// SPDX-License-Identifier: GPL-3.0-or-later
// The queue of QtVoice against a fake engine: order, no cut-off, stalls, failures and recovery.
#include "QtVoice.h"

#include "FakeSpeechEngine.h"

#include <QtTest>

namespace {

VoiceLimits quickLimits() {
    VoiceLimits limits;
    limits.stallBaseMs = 60000;
    limits.stallPerCharMs = 0;
    limits.openTimeoutMs = 60000;
    limits.retryFirstMs = 1;
    limits.retryMaxMs = 20;
    return limits;
}

std::unique_ptr<QtVoice> startVoice(FakeSpeechBackend& backend, const VoiceLimits& limits = quickLimits()) {
    QString error;
    auto voice = QtVoice::create(backend.factory(), limits, &error);
    if (!voice) {
        qWarning("voice did not start: %s", qUtf8Printable(error));
    }
    return voice;
}

} // namespace

class QtVoiceTest : public QObject {
    Q_OBJECT
private slots:
    void textsInQuickSuccession_spokenInOrderEachAfterThePreviousEnded();
    void readyBeforeSpeaking_doesNotEndTheText();
    void fullQueue_speakRefusesFurtherTexts();
    void engineNeverFinishes_textGivenUpAndFreshEngineSpeaksTheRest();
    void hungEngine_speakReturnsAndQueueGoesOnWithFreshEngine();
    void engineFailsUnderText_textRetriedOnFreshEngine();
    void textFailingEveryTime_givenUpAfterSecondTry();
    void engineCannotRestartForAWhile_textsWaitAndKeepTheirOrder();
    void create_engineReportsErrorAtOnce_returnsNullWithReason();
    void create_noEngineMade_returnsNullWithReason();
    void create_engineHangsWhileStarting_returnsNullAfterTimeout();
};

void QtVoiceTest::textsInQuickSuccession_spokenInOrderEachAfterThePreviousEnded() {
    FakeSpeechBackend backend;
    backend.setMode(FakeSpeechBackend::Mode::Manual);
    auto voice = startVoice(backend);
    QVERIFY(voice);

    QVERIFY(voice->speak(QStringLiteral("N0CALL connected")));
    QVERIFY(voice->speak(QString())); // nothing to say: accepted, never reaches the engine
    QVERIFY(voice->speak(QStringLiteral("The time is 12 00")));
    QVERIFY(voice->speak(QStringLiteral("The time is 12 00")));
    QCOMPARE(voice->pendingCount(), 3);

    QTRY_COMPARE(backend.said(), QStringList{QStringLiteral("N0CALL connected")});
    backend.finishCurrent();
    QTRY_COMPARE(backend.said().size(), 2);
    backend.finishCurrent();
    QTRY_COMPARE(backend.said().size(), 3);
    backend.finishCurrent();
    QTRY_COMPARE(voice->pendingCount(), 0);

    const QStringList expected{QStringLiteral("N0CALL connected"), QStringLiteral("The time is 12 00"),
                               QStringLiteral("The time is 12 00")};
    QCOMPARE(backend.said(), expected);
    QVERIFY(!backend.cutOff());
    QCOMPARE(backend.enginesMade(), 1);
}

void QtVoiceTest::readyBeforeSpeaking_doesNotEndTheText() {
    FakeSpeechBackend backend;
    backend.setMode(FakeSpeechBackend::Mode::Manual);
    backend.setReadyBeforeSpeaking(true);
    auto voice = startVoice(backend);
    QVERIFY(voice);

    voice->speak(QStringLiteral("first"));
    voice->speak(QStringLiteral("second"));
    QTRY_COMPARE(backend.said().size(), 1);
    backend.finishCurrent();
    QTRY_COMPARE(backend.said().size(), 2);
    backend.finishCurrent();
    QTRY_COMPARE(voice->pendingCount(), 0);
    QVERIFY(!backend.cutOff());
}

void QtVoiceTest::fullQueue_speakRefusesFurtherTexts() {
    FakeSpeechBackend backend;
    backend.setMode(FakeSpeechBackend::Mode::Manual);
    VoiceLimits limits = quickLimits();
    limits.maxPending = 3;
    auto voice = startVoice(backend, limits);
    QVERIFY(voice);

    QVERIFY(voice->speak(QStringLiteral("one")));
    QVERIFY(voice->speak(QStringLiteral("two")));
    QVERIFY(voice->speak(QStringLiteral("three")));
    QVERIFY(!voice->speak(QStringLiteral("four")));
    QTRY_COMPARE(backend.said().size(), 1);
    backend.finishCurrent();
    QTRY_COMPARE(voice->pendingCount(), 2);
    QVERIFY(voice->speak(QStringLiteral("four")));
}

void QtVoiceTest::engineNeverFinishes_textGivenUpAndFreshEngineSpeaksTheRest() {
    FakeSpeechBackend backend;
    backend.setMode(FakeSpeechBackend::Mode::Manual);
    VoiceLimits limits = quickLimits();
    limits.stallBaseMs = 50;
    auto voice = startVoice(backend, limits);
    QVERIFY(voice);

    voice->speak(QStringLiteral("never ends"));
    QTRY_COMPARE(backend.said().size(), 1);
    backend.setMode(FakeSpeechBackend::Mode::AutoFinish);
    voice->speak(QStringLiteral("after the stall"));
    voice->speak(QStringLiteral("and one more"));

    QTRY_COMPARE(voice->pendingCount(), 0);
    const QStringList expected{QStringLiteral("never ends"), QStringLiteral("after the stall"),
                               QStringLiteral("and one more")};
    QCOMPARE(backend.said(), expected);
    QCOMPARE(backend.enginesMade(), 2);
    QVERIFY(!voice->lastError().isEmpty());
}

void QtVoiceTest::hungEngine_speakReturnsAndQueueGoesOnWithFreshEngine() {
    FakeSpeechBackend backend;
    VoiceLimits limits = quickLimits();
    limits.stallBaseMs = 50;
    auto voice = startVoice(backend, limits);
    QVERIFY(voice);

    backend.hangNextSays(1);
    QVERIFY(voice->speak(QStringLiteral("server hangs here")));
    QVERIFY(voice->speak(QStringLiteral("spoken by the next engine")));
    QTRY_COMPARE(voice->pendingCount(), 0);
    const QStringList expected{QStringLiteral("server hangs here"), QStringLiteral("spoken by the next engine")};
    QCOMPARE(backend.said(), expected);

    // The abandoned engine cleans up once its call returns.
    backend.release();
    voice.reset();
    QTRY_COMPARE(backend.liveEngines(), 0);
}

void QtVoiceTest::engineFailsUnderText_textRetriedOnFreshEngine() {
    FakeSpeechBackend backend;
    auto voice = startVoice(backend);
    QVERIFY(voice);

    backend.failSays(QStringLiteral("server died"), 1);
    voice->speak(QStringLiteral("server died"));
    voice->speak(QStringLiteral("next"));
    QTRY_COMPARE(voice->pendingCount(), 0);
    const QStringList expected{QStringLiteral("server died"), QStringLiteral("server died"), QStringLiteral("next")};
    QCOMPARE(backend.said(), expected);
    QCOMPARE(backend.enginesMade(), 2);
    QVERIFY(voice->lastError().contains(QStringLiteral("fake engine failure")));
}

void QtVoiceTest::textFailingEveryTime_givenUpAfterSecondTry() {
    FakeSpeechBackend backend;
    auto voice = startVoice(backend);
    QVERIFY(voice);

    backend.failSays(QStringLiteral("poison"), -1);
    voice->speak(QStringLiteral("poison"));
    voice->speak(QStringLiteral("still spoken"));
    QTRY_COMPARE(voice->pendingCount(), 0);
    const QStringList expected{QStringLiteral("poison"), QStringLiteral("poison"), QStringLiteral("still spoken")};
    QCOMPARE(backend.said(), expected);
}

void QtVoiceTest::engineCannotRestartForAWhile_textsWaitAndKeepTheirOrder() {
    FakeSpeechBackend backend;
    auto voice = startVoice(backend);
    QVERIFY(voice);

    QSignalSpy failures(voice.get(), &QtVoice::engineFailed);
    backend.failSays(QStringLiteral("a"), 1);
    backend.failNextOpens(3, QStringLiteral("server not running"));
    QVERIFY(voice->speak(QStringLiteral("a")));
    QVERIFY(voice->speak(QStringLiteral("b")));
    QVERIFY(voice->speak(QStringLiteral("c")));

    QTRY_COMPARE(voice->pendingCount(), 0);
    const QStringList expected{QStringLiteral("a"), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QCOMPARE(backend.said(), expected);
    QCOMPARE(backend.enginesMade(), 5);
    QCOMPARE(failures.count(), 4);
    QCOMPARE(failures.at(1).at(0).toString(), QStringLiteral("server not running"));
}

void QtVoiceTest::create_engineReportsErrorAtOnce_returnsNullWithReason() {
    FakeSpeechBackend backend;
    backend.failNextOpens(1, QStringLiteral("Connection to speech-dispatcher failed"));
    QString error;
    QVERIFY(!QtVoice::create(backend.factory(), quickLimits(), &error));
    QCOMPARE(error, QStringLiteral("Connection to speech-dispatcher failed"));
    QTRY_COMPARE(backend.liveEngines(), 0);
}

void QtVoiceTest::create_noEngineMade_returnsNullWithReason() {
    QString error;
    QVERIFY(!QtVoice::create([] { return std::unique_ptr<SpeechEngine>(); }, quickLimits(), &error));
    QVERIFY(!error.isEmpty());
}

void QtVoiceTest::create_engineHangsWhileStarting_returnsNullAfterTimeout() {
    FakeSpeechBackend backend;
    backend.hangNextOpens(1);
    VoiceLimits limits = quickLimits();
    limits.openTimeoutMs = 50;
    QString error;
    QVERIFY(!QtVoice::create(backend.factory(), limits, &error));
    QVERIFY2(error.contains(QStringLiteral("did not start")), qPrintable(error));
    backend.release();
    QTRY_COMPARE(backend.liveEngines(), 0);
}

QTEST_GUILESS_MAIN(QtVoiceTest)
#include "QtVoiceTest.moc"
