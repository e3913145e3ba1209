// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtVoice.h"

#include "DataRow.h"

#include <QMutex>
#include <QSemaphore>
#include <QtTest>

namespace {

// What the fake engines in QtVoice's worker threads do, and what they were asked; the test changes it at any time.
struct Backend {
    QMutex m;
    QSemaphore gate; // hung calls wait here
    int autoFinish = 0, readyFirst = 0, drops = 0, openFails = 0, sayHangs = 0, openHangs = 0, textFails = 0;
    QStringList said_;
    SpeechEngine* speaking = nullptr; // until end(), unless autoFinish
    int made = 0, live = 0, stops = 0;
    int cutOff = 0; // a text handed over while the one before was still being spoken

    int count(int Backend::*field) {
        QMutexLocker lock(&m);
        return this->*field;
    }
    void set(int Backend::*field, int value) {
        QMutexLocker lock(&m);
        this->*field = value;
    }
    QStringList said() {
        QMutexLocker lock(&m);
        return said_;
    }
    void end(SpeechEngine::State state) {
        QMutexLocker lock(&m);
        if (SpeechEngine* engine = std::exchange(speaking, nullptr)) {
            emit engine->stateChanged(state, {});
        }
    }
    static bool take(int& count) { return count != 0 && ((count -= count > 0 ? 1 : 0), true); } // -1: always
    void hang(QMutexLocker<QMutex>& lock) {
        lock.unlock();
        gate.acquire();
        lock.relock();
    }
};

class Engine : public SpeechEngine {
public:
    Engine(Backend& b, QString error) : b_(b), error_(std::move(error)) {}
    ~Engine() override {
        QMutexLocker lock(&b_.m);
        --b_.live;
        b_.speaking = b_.speaking == this ? nullptr : b_.speaking;
    }
    QString startError() const override { return error_; }
    void say(const QString& text) override {
        QMutexLocker lock(&b_.m);
        b_.said_ << text;
        b_.cutOff += b_.speaking == this;
        if (Backend::take(b_.sayHangs)) {
            b_.hang(lock);
        }
        if (text == QLatin1String("a") && Backend::take(b_.textFails)) {
            emit stateChanged(State::Failed, QStringLiteral("fake engine failure"));
        } else if (Backend::take(b_.drops)) {
            emit stateChanged(State::Interrupted, {});
        } else {
            b_.speaking = b_.autoFinish ? nullptr : this;
            for (int i = b_.readyFirst ? 0 : 1; i < (b_.autoFinish ? 3 : 2); ++i) { // readyFirst: as some engines do
                emit stateChanged(QList{State::Ready, State::Speaking, State::Ready}[i], {});
            }
        }
    }
    void stop() override {
        QMutexLocker lock(&b_.m);
        ++b_.stops;
        if (b_.speaking == this) {
            b_.speaking = nullptr;
            emit stateChanged(State::Interrupted, {});
        }
    }

private:
    Backend& b_;
    QString error_;
};

// setup: "name=number ..." for the limits and the backend's knobs; "fails" are of the text "a".
std::unique_ptr<QtVoice> start(Backend& b, const QString& setup, QString* error) {
    VoiceLimits l;
    l.stallBaseMs = l.openTimeoutMs = 60000;
    l.stallPerCharMs = 0;
    l.retryFirstMs = 1;
    l.retryMaxMs = l.resumeAfterInterruptMs = 20;
    int noEngine = 0;
    const std::pair<const char*, int*> knobs[] = {{"auto", &b.autoFinish},    {"ready", &b.readyFirst},
                                                  {"drop", &b.drops},         {"opens", &b.openFails},
                                                  {"fails", &b.textFails},    {"hang", &b.sayHangs},
                                                  {"hangopen", &b.openHangs}, {"null", &noEngine},
                                                  {"stall", &l.stallBaseMs},  {"pause", &l.resumeAfterInterruptMs},
                                                  {"key", &l.holdAfterKeyMs}, {"max", &l.maxPending},
                                                  {"open", &l.openTimeoutMs}};
    for (const QString& knob : setup.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        for (const auto& [name, value] : knobs) {
            if (knob.section(QLatin1Char('='), 0, 0) == QLatin1String(name)) {
                *value = knob.section(QLatin1Char('='), 1).toInt();
            }
        }
    }
    SpeechEngineFactory factory = [&b]() -> std::unique_ptr<SpeechEngine> {
        QMutexLocker lock(&b.m);
        ++b.made;
        ++b.live;
        const QString why = Backend::take(b.openFails) ? QStringLiteral("server not running") : QString();
        if (Backend::take(b.openHangs)) {
            b.hang(lock);
        }
        return std::make_unique<Engine>(b, why);
    };
    return QtVoice::create(noEngine ? SpeechEngineFactory([] { return nullptr; }) : factory, l, error);
}

} // namespace

