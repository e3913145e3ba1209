// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtVoice.h"

#include "DataRow.h"

#include <QtTest>

namespace {

// What the fake engines in QtVoice's worker threads do (knobs the test changes at any time: how many of the next
// calls fail, drop or hang, -1 for all) and what they were asked ("cutOff": a text handed over while the one before
// was still being spoken).
struct Backend {
    QMutex m;
    QSemaphore gate; // hung calls wait here
    QHash<QByteArray, int> k;
    QStringList said;
    SpeechEngine* speaking = nullptr; // until end(), unless "auto"

    template <typename F> auto locked(F f) {
        QMutexLocker lock(&m);
        return f();
    }
    void end(SpeechEngine::State state) {
        QMutexLocker lock(&m);
        if (SpeechEngine* engine = std::exchange(speaking, nullptr)) {
            emit engine->stateChanged(state, {});
        }
    }
    bool take(const char* knob) {
        int& count = k[knob];
        return count != 0 && ((count -= count > 0 ? 1 : 0), true);
    }
    void hangIf(const char* knob, QMutexLocker<QMutex>& lock) {
        if (take(knob)) {
            lock.unlock();
            gate.acquire();
            lock.relock();
        }
    }
};

class Engine : public SpeechEngine {
public:
    Engine(Backend& b, QString error) : b_(b), error_(std::move(error)) {}
    ~Engine() override {
        QMutexLocker lock(&b_.m);
        --b_.k["live"];
        b_.speaking = b_.speaking == this ? nullptr : b_.speaking;
    }
    QString startError() const override { return error_; }
    void say(const QString& text) override {
        QMutexLocker lock(&b_.m);
        b_.said << text;
        b_.k["cutOff"] += b_.speaking == this;
        b_.hangIf("hang", lock);
        if (b_.take("drop")) {
            emit stateChanged(State::Interrupted, {});
        } else if (text == QLatin1String("a") && b_.take("fails")) {
            emit stateChanged(State::Failed, QStringLiteral("fake engine failure"));
        } else {
            const int autoFinish = b_.k["auto"];
            b_.speaking = autoFinish ? nullptr : this;
            for (int i = b_.k["ready"] ? 0 : 1; i < (autoFinish ? 3 : 2); ++i) {
                emit stateChanged(QList{State::Ready, State::Speaking, State::Ready}[i], {});
            }
        }
    }
    void stop() override {
        QMutexLocker lock(&b_.m);
        ++b_.k["stops"];
        if (b_.speaking == this) {
            b_.speaking = nullptr;
            emit stateChanged(State::Interrupted, {});
        }
    }

private:
    Backend& b_;
    QString error_;
};

} // namespace

