// SPDX-License-Identifier: GPL-3.0-or-later
// Parlevox with Orca itself, as a blind user has it: Orca in a window manager, on the accessibility bus of a
// private session bus, speaking to a private speech server; Parlevox and echolink-sim beside it. Keys go in with
// xdotool; what Orca says is read back from the speech server.
#include "DataRow.h"
#include "OrcaHarness.h"
#include "ParlevoxHarness.h"
#include "SpeechHarness.h"
#include "StationHarness.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

namespace {

constexpr int StartTimeoutMs = 60000;
constexpr int HeardTimeoutMs = 8000; // Orca's answer to a key; the status refresh comes each second

const QString MainTitle = QStringLiteral("^Parlevox    QX1TST   v1.2$");

// Window pixels of the first favourite's callsign box (src/app/MainLayout.cpp, in twips): the walk starts there.
constexpr QPoint Text4{(240 + 1095 / 2) / 15, (360 + 285 / 2) / 15};
constexpr QPoint Text5{(240 + 1095 / 2) / 15, (720 + 285 / 2) / 15};

QRegularExpression re(const QString& pattern) {
    return QRegularExpression(pattern);
}

} // namespace

class OrcaTest : public QObject {
    Q_OBJECT

private:
    e2e::PrivateBus bus_;
    e2e::VirtualScreen screen_;
    e2e::PrivateSpeechServer speech_{0.05};
    std::unique_ptr<e2e::OrcaScreenReader> orca_;
    std::unique_ptr<e2e::StationProcess> sim_;
    std::unique_ptr<e2e::ParlevoxProcess> app_;
    QTemporaryDir home_;
    QString window_;
    int walked_ = 0; // Tab stops walked from the first favourite's box

    bool key(const QString& keys) { return screen_.xdotool({QStringLiteral("key"), keys}); }

    // Presses the key and waits until Orca says something of its own (its texts end with a full stop; its echo
    // of the key does not): each stop must be heard. The texts heard, or none.
    QStringList pressAndHear(const QString& keys) {
        orca_->mark();
        if (!key(keys) || orca_->waitForSaid(re(QStringLiteral("\\.$")), HeardTimeoutMs).isEmpty()) {
            return {};
        }
        QTest::qWait(150); // the rest of what it says for this stop
        return orca_->said();
    }

    // Back to the first favourite's box, as a click puts it there (it may be there already: Orca's "where am I",
    // keypad Enter, says where the focus is).
    bool toFirstFavourite() {
        walked_ = 0;
        orca_->mark();
        return screen_.click(window_, Text4) && key(QStringLiteral("KP_Enter")) &&
               !orca_->waitForSaid(re(QStringLiteral("^Callsign of favourite 1")), HeardTimeoutMs).isEmpty();
    }

    QString failure(const QString& what) const {
        return what + QStringLiteral(" | Orca said: ") +
               speech_.started().mid(qMax(0, speech_.started().size() - 12)).join(QStringLiteral(" | "));
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(e2e::OrcaScreenReader::missing().isEmpty(), qPrintable(e2e::OrcaScreenReader::missing()));
        QVERIFY2(bus_.start(&error), qPrintable(error));
        QVERIFY2(screen_.start(&error), qPrintable(error));
        const QString speechProblem = speech_.start();
        QVERIFY2(speechProblem.isEmpty(), qPrintable(speechProblem));
        orca_ = std::make_unique<e2e::OrcaScreenReader>(speech_);
        const QString orcaProblem = orca_->start(bus_.environment(), screen_.display());
        QVERIFY2(orcaProblem.isEmpty(), qPrintable(orcaProblem));

        sim_ = std::make_unique<e2e::StationProcess>(bus_);
        QVERIFY2(sim_->start({QStringLiteral("--callsign"), QStringLiteral("QX1TST"), QStringLiteral("--stay"),
                              QStringLiteral("--quiet-queries")},
                             &error),
                 qPrintable(error));
        QVERIFY(home_.isValid());
        QVERIFY(speech_.forbidAutoSpawn(home_.filePath(QStringLiteral("config"))));
        app_ = std::make_unique<e2e::ParlevoxProcess>(
            e2e::ParlevoxProcess::environment(bus_.environment(), screen_.display(), speech_.address(), home_.path()));
        orca_->mark();
        QVERIFY2(app_->start(&error), qPrintable(error));
        window_ = screen_.findWindow(MainTitle, StartTimeoutMs);
        QVERIFY2(!window_.isEmpty(), qPrintable(app_->errors()));
    }

