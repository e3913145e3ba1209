// SPDX-License-Identifier: GPL-3.0-or-later
// QtVoice with our speech-dispatcher engine against a private speech-dispatcher (see SpeechHarness.h): its file of
// spoken texts proves both order and completeness, with no sound card. Another client on the same server plays the
// screen reader.
#include "DataRow.h"
#include "QtVoice.h"
#include "SpeechHarness.h"
#include "SpeechdEngine.h"

#include <QtTest>

namespace {
constexpr int kSpeechTimeoutMs = 30000;

using e2e::PrivateSpeechServer;

// Short limits, so that a stalled text or an engine that does not start is given up within the test.
VoiceLimits quickLimits(int giveUpMs) {
    VoiceLimits limits;
    limits.stallBaseMs = giveUpMs;
    limits.stallPerCharMs = 0;
    limits.openTimeoutMs = giveUpMs;
    limits.retryFirstMs = 100;
    limits.retryMaxMs = 400;
    return limits;
}

std::unique_ptr<QtVoice> makeVoice(QString* error, const VoiceLimits& limits = VoiceLimits()) {
    return QtVoice::create(speechdEngineFactory(), limits, error);
}

} // namespace

class QtVoiceSpeechdTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void textsInQuickSuccession_allSpokenWholeAndInOrder();
    void serverKilledMidSentence_laterTextsSpokenOnceItIsBack();
    void serverFrozen_windowKeepsRunning_andSpeechGoesOnAfterwards();
    void serverFrozen_voiceCanBeDestroyedWithoutWaitingForIt();
    void noServer_createFailsWithReason();
    void screenReaderSpeaks_itIsNeverCancelled_oursHeardWholeAfterIt_data();
    void screenReaderSpeaks_itIsNeverCancelled_oursHeardWholeAfterIt();
    void ourStartSilenceOrExit_neverCancelsScreenReader_data();
    void ourStartSilenceOrExit_neverCancelsScreenReader();

private:
    void startServer(double secondsPerText);
    std::unique_ptr<e2e::PrivateSpeechServer> server_;
};

void QtVoiceSpeechdTest::init() {
    startServer(0.3);
}

void QtVoiceSpeechdTest::startServer(double secondsPerText) {
    server_ = std::make_unique<e2e::PrivateSpeechServer>(secondsPerText);
    const QString problem = server_->start();
    if (!problem.isEmpty()) {
        server_.reset();
        QSKIP(qPrintable(QStringLiteral("no private speech server: ") + problem));
    }
    // The client library reads both: the address of our server, and a configuration that forbids
    // starting a server of its own when ours is down.
    qputenv("SPEECHD_ADDRESS", server_->address().toUtf8());
    qputenv("XDG_CONFIG_HOME", server_->configHome().toUtf8());
}

void QtVoiceSpeechdTest::cleanup() {
    server_.reset();
}

void QtVoiceSpeechdTest::textsInQuickSuccession_allSpokenWholeAndInOrder() {
    QString error;
    auto voice = makeVoice(&error);
    QVERIFY2(voice, qPrintable(error));

    const QStringList texts{QStringLiteral("Message from  N0CALL hello there"),
                            QStringLiteral("N 0 C A L L dash L connected"),
                            QStringLiteral("The time is 12 00"),
                            QStringLiteral("The time is 12 00"),
                            QStringLiteral("it's 73; see you = \"later\" $HOME"),
                            QStringLiteral("Grüße aus DL0ABC")};
    for (const QString& text : texts) {
        QVERIFY(voice->speak(text));
    }
    QTRY_COMPARE_WITH_TIMEOUT(server_->spoken().size(), texts.size(), kSpeechTimeoutMs);
    QCOMPARE(server_->spoken(), texts);
    QCOMPARE(server_->started(), texts);
    QTRY_COMPARE(voice->pendingCount(), 0);
}