class QtVoiceTest : public QObject {
    Q_OBJECT
private slots:
    // Script steps: a word is spoken ("-word": refused, "_": the empty text, accepted); #N: N texts reached the
    // engine and no more come while it speaks; "." and "!": the engine ends or the server cuts off the text being
    // spoken; H/h: hold on/off; S: silence; K: a key press; A: the engine ends texts by itself from now on; ON: the
    // next N engines fail to start; PN, sN: pending texts, stops; wN: wait N ms; E:word: the last error mentions it.
    // A null "said": no voice at all.
    void queue_eachTextWholeOnceInOrder_data() {
        // setup: "name=number ..." for the fake engines' knobs and the limits; "fails" are of the text "a".
        columns<QString, QString, QString, int>("setup", "script", "said", "engines");
        row("engine says ready before speaking", "ready=1", "a _ b b P3 #1 . #2 . #3 .", "a b b", 1);
        row("held: the text goes on, the rest waits", "", "a #1 H b c . #1 P2 h #2 H . #2 P1 h #3 .", "a b c", 1);
        row("dropped three times, then fails: no attempt used up", "auto=1 drop=3 fails=1", "a b", "a a a a a b", 2);
        row("silenced while speaking", "pause=200", "a b c #1 S P0 s1 d #2 . w250", "a d", 1);
        row("silenced in the pause after a cut", "pause=200", "a b c #1 ! w50 S P0 s0 d #2 . w250", "a d", 1);
        row("key press: next waits for the pause", "key=400", "a b #1 K . w200 #1 s0 #2 .", "a b", 1);
        row("full queue refuses", "max=3", "a b c -d #1 . P2 d #2 . #3 . #4 .", "a b c d", 1);
        row("stalled text given up, fresh engine", "stall=50", "a #1 A b c P0 E:time", "a b c", 2);
        row("hung engine left, fresh one goes on", "auto=1 stall=50 hang=1", "a b", "a b", 2);
        row("text that always fails is given up", "auto=1 fails=-1", "a b P0 E:fake", "a a b", 3);
        row("engine down a while: order kept", "auto=1 fails=1", "O3 a b c P0 E:running", "a a b c", 5);
        row("engine cannot start", "opens=1", "E:running", QString(), 1);
        row("engine hangs while starting: its thread is left", "hangopen=1 open=50", "E:start", QString(), 1);
        row("no engine made", "null=1", "E:created", QString(), 0);
    }
    void queue_eachTextWholeOnceInOrder() {
        QFETCH(QString, setup);
        QFETCH(QString, script);
        QFETCH(QString, said);
        Backend b;
        for (const QString& knob : setup.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            b.k[knob.section(QLatin1Char('='), 0, 0).toLatin1()] = knob.section(QLatin1Char('='), 1).toInt();
        }
        const VoiceLimits limits{.stallBaseMs = b.k.value("stall", 60000),
                                 .stallPerCharMs = 0,
                                 .openTimeoutMs = b.k.value("open", 60000),
                                 .retryFirstMs = 1,
                                 .retryMaxMs = 20,
                                 .maxPending = b.k.value("max", 1000),
                                 .resumeAfterInterruptMs = b.k.value("pause", 20),
                                 .holdAfterKeyMs = b.k.value("key")};
        SpeechEngineFactory factory = [&b]() -> std::unique_ptr<SpeechEngine> {
            QMutexLocker lock(&b.m);
            ++b.k["made"];
            ++b.k["live"];
            const QString why = b.take("opens") ? QStringLiteral("server not running") : QString();
            b.hangIf("hangopen", lock);
            return std::make_unique<Engine>(b, why);
        };
        QString error;
        auto voice =
            QtVoice::create(b.k.value("null") ? SpeechEngineFactory([] { return nullptr; }) : factory, limits, &error);
        QVERIFY2(bool(voice) != said.isNull(), qPrintable(error));
        QString step;
        int n = 0;
        const QHash<QChar, std::function<void()>> steps{
            {u'#',
             [&] {
                 QVERIFY(QTest::qWaitFor([&] { return b.locked([&] { return b.said; }).size() == n; }) &&
                         !QTest::qWaitFor([&] { return b.locked([&] { return b.said; }).size() != n; }, 20));
             }},
            {u'P', [&] { QTRY_COMPARE(voice->pendingCount(), n); }},
            {u's', [&] { QTRY_COMPARE(b.locked([&] { return b.k["stops"]; }), n); }},
            {u'w', [&] { QTest::qWait(n); }},
            {u'.', [&] { b.end(SpeechEngine::State::Ready); }},
            {u'!', [&] { b.end(SpeechEngine::State::Interrupted); }},
            {u'H', [&] { voice->setHeld(true); }},
            {u'h', [&] { voice->setHeld(false); }},
            {u'S', [&] { voice->silence(); }},
            {u'K', [&] { QCoreApplication::sendEvent(voice.get(), std::make_unique<QEvent>(QEvent::KeyPress).get()); }},
            {u'A', [&] { b.locked([&] { b.k["auto"] = 1; }); }},
            {u'O', [&] { b.locked([&] { b.k["opens"] = n; }); }},
            {u'E', [&] { QVERIFY((voice ? voice->lastError() : error).contains(step.mid(2))); }},
            {u'-', [&] { QVERIFY(!voice->speak(step.mid(1))); }},
            {u'_', [&] { QVERIFY(voice->speak(QString())); }}};
        for (const QString& s : script.split(QLatin1Char(' '))) {
            step = s;
            n = step.mid(1).toInt();
            steps.value(step.at(0), [&] { QVERIFY(voice->speak(step)); })();
            QVERIFY2(!QTest::currentTestFailed(), qPrintable(step + QLatin1Char(' ') + error));
        }
        QTRY_VERIFY(!voice || voice->pendingCount() == 0);
        QCOMPARE(b.locked([&] { return b.said; }).join(QLatin1Char(' ')), said);
        QCOMPARE(b.locked([&] { return b.k["cutOff"]; }), 0);
        QTEST(b.locked([&] { return b.k["made"]; }), "engines");
        b.gate.release(1000);
        voice.reset();
        QTRY_COMPARE(b.locked([&] { return b.k["live"]; }), 0);
    }
};

QTEST_GUILESS_MAIN(QtVoiceTest)
#include "QtVoiceTest.moc"
