// SPDX-License-Identifier: GPL-3.0-or-later
// The queue of QtVoice against a fake engine: order, no cut-off, stalls, failures and recovery.
#include "QtVoice.h"

#include "DataRow.h"
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
    limits.resumeAfterInterruptMs = 20;
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
    void textsInQuickSuccession_spokenInOrderEachAfterThePreviousEnded_data() {
        QTest::addColumn<bool>("readyBeforeSpeaking");
        QTest::newRow("plain engine") << false;
        // Some engines report "ready" before they start speaking; that does not end the text.
        QTest::newRow("engine says ready first") << true;
    }
    void textsInQuickSuccession_spokenInOrderEachAfterThePreviousEnded() {
        QFETCH(bool, readyBeforeSpeaking);
        FakeSpeechBackend backend;
        backend.setMode(FakeSpeechBackend::Mode::Manual);
        backend.setReadyBeforeSpeaking(readyBeforeSpeaking);
        auto voice = startVoice(backend);
        QVERIFY(voice);

        QVERIFY(voice->speak(QStringLiteral("N0CALL connected")));
        QVERIFY(voice->speak(QString())); // nothing to say: accepted, never reaches the engine
        QVERIFY(voice->speak(QStringLiteral("The time is 12 00")));
        QVERIFY(voice->speak(QStringLiteral("The time is 12 00")));
        QCOMPARE(voice->pendingCount(), 3);
        for (int spoken = 1; spoken <= 3; ++spoken) {
            QTRY_COMPARE(backend.said().size(), spoken); // the next text waits for the end of this one
            QTest::qWait(5);
            QCOMPARE(backend.said().size(), spoken);
            backend.finishCurrent();
        }
        QTRY_COMPARE(voice->pendingCount(), 0);
        QCOMPARE(backend.said(), (QStringList{QStringLiteral("N0CALL connected"), QStringLiteral("The time is 12 00"),
                                              QStringLiteral("The time is 12 00")}));
        QVERIFY(!backend.cutOff());
        QCOMPARE(backend.enginesMade(), 1);
    }

    // The text being spoken ends; the others wait in order until the hold is lifted, however often it comes.
    void held_textBeingSpokenEnds_restWaitInOrderUntilReleased() {
        FakeSpeechBackend backend;
        backend.setMode(FakeSpeechBackend::Mode::Manual);
        auto voice = startVoice(backend);
        QVERIFY(voice);

        QVERIFY(voice->speak(QStringLiteral("one")));
        QTRY_COMPARE(backend.said().size(), 1);
        voice->setHeld(true);
        QVERIFY(voice->speak(QStringLiteral("two")));
        QVERIFY(voice->speak(QStringLiteral("three")));
        for (int said = 1; said <= 2; ++said) {
            backend.finishCurrent();
            QTRY_COMPARE(voice->pendingCount(), 3 - said);
            QTest::qWait(20);
            QCOMPARE(backend.said().size(), said);
            voice->setHeld(false);
            QTRY_COMPARE(backend.said().size(), said + 1);
            voice->setHeld(true);
        }
        backend.finishCurrent();
        QTRY_COMPARE(voice->pendingCount(), 0);
        QCOMPARE(backend.said(), (QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}));
        QVERIFY(!backend.cutOff());
    }

    // A text whose engine fails under it goes first again, but not before the hold is lifted.
    void held_failedTextWaitsForRelease() {
        FakeSpeechBackend backend;
        backend.failSays(QStringLiteral("one"), 1);
        auto voice = startVoice(backend);
        QVERIFY(voice);

        QVERIFY(voice->speak(QStringLiteral("one")));
        voice->setHeld(true);
        QVERIFY(voice->speak(QStringLiteral("two")));
        QTRY_COMPARE(backend.enginesMade(), 2);
        QTest::qWait(20);
        QCOMPARE(backend.said(), QStringList{QStringLiteral("one")});
        voice->setHeld(false);
        QTRY_COMPARE(voice->pendingCount(), 0);
        QCOMPARE(backend.said(), (QStringList{QStringLiteral("one"), QStringLiteral("one"), QStringLiteral("two")}));
    }

    // Another program spoke over our text: it is said again, whole, before the texts behind it, however often
    // that happens, and not while the voice is held.
    void serverCutsOffOrDropsText_spokenAgainWholeBeforeLaterOnes_data() {
        QTest::addColumn<QString>("how");
        row("cut off part-way", "cut");
        row("dropped three times before it began", "drop");
        row("cut off while held: waits for the release", "held");
    }
    void serverCutsOffOrDropsText_spokenAgainWholeBeforeLaterOnes() {
        QFETCH(QString, how);
        FakeSpeechBackend backend;
        backend.setMode(FakeSpeechBackend::Mode::Manual);
        auto voice = startVoice(backend);
        QVERIFY(voice);
        const int drops = how == QLatin1String("drop") ? 3 : 0;
        backend.dropNextSays(drops);

        QVERIFY(voice->speak(QStringLiteral("a")));
        QVERIFY(voice->speak(QStringLiteral("b")));
        QTRY_COMPARE(backend.said().size(), 1 + drops);
        if (how != QLatin1String("drop")) {
            voice->setHeld(how == QLatin1String("held"));
            backend.interruptCurrent();
            QTest::qWait(60);
            QCOMPARE(backend.said().size(), how == QLatin1String("held") ? 1 : 2);
            voice->setHeld(false);
        }
        const int timesA = drops > 0 ? drops + 1 : 2; // the last one is heard whole
        QTRY_COMPARE(backend.said().size(), timesA);
        backend.finishCurrent();
        QTRY_COMPARE(backend.said().size(), timesA + 1);
        backend.finishCurrent();
        QTRY_COMPARE(voice->pendingCount(), 0);
        QStringList expected(backend.said().size() - 1, QStringLiteral("a"));
        QCOMPARE(backend.said(), expected << QStringLiteral("b"));
        QCOMPARE(backend.enginesMade(), 1);
        QVERIFY(!backend.cutOff());
    }

    // silence() stops our text at once and drops the rest; a text spoken afterwards is said, and nothing of the
    // old queue comes back, not even the stopped text reported as interrupted.
    void silence_stopsOwnTextDropsQueue_laterTextSpoken_data() {
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("stops");
        row("while speaking", "speaking", 1);
        row("while held", "held", 1);
        row("in the pause after an interruption", "pause", 0);
    }
    void silence_stopsOwnTextDropsQueue_laterTextSpoken() {
        QFETCH(QString, when);
        QFETCH(int, stops);
        FakeSpeechBackend backend;
        backend.setMode(FakeSpeechBackend::Mode::Manual);
        VoiceLimits limits = quickLimits();
        limits.resumeAfterInterruptMs = 200;
        auto voice = startVoice(backend, limits);
        QVERIFY(voice);
        for (const char* text : {"a", "b", "c"}) {
            QVERIFY(voice->speak(QString::fromLatin1(text)));
        }
        QTRY_COMPARE(backend.said().size(), 1);
        voice->setHeld(when == QLatin1String("held"));
        if (when == QLatin1String("pause")) {
            backend.interruptCurrent();
            QTest::qWait(50); // well within the pause
        }

        voice->silence();
        QCOMPARE(voice->pendingCount(), 0);
        QTRY_COMPARE(backend.stops(), stops);
        QVERIFY(voice->speak(QStringLiteral("d")));
        voice->setHeld(false);
        QTRY_COMPARE(backend.said().size(), 2);
        backend.finishCurrent();
        QTRY_COMPARE(voice->pendingCount(), 0);
        QTest::qWait(250);
        QCOMPARE(backend.said(), (QStringList{QStringLiteral("a"), QStringLiteral("d")}));
    }

    // A key pressed in our window: the text being spoken goes on, the next waits for the pause after the key, in
    // which a screen reader answers it.
    void keyPress_currentTextGoesOn_nextWaitsForPauseAfterKey() {
        FakeSpeechBackend backend;
        backend.setMode(FakeSpeechBackend::Mode::Manual);
        VoiceLimits limits = quickLimits();
        limits.holdAfterKeyMs = 400;
        auto voice = startVoice(backend, limits);
        QVERIFY(voice);
        QVERIFY(voice->speak(QStringLiteral("a")));
        QVERIFY(voice->speak(QStringLiteral("b")));
        QTRY_COMPARE(backend.said().size(), 1);

        QObject window;
        QEvent press(QEvent::KeyPress); // application-wide: the voice watches every object's events
        QCoreApplication::sendEvent(&window, &press);
        backend.finishCurrent();
        QTest::qWait(200);
        QCOMPARE(backend.said(), QStringList{QStringLiteral("a")});
        QCOMPARE(backend.stops(), 0);
        QTRY_COMPARE(backend.said(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    }

    void fullQueue_speakRefusesFurtherTexts() {
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

    void engineNeverFinishes_textGivenUpAndFreshEngineSpeaksTheRest() {
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
        QCOMPARE(backend.said(), (QStringList{QStringLiteral("never ends"), QStringLiteral("after the stall"),
                                              QStringLiteral("and one more")}));
        QCOMPARE(backend.enginesMade(), 2);
        QVERIFY(!voice->lastError().isEmpty());
    }

    void hungEngine_speakReturnsAndQueueGoesOnWithFreshEngine() {
        FakeSpeechBackend backend;
        VoiceLimits limits = quickLimits();
        limits.stallBaseMs = 50;
        auto voice = startVoice(backend, limits);
        QVERIFY(voice);

        backend.hangNextSays(1);
        QVERIFY(voice->speak(QStringLiteral("server hangs here")));
        QVERIFY(voice->speak(QStringLiteral("spoken by the next engine")));
        QTRY_COMPARE(voice->pendingCount(), 0);
        QCOMPARE(backend.said(),
                 (QStringList{QStringLiteral("server hangs here"), QStringLiteral("spoken by the next engine")}));

        // The abandoned engine cleans up once its call returns.
        backend.release();
        voice.reset();
        QTRY_COMPARE(backend.liveEngines(), 0);
    }

    void failingText_retriedOnceOnFreshEngine_thenTheRestIsSpoken_data() {
        QTest::addColumn<int>("failures");
        QTest::newRow("engine fails once") << 1;
        QTest::newRow("text fails every time") << -1;
    }
    void failingText_retriedOnceOnFreshEngine_thenTheRestIsSpoken() {
        QFETCH(int, failures);
        FakeSpeechBackend backend;
        auto voice = startVoice(backend);
        QVERIFY(voice);
        backend.failSays(QStringLiteral("server died"), failures);
        voice->speak(QStringLiteral("server died"));
        voice->speak(QStringLiteral("next"));
        QTRY_COMPARE(voice->pendingCount(), 0);
        QCOMPARE(backend.said(),
                 (QStringList{QStringLiteral("server died"), QStringLiteral("server died"), QStringLiteral("next")}));
        if (failures == 1) {
            QCOMPARE(backend.enginesMade(), 2);
        }
        QVERIFY(voice->lastError().contains(QStringLiteral("fake engine failure")));
    }

    void engineCannotRestartForAWhile_textsWaitAndKeepTheirOrder() {
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
        QCOMPARE(backend.said(),
                 (QStringList{QStringLiteral("a"), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        QCOMPARE(backend.enginesMade(), 5);
        QCOMPARE(failures.count(), 4);
        QCOMPARE(failures.at(1).at(0).toString(), QStringLiteral("server not running"));
    }

    void create_engineFailsOrIsNotMade_returnsNullWithReason() {
        FakeSpeechBackend backend;
        backend.failNextOpens(1, QStringLiteral("Connection to speech-dispatcher failed"));
        QString error;
        QVERIFY(!QtVoice::create(backend.factory(), quickLimits(), &error));
        QCOMPARE(error, QStringLiteral("Connection to speech-dispatcher failed"));
        QTRY_COMPARE(backend.liveEngines(), 0);
        error.clear();
        QVERIFY(!QtVoice::create([] { return std::unique_ptr<SpeechEngine>(); }, quickLimits(), &error));
        QVERIFY(!error.isEmpty());
    }

    void create_engineHangsWhileStarting_returnsNullAfterTimeout() {
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
};

QTEST_GUILESS_MAIN(QtVoiceTest)
#include "QtVoiceTest.moc"