    void cleanupTestCase() {
        app_.reset();
        sim_.reset();
        orca_.reset();
    }

    void startUp_windowReadAsFrameWithCaption_focusInFirstFavourite_titleOnRequest() {
        // The window was a plain filler before, whose caption Orca never read.
        QVERIFY2(
            !orca_->waitForSaid(re(QStringLiteral("^Parlevox    QX1TST   v1\\.2 frame")), StartTimeoutMs).isEmpty(),
            qPrintable(failure(QStringLiteral("no frame with its caption"))));
        QVERIFY2(!orca_->waitForSaid(re(QStringLiteral("^Callsign of favourite 1 text")), HeardTimeoutMs).isEmpty(),
                 qPrintable(failure(QStringLiteral("first focus not heard"))));
        orca_->mark();
        QVERIFY(key(QStringLiteral("Insert+KP_Enter"))); // Orca's "read title"
        QVERIFY2(!orca_->waitForSaid(re(QStringLiteral("^Parlevox    QX1TST   v1\\.2")), HeardTimeoutMs).isEmpty(),
                 qPrintable(failure(QStringLiteral("title not read"))));
    }

    // The rows run in order along one walk; every stop on the way must be heard.
    void tabWalk_everyStopHeard_samplesSayNameRoleAndState_data() {
        QTest::addColumn<int>("stop"); // Tabs from the first favourite's box
        QTest::addColumn<QString>("said");
        row("Con/Disc of favourite 1, its station's state", 1,
            "^(Connect or disconnect favourite 1 push button\\.|not connected\\.)$");
        row("Stay Con of favourite 1", 2, "^Stay connected to favourite 1 check box not checked");
        row("Say the Time", 18, "^Say the Time push button");
        row("incoming log", 26, "^Incoming text read only text");
        row("message box", 28, "^Message to send text");
        row("Transmit / Receive, a toggle", 44, "^Transmit / Receive check box not checked");
        row("clock", 47, "^Time: \\d\\d:\\d\\d:\\d\\d label");
        row("transmit state", 48, "^Transmit state: +Receiving +Mode label");
        row("station count", 49, "^Number of stations connected: 0 label");
        row("last connected node, then round again", 50, "^Last connected node: None label");
        row("first favourite again", 51, "^Callsign of favourite 1 text");
    }
    void tabWalk_everyStopHeard_samplesSayNameRoleAndState() {
        QFETCH(int, stop);
        QFETCH(QString, said);
        if (walked_ == 0) {
            QVERIFY(toFirstFavourite());
        }
        QStringList heard;
        while (walked_ < stop) {
            heard = pressAndHear(QStringLiteral("Tab"));
            ++walked_;
            QVERIFY2(!heard.isEmpty(), qPrintable(failure(QStringLiteral("stop %1 silent").arg(walked_))));
        }
        const QRegularExpression expected = re(said);
        QVERIFY2(
            std::any_of(heard.cbegin(), heard.cend(), [&](const QString& t) { return expected.match(t).hasMatch(); }),
            qPrintable(failure(said)));
    }