void QtVoiceSpeechdTest::serverKilledMidSentence_laterTextsSpokenOnceItIsBack() {
    // An engine made while the server starts up again may be left without an answer; the next one is not.
    const VoiceLimits limits = quickLimits(2000);
    QString error;
    auto voice = makeVoice(&error, limits);
    QVERIFY2(voice, qPrintable(error));

    QVERIFY(voice->speak(QStringLiteral("before")));
    QVERIFY(voice->speak(QStringLiteral("this one goes slowly")));
    QTRY_COMPARE_WITH_TIMEOUT(server_->started().size(), 2, kSpeechTimeoutMs);
    server_->stopSpeechd();

    QVERIFY(voice->speak(QStringLiteral("after the crash")));
    QVERIFY(voice->speak(QStringLiteral("and once more")));
    QTRY_VERIFY_WITH_TIMEOUT(!voice->lastError().isEmpty(), kSpeechTimeoutMs);
    const QString problem = server_->startSpeechd();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    const QStringList expected{QStringLiteral("before"), QStringLiteral("after the crash"),
                               QStringLiteral("and once more")};
    QTRY_COMPARE_WITH_TIMEOUT(server_->spoken(), expected, kSpeechTimeoutMs);
    QTRY_COMPARE(voice->pendingCount(), 0);
}

void QtVoiceSpeechdTest::serverFrozen_windowKeepsRunning_andSpeechGoesOnAfterwards() {
    const VoiceLimits limits = quickLimits(1500);
    QString error;
    auto voice = makeVoice(&error, limits);
    QVERIFY2(voice, qPrintable(error));
    QVERIFY(voice->speak(QStringLiteral("before the freeze")));
    QTRY_COMPARE_WITH_TIMEOUT(server_->spoken().size(), 1, kSpeechTimeoutMs);

    // A stopped server answers nothing: every call into it blocks. The event loop of this thread has to go on
    // regardless, or the waits below could not even run.
    server_->signalSpeechd(SIGSTOP);
    QVERIFY(voice->speak(QStringLiteral("while frozen")));
    QTRY_VERIFY_WITH_TIMEOUT(!voice->lastError().isEmpty(), kSpeechTimeoutMs);
    server_->signalSpeechd(SIGCONT);
    QVERIFY(voice->speak(QStringLiteral("after the thaw")));

    QTRY_VERIFY_WITH_TIMEOUT(server_->spoken().contains(QStringLiteral("after the thaw")), kSpeechTimeoutMs);
    const QStringList spoken = server_->spoken();
    QCOMPARE(spoken.first(), QStringLiteral("before the freeze"));
    QCOMPARE(spoken.count(QStringLiteral("after the thaw")), 1);
    // The text handed over during the freeze may be heard late or not at all, but never in pieces.
    for (const QString& line : spoken) {
        QVERIFY2(QStringList({QStringLiteral("before the freeze"), QStringLiteral("while frozen"),
                              QStringLiteral("after the thaw")})
                     .contains(line),
                 qPrintable(line));
    }
}

// As when the program ends while the server is frozen: the threads stuck in it are left behind, and neither
// the destructor nor the event loop afterwards waits for them.
void QtVoiceSpeechdTest::serverFrozen_voiceCanBeDestroyedWithoutWaitingForIt() {
    const VoiceLimits limits = quickLimits(1000);
    QString error;
    auto voice = makeVoice(&error, limits);
    QVERIFY2(voice, qPrintable(error));
    server_->signalSpeechd(SIGSTOP);
    QVERIFY(voice->speak(QStringLiteral("into the frozen server")));
    QTRY_VERIFY_WITH_TIMEOUT(!voice->lastError().isEmpty(), kSpeechTimeoutMs);
    QTest::qWait(1500); // a fresh engine is stuck opening by now as well
    voice.reset();
    QTest::qWait(100);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The threads left behind come loose now and end by themselves.
    server_->signalSpeechd(SIGCONT);
    QTest::qWait(500);
}

void QtVoiceSpeechdTest::noServer_createFailsWithReason() {
    server_->stopSpeechd();
    QString error;
    QVERIFY(!makeVoice(&error));
    QVERIFY2(error.contains(QStringLiteral("speech-dispatcher")), qPrintable(error));
}

