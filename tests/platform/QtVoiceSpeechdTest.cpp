// SPDX-License-Identifier: GPL-3.0-or-later
// QtVoice with our speech-dispatcher engine on a private speech server (SpeechHarness.h), whose file of texts spoken
// to their end proves order and completeness; another client on the same server plays the screen reader.
#include "DataRow.h"
#include "platform/QtVoice.h"
#include "SpeechHarness.h"
#include "platform/SpeechdEngine.h"

#include <QtTest>

class QtVoiceSpeechdTest : public QObject {
    Q_OBJECT
    std::unique_ptr<e2e::PrivateSpeechServer> server_;
    std::unique_ptr<e2e::OtherSpeechClient> reader_;
    const int wait_ = 30000;

    // A screen reader's texts take long enough to speak over ours for sure.
    void startServer() {
        server_ = std::make_unique<e2e::PrivateSpeechServer>(1.0);
        const QString problem = server_->start();
        if (!problem.isEmpty()) {
            QSKIP(qPrintable(QStringLiteral("no private speech server: ") + problem));
        }
        qputenv("SPEECHD_ADDRESS", server_->address().toUtf8());
        qputenv("XDG_CONFIG_HOME", server_->configHome().toUtf8()); // forbids a server of the client's own
        reader_ = std::make_unique<e2e::OtherSpeechClient>();
        QVERIFY(reader_->connectTo(*server_).isEmpty());
    }
    static std::unique_ptr<QtVoice> voice(int giveUpMs = 30000) {
        VoiceLimits limits;
        limits.stallBaseMs = limits.openTimeoutMs = giveUpMs;
        limits.stallPerCharMs = 0;
        limits.retryFirstMs = 100;
        QString error;
        auto made = QtVoice::create(speechdEngineFactory(), limits, &error);
        if (!made) {
            qWarning("%s", qPrintable(error));
        }
        return made;
    }

private slots:
    void cleanup() {
        reader_.reset();
        server_.reset();
    }

    // The reader's texts begin over our first one, or before ours begin.
    void screenReaderSpeaks_neverCancelled_oursHeardWholeInOrderAfterIt_data() {
        columns<QStringList, bool>("reader", "readerFirst");
        row("no screen reader", QStringList(), false);
        row("over our first text", QStringList{QStringLiteral("reader one")}, false);
        row("twice over our first text", QStringList{QStringLiteral("reader one"), QStringLiteral("reader two")},
            false);
        row("before ours begin", QStringList{QStringLiteral("reader one")}, true);
    }
    void screenReaderSpeaks_neverCancelled_oursHeardWholeInOrderAfterIt() {
        QFETCH(QStringList, reader);
        QFETCH(bool, readerFirst);
        startServer();
        const QStringList ours{QStringLiteral("N0CALL connected"), QStringLiteral("it's 73; \"see\" = $HOME Grüße")};
        auto v = voice();
        QVERIFY(v);
        for (const QString& text : readerFirst ? reader : QStringList()) {
            QVERIFY(reader_->say(text));
            QTRY_COMPARE_WITH_TIMEOUT(server_->started(), reader, wait_);
        }
        for (const QString& text : ours) {
            QVERIFY(v->speak(text));
        }
        QTRY_VERIFY_WITH_TIMEOUT(server_->started().contains(ours.first()), wait_);
        for (const QString& text : readerFirst ? QStringList() : reader) {
            QVERIFY(reader_->say(text));
        }
        QTRY_COMPARE_WITH_TIMEOUT(server_->spoken(), reader + ours, wait_);
        QCOMPARE(reader_->ended(), reader.size());
        QCOMPARE(reader_->cancelled(), 0);
    }

    // While the screen reader speaks, our voice starts, is silenced or ends with texts waiting. Silenced texts are
    // never heard; at the end, the one already with the server is said whole, the rest never.
    void ourStartSilenceOrExit_neverCancelsScreenReader_data() {
        columns<QString, QStringList>("action", "heard");
        row("start", "start", QStringList{QStringLiteral("reader")});
        row("silence", "silence", QStringList{QStringLiteral("reader")});
        row("exit", "exit", QStringList{QStringLiteral("reader"), QStringLiteral("ours one")});
    }
    void ourStartSilenceOrExit_neverCancelsScreenReader() {
        QFETCH(QString, action);
        QFETCH(QStringList, heard);
        startServer();
        QVERIFY(reader_->say(QStringLiteral("reader")));
        QTRY_COMPARE_WITH_TIMEOUT(server_->started(), QStringList{QStringLiteral("reader")}, wait_);
        auto v = voice();
        QVERIFY(v);
        if (action != QLatin1String("start")) {
            QVERIFY(v->speak(QStringLiteral("ours one")) && v->speak(QStringLiteral("ours two")));
            QTest::qWait(200); // the first is with the server, waiting for the reader
        }
        action == QLatin1String("exit") ? v.reset() : v->silence();
        QTRY_COMPARE_WITH_TIMEOUT(reader_->ended(), 1, wait_);
        QCOMPARE(reader_->cancelled(), 0);
        QTest::qWait(1500); // time enough for a text of ours that was wrongly kept
        if (v) {
            QVERIFY(v->speak(QStringLiteral("ours after")));
            heard << QStringLiteral("ours after");
        }
        QTRY_COMPARE_WITH_TIMEOUT(server_->spoken(), heard, wait_);
    }

    // Killed or frozen in the middle of a text (one with "slowly" never ends): the window's thread goes on, no text
    // is heard in pieces, and those after the trouble are. A voice can end while the server is frozen.
    void serverKilledOrFrozen_speechGoesOnAfterwards_data() {
        columns<QString>("trouble");
        row("killed", "killed");
        row("frozen", "frozen");
        row("frozen when the voice ends", "ending");
    }
    void serverKilledOrFrozen_speechGoesOnAfterwards() {
        QFETCH(QString, trouble);
        startServer();
        auto v = voice(2000);
        QVERIFY(v && v->speak(QStringLiteral("before")) && v->speak(QStringLiteral("goes slowly")));
        QTRY_COMPARE_WITH_TIMEOUT(server_->started().size(), 2, wait_);
        if (trouble == QLatin1String("killed")) {
            server_->stopSpeechd();
            QVERIFY(!voice());
        } else {
            server_->signalSpeechd(SIGSTOP);
        }
        QVERIFY(v->speak(QStringLiteral("during")));
        QTRY_VERIFY_WITH_TIMEOUT(!v->lastError().isEmpty(), wait_);
        if (trouble == QLatin1String("ending")) {
            QTest::qWait(2500); // a fresh engine is stuck starting by now as well
            v.reset();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        if (trouble == QLatin1String("killed")) {
            QVERIFY(server_->startSpeechd().isEmpty());
        } else {
            server_->signalSpeechd(SIGCONT);
        }
        QTest::qWait(500); // threads left in the frozen server come loose and end
        if (v) {
            QVERIFY(v->speak(QStringLiteral("after")));
            QTRY_VERIFY_WITH_TIMEOUT(server_->spoken().contains(QStringLiteral("after")), wait_);
        }
        const QStringList spoken = server_->spoken();
        QCOMPARE(spoken.value(0), QStringLiteral("before"));
        QVERIFY(spoken.count(QStringLiteral("after")) == (v ? 1 : 0));
        for (const QString& text : spoken) {
            QVERIFY2(QStringList({QStringLiteral("before"), QStringLiteral("during"), QStringLiteral("after")})
                         .contains(text),
                     qPrintable(text));
        }
    }
};

QTEST_GUILESS_MAIN(QtVoiceSpeechdTest)
#include "QtVoiceSpeechdTest.moc"