class QtVoiceTest : public QObject {
    Q_OBJECT
private slots:
    // Script steps: a word is spoken ("-word": refused, "_": the empty text, accepted); #N: N texts reached the
    // engine and no more come while it speaks; "." and "!": the engine ends or the server cuts off the text being
    // spoken; H/h: hold on/off; S: silence; K: a key press; A: the engine ends texts by itself from now on; ON: the
    // next N engines fail to start; PN, MN, sN: pending texts, engines made, stops; wN: wait N ms; E:word: the last
    // error mentions it.
    void queue_eachTextWholeOnceInOrder_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("engines"); // 0: any number
        row("one after the other", "", "a _ b b P3 #1 . #2 . #3 .", "a b b", 1);
        row("engine says ready before speaking", "ready=1", "a _ b b P3 #1 . #2 . #3 .", "a b b", 1);
        row("held: the text goes on, the rest waits", "", "a #1 H b c . #1 P2 h #2 H . #2 P1 h #3 .", "a b c", 1);
        row("held: a failed text waits too", "auto=1 fails=1", "a H b M2 #1 h", "a a b", 2);
        row("cut off by the server: again whole", "", "a b #1 ! #2 . #3 .", "a a b", 1);
        row("dropped three times before it began", "drop=3", "a b #4 . #5 .", "a a a a b", 1);
        row("cut off while held: again after release", "", "a b #1 H ! w60 #1 h #2 . #3 .", "a a b", 1);
        row("silenced while speaking", "pause=200", "a b c #1 S P0 s1 d #2 . w250", "a d", 1);
        row("silenced while held", "pause=200", "a b c #1 H S P0 s1 d h #2 . w250", "a d", 1);
        row("silenced in the pause after a cut", "pause=200", "a b c #1 ! w50 S P0 s0 d #2 . w250", "a d", 1);
        row("key press: next waits for the pause", "key=400", "a b #1 K . w200 #1 s0 #2 .", "a b", 1);
        row("full queue refuses", "max=3", "a b c -d #1 . P2 d #2 . #3 . #4 .", "a b c d", 1);
        row("stalled text given up, fresh engine", "stall=50", "a #1 A b c P0 E:time", "a b c", 2);
        row("hung engine left, fresh one goes on", "auto=1 stall=50 hang=1", "a b", "a b", 2);
        row("failing text tried once more", "auto=1 fails=1", "a b P0 E:fake", "a a b", 2);
        row("text that always fails is given up", "auto=1 fails=-1", "a b", "a a b", 3);
        row("engine down a while: order kept", "auto=1 fails=1", "O3 a b c P0 E:running", "a a b c", 5);
    }
    void queue_eachTextWholeOnceInOrder() {
        QFETCH(QString, setup);
        QFETCH(QString, script);
        QFETCH(int, engines);
        Backend b;
        QString error;
        auto voice = start(b, setup, &error);
        QVERIFY2(voice, qPrintable(error));
        QString step;
        int n = 0;
        const QHash<QChar, std::function<void()>> steps{
            {u'#',
             [&] {
                 QVERIFY(QTest::qWaitFor([&] { return b.said().size() == n; }) &&
                         !QTest::qWaitFor([&] { return b.said().size() != n; }, 20));
             }},
            {u'P', [&] { QTRY_COMPARE(voice->pendingCount(), n); }},
            {u'M', [&] { QTRY_COMPARE(b.count(&Backend::made), n); }},
            {u's', [&] { QTRY_COMPARE(b.count(&Backend::stops), n); }},
            {u'w', [&] { QTest::qWait(n); }},
            {u'.', [&] { b.end(SpeechEngine::State::Ready); }},
            {u'!', [&] { b.end(SpeechEngine::State::Interrupted); }},
            {u'H', [&] { voice->setHeld(true); }},
            {u'h', [&] { voice->setHeld(false); }},
            {u'S', [&] { voice->silence(); }},
            {u'K', [&] { QCoreApplication::sendEvent(voice.get(), std::make_unique<QEvent>(QEvent::KeyPress).get()); }},
            {u'A', [&] { b.set(&Backend::autoFinish, 1); }},
            {u'O', [&] { b.set(&Backend::openFails, n); }},
            {u'E', [&] { QVERIFY2(voice->lastError().contains(step.mid(2)), qPrintable(voice->lastError())); }},
            {u'-', [&] { QVERIFY(!voice->speak(step.mid(1))); }},
            {u'_', [&] { QVERIFY(voice->speak(QString())); }}};
        for (const QString& s : script.split(QLatin1Char(' '))) {
            step = s;
            n = step.mid(1).toInt();
            steps.value(step.at(0), [&] { QVERIFY(voice->speak(step)); })();
            QVERIFY2(!QTest::currentTestFailed(), qPrintable(step));
        }
        QTRY_COMPARE(voice->pendingCount(), 0);
        QTEST(b.said().join(QLatin1Char(' ')), "said");
        QCOMPARE(b.count(&Backend::cutOff), 0);
        QVERIFY(engines == 0 || b.count(&Backend::made) == engines);
        b.gate.release(1000);
        voice.reset();
        QTRY_COMPARE(b.count(&Backend::live), 0);
    }

    void create_engineFailsHangsOrIsMissing_noVoiceAndWhy_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("why");
        row("engine cannot start", "opens=1", "server not running");
        row("engine hangs while starting: its thread is left", "hangopen=1 open=50", "did not start");
        row("no engine made", "null=1", "No speech engine");
    }
    void create_engineFailsHangsOrIsMissing_noVoiceAndWhy() {
        QFETCH(QString, setup);
        QFETCH(QString, why);
        Backend b;
        QString error;
        QVERIFY(!start(b, setup, &error));
        QVERIFY2(error.contains(why), qPrintable(error));
        b.gate.release(1000);
        QTRY_COMPARE(b.count(&Backend::live), 0);
    }
};

QTEST_GUILESS_MAIN(QtVoiceTest)
#include "QtVoiceTest.moc"