// A screen reader's text cuts ours off or comes before it; ours are heard whole afterwards, in order, and the
// reader's are heard to their end.
void QtVoiceSpeechdTest::screenReaderSpeaks_itIsNeverCancelled_oursHeardWholeAfterIt_data() {
    QTest::addColumn<QStringList>("reader");
    QTest::addColumn<bool>("readerFirst");
    row("over our first text", QStringList{QStringLiteral("reader one")}, false);
    row("twice over our first text", QStringList{QStringLiteral("reader one"), QStringLiteral("reader two")}, false);
    row("before ours begin", QStringList{QStringLiteral("reader one")}, true);
}
void QtVoiceSpeechdTest::screenReaderSpeaks_itIsNeverCancelled_oursHeardWholeAfterIt() {
    QFETCH(QStringList, reader);
    QFETCH(bool, readerFirst);
    startServer(1.0); // long enough to speak over a text for sure
    e2e::OtherSpeechClient screenReader;
    const QString problem = screenReader.connectTo(*server_);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QString error;
    auto voice = makeVoice(&error);
    QVERIFY2(voice, qPrintable(error));

    const QStringList ours{QStringLiteral("ours one"), QStringLiteral("ours two")};
    if (readerFirst) {
        QVERIFY(screenReader.say(reader.first()));
        QTRY_COMPARE_WITH_TIMEOUT(server_->started(), QStringList{reader.first()}, kSpeechTimeoutMs);
    }
    for (const QString& text : ours) {
        QVERIFY(voice->speak(text));
    }
    if (!readerFirst) {
        QTRY_COMPARE_WITH_TIMEOUT(server_->started(), QStringList{ours.first()}, kSpeechTimeoutMs);
        for (const QString& text : reader) {
            QVERIFY(screenReader.say(text));
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(server_->spoken().size(), reader.size() + ours.size(), kSpeechTimeoutMs);
    QCOMPARE(server_->spoken(), reader + ours);
    QTRY_COMPARE(voice->pendingCount(), 0);
    QCOMPARE(screenReader.ended(), reader.size());
    QCOMPARE(screenReader.cancelled(), 0);
}

// While the screen reader speaks, our voice starts, is silenced with texts waiting, or ends with texts waiting: the
// reader's text is heard to its end all the same. Silenced texts of ours are never heard; at the end, the one
// already with the server is still said whole, the rest never.
void QtVoiceSpeechdTest::ourStartSilenceOrExit_neverCancelsScreenReader_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("heard");
    row("start", "start", QStringList{QStringLiteral("reader")});
    row("silence", "silence", QStringList{QStringLiteral("reader")});
    row("exit", "exit", QStringList{QStringLiteral("reader"), QStringLiteral("ours one")});
}
void QtVoiceSpeechdTest::ourStartSilenceOrExit_neverCancelsScreenReader() {
    QFETCH(QString, action);
    QFETCH(QStringList, heard);
    startServer(1.0);
    e2e::OtherSpeechClient screenReader;
    const QString problem = screenReader.connectTo(*server_);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(screenReader.say(QStringLiteral("reader")));
    QTRY_COMPARE_WITH_TIMEOUT(server_->started(), QStringList{QStringLiteral("reader")}, kSpeechTimeoutMs);

    QString error;
    auto voice = makeVoice(&error);
    QVERIFY2(voice, qPrintable(error));
    if (action != QLatin1String("start")) {
        QVERIFY(voice->speak(QStringLiteral("ours one")));
        QVERIFY(voice->speak(QStringLiteral("ours two")));
        QTest::qWait(200); // the first is with the server, waiting for the reader
    }
    if (action == QLatin1String("silence")) {
        voice->silence();
        QCOMPARE(voice->pendingCount(), 0);
    } else if (action == QLatin1String("exit")) {
        voice.reset();
    }
    QTRY_COMPARE_WITH_TIMEOUT(screenReader.ended(), 1, kSpeechTimeoutMs);
    QCOMPARE(screenReader.cancelled(), 0);
    QTest::qWait(1500); // time enough for a text of ours that was wrongly kept
    QTRY_COMPARE_WITH_TIMEOUT(server_->spoken(), heard, kSpeechTimeoutMs);
    if (voice) {
        QVERIFY(voice->speak(QStringLiteral("ours after")));
        heard << QStringLiteral("ours after");
        QTRY_COMPARE_WITH_TIMEOUT(server_->spoken(), heard, kSpeechTimeoutMs);
    }
}

QTEST_GUILESS_MAIN(QtVoiceSpeechdTest)
#include "QtVoiceSpeechdTest.moc"