    // Chat that comes while the user types a favourite's callsign is spoken by Parlevox; the focus stays.
    void chatWhileOnFavouriteBox_focusStaysThere() {
        orca_->mark();
        QVERIFY(screen_.click(window_, Text5));
        QVERIFY2(!orca_->waitForSaid(re(QStringLiteral("^Callsign of favourite 2 text")), HeardTimeoutMs).isEmpty(),
                 qPrintable(failure(QStringLiteral("favourite 2 not heard"))));
        sim_->send(QStringLiteral("chat QX2ABC>good evening all"));
        QVERIFY2(!orca_->waitForSaid(re(QStringLiteral("good evening all")), HeardTimeoutMs).isEmpty(),
                 qPrintable(failure(QStringLiteral("chat not spoken"))));
        QTest::qWait(500);
        QVERIFY2(!orca_->said().join(QLatin1Char('|')).contains(QStringLiteral("Message to send")),
                 qPrintable(failure(QStringLiteral("focus moved to the message box"))));
        // Orca's "where am I" (keypad Enter) names the control that has the focus.
        orca_->mark();
        QVERIFY(key(QStringLiteral("KP_Enter")));
        QVERIFY2(!orca_->waitForSaid(re(QStringLiteral("^Callsign of favourite 2")), HeardTimeoutMs).isEmpty(),
                 qPrintable(failure(QStringLiteral("focus left the favourite's box"))));
    }

    // Reached backwards from the first favourite's box; the station changes what the control shows.
    void statusChanges_heardWhereTheFocusIs_data() {
        QTest::addColumn<int>("back"); // Shift+Tabs from the first favourite's box
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("said");
        row("station count", 2, "connect QX3DEF", "^Number of stations connected: 1 label");
        row("transmit state", 3, "key", "^Transmit state: +Transmitting.* label");
        row("Transmit / Receive", 7, "unkey", "^not checked");
    }
    void statusChanges_heardWhereTheFocusIs() {
        QFETCH(int, back);
        QFETCH(QString, command);
        QFETCH(QString, said);
        QVERIFY(toFirstFavourite());
        for (int i = 0; i < back; ++i) {
            QVERIFY2(!pressAndHear(QStringLiteral("shift+Tab")).isEmpty(),
                     qPrintable(failure(QStringLiteral("silent"))));
        }
        orca_->mark();
        sim_->send(command);
        QVERIFY2(!orca_->waitForSaid(re(said), HeardTimeoutMs).isEmpty(), qPrintable(failure(said)));
    }

    // Parlevox's voice says it in sentences.
    void statusKey_parlevoxSaysTimeStationsAndDirection() {
        orca_->mark();
        QVERIFY(key(QStringLiteral("F2")));
        for (const char* sentence :
             {"^Time \\d\\d:\\d\\d:\\d\\d\\.$", "^ ?1 station connected: Q X 3 D E F\\.$", "^ ?Receiving\\.$"}) {
            QVERIFY2(!orca_->waitForSaid(re(QString::fromLatin1(sentence)), HeardTimeoutMs).isEmpty(),
                     qPrintable(failure(QString::fromLatin1(sentence))));
        }
    }

    // Alt+W is "Show Internet Options"; the look-up box is heard the first time; Escape closes the window.
    void internetWindow_captionHeard_lookUpBoxHeardAtOnce_escapeCloses() {
        orca_->mark();
        QVERIFY(key(QStringLiteral("alt+w")));
        QVERIFY2(!orca_
                      ->waitForSaid(re(QStringLiteral("^Parlevox    QX1TST   v1\\.2   Internet Option frame")),
                                    StartTimeoutMs)
                      .isEmpty(),
                 qPrintable(failure(QStringLiteral("internet window not heard"))));
        QVERIFY(!orca_->waitForSaid(re(QStringLiteral("^Open the eQSL site push button")), HeardTimeoutMs).isEmpty());
        QStringList heard;
        for (int i = 0; i < 5; ++i) {
            heard = pressAndHear(QStringLiteral("Tab"));
            QVERIFY2(!heard.isEmpty(), qPrintable(failure(QStringLiteral("stop %1 silent").arg(i + 1))));
        }
        QVERIFY2(heard.join(QLatin1Char('|')).contains(QStringLiteral("Callsign to look up text")),
                 qPrintable(failure(QStringLiteral("look-up box"))));
        QVERIFY(!pressAndHear(QStringLiteral("Escape")).isEmpty());
        QVERIFY(QTest::qWaitFor([&] { return screen_.visibleWindows(QStringLiteral("Internet Option")).isEmpty(); },
                                HeardTimeoutMs));
    }
};

QTEST_GUILESS_MAIN(OrcaTest)
#include "OrcaTest.moc"
