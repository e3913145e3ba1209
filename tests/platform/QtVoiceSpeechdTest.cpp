// SPDX-License-Identifier: GPL-3.0-or-later
// QtVoice with our speech-dispatcher engine on a private speech server (SpeechHarness.h), whose file of texts spoken
// to their end proves order and completeness; another client on the same server plays the screen reader.
#include "DataRow.h"
#include "SpeechHarness.h"
#include "platform/QtVoice.h"
#include "platform/SpeechdEngine.h"

#include <QtTest>

class QtVoiceSpeechdTest : public QObject {
    Q_OBJECT
    std::unique_ptr<e2e::PrivateSpeechServer> server_;
    std::unique_ptr<e2e::OtherSpeechClient> reader_;
    const int wait_ = 30000;

    static std::unique_ptr<QtVoice> voice(int giveUpMs = 30000) {
        const VoiceLimits limits{
            .stallBaseMs = giveUpMs, .stallPerCharMs = 0, .openTimeoutMs = giveUpMs, .retryFirstMs = 100};
        return QtVoice::create(speechdEngineFactory(), limits, nullptr);
    }

private slots:
    // A screen reader's texts take long enough to speak over ours for sure.
    void init() {
        server_ = std::make_unique<e2e::PrivateSpeechServer>(1.0);
        const QString problem = server_->start();
        if (!problem.isEmpty()) {
            QSKIP(qPrintable(QStringLiteral("no private speech server: ") + problem));
        }
        qputenv("SPEECHD_ADDRESS", server_->address().toUtf8());
        qputenv("XDG_CONFIG_HOME", server_->configHome().toUtf8()); // forbids a server of the client's own
        reader_ = std::make_unique<e2e::OtherSpeechClient>();
        const QString refused = reader_->connectTo(*server_);
        QVERIFY2(refused.isEmpty(), qPrintable(refused));
    }

    // The reader's texts ('|' between) begin over our first one, or before our voice starts; then our voice may be
    // silenced or end while the reader speaks: silenced texts are never heard, and at the end the one already with the
    // server is said whole, the rest never. Heard: the reader's then ours when empty.
    void screenReaderSpeaks_neverCancelled_oursHeardWholeInOrderAfterIt_data() {
        columns<QString, bool, QString, QString>("reader", "readerFirst", "then", "heard");
        row("over our first text", "reader one", false, "", "");
        row("before our voice starts", "reader one", true, "", "");
        row("ours silenced", "reader", true, "silence", "reader|ours after");
        row("our voice ends", "reader", true, "exit", "reader|ours one");
    }
    void screenReaderSpeaks_neverCancelled_oursHeardWholeInOrderAfterIt() {
        QFETCH(QString, reader);
        QFETCH(bool, readerFirst);
        QFETCH(QString, then);
        QFETCH(QString, heard);
        const QStringList texts = reader.split(u'|');
        const QStringList ours{QStringLiteral("ours one"), QStringLiteral("it's 73; \"see\" = $HOME Grüße")};
        for (const QString& text : readerFirst ? texts : QStringList()) {
            QVERIFY(reader_->say(text));
            QTRY_COMPARE_WITH_TIMEOUT(server_->started(), texts, wait_);
        }
        auto v = voice();
        QVERIFY(v && v->speak(ours.at(0)) && v->speak(ours.at(1)));
        if (then.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(server_->started().contains(ours.at(0)), wait_);
        } else {
            QTest::qWait(200); // the first is with the server, waiting for the reader
            then == QLatin1String("exit") ? v.reset() : v->silence();
            QTRY_COMPARE_WITH_TIMEOUT(reader_->ended(), 1, wait_);
            QTest::qWait(1500); // time enough for a text of ours that was wrongly kept
            QVERIFY(!v || v->speak(QStringLiteral("ours after")));
        }
        for (const QString& text : readerFirst ? QStringList() : texts) {
            QVERIFY(reader_->say(text));
        }
        QTRY_COMPARE_WITH_TIMEOUT(server_->spoken(), heard.isEmpty() ? texts + ours : heard.split(u'|'), wait_);
        QCOMPARE(reader_->ended(), texts.size());
        QCOMPARE(reader_->cancelled(), 0);
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
        const bool killed = trouble == QLatin1String("killed");
        auto v = voice(2000);
        QVERIFY(v && v->speak(QStringLiteral("before")) && v->speak(QStringLiteral("goes slowly")));
        QTRY_COMPARE_WITH_TIMEOUT(server_->started().size(), 2, wait_);
        killed ? server_->stopSpeechd() : server_->signalSpeechd(SIGSTOP);
        QVERIFY(!killed || !voice());
        QVERIFY(v->speak(QStringLiteral("during")));
        QTRY_VERIFY_WITH_TIMEOUT(!v->lastError().isEmpty(), wait_);
        if (trouble == QLatin1String("ending")) {
            QTest::qWait(2500); // a fresh engine is stuck starting by now as well
            v.reset();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        if (killed) {
            QVERIFY(server_->startSpeechd().isEmpty());
        } else {
            server_->signalSpeechd(SIGCONT);
        }
        QTest::qWait(500); // threads left in the frozen server come loose and end
        QVERIFY(!v || v->speak(QStringLiteral("after")));
        QTRY_COMPARE_WITH_TIMEOUT(server_->spoken().count(QStringLiteral("after")), v ? 1 : 0, wait_);
        QCOMPARE(server_->spoken().value(0), QStringLiteral("before"));
        QCOMPARE(server_->spoken().filter(QRegularExpression(QStringLiteral("^(?!(before|during|after)$)"))),
                 QStringList());
    }
};

QTEST_GUILESS_MAIN(QtVoiceSpeechdTest)
#include "QtVoiceSpeechdTest.moc"
