// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "app/SpeechHold.h"

#include <QTest>

class SpeechHoldTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // "say X" speaks; "rx+/rx- C" the station hears C or stops; "tx+/tx-"; "gap"/"check" fire that timer if it runs;
    // "station true|false" is what IsReceiving answers, "fail" makes it fail; "ask"; "gone"/"back"/"closing".
    void steps_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("spoken");
        QTest::addColumn<bool>("held");
        row("receivingEnded_waitsForGap", "rx+ Q1A|say A|rx- Q1A", "", true);
        row("afterGap_allInOrder", "say A|rx+ Q1A|say B|say C|rx- Q1A|gap|say D", "A,B,C,D", false);
        row("transmitting_holds", "tx+|say A|tx+|gap", "", true);
        row("transmitEnded_thenGap_releases", "tx+|say A|tx-|gap", "A", false);
        row("receiveDuringTransmit_transmitEnds", "tx+|rx+ Q1A|say A|tx-|gap", "", true);
        row("receiveDuringTransmit_lastEnds", "tx+|rx+ Q1A|say A|tx-|rx- Q1A|gap", "A", false);
        row("newHoldInGap_stopsIt", "rx+ Q1A|say A|rx- Q1A|tx+|gap", "", true);
        row("settingOff_neverHolds", "off|rx+ Q1A|tx+|say A", "A", false);
        row("settingOff_releasesAtOnce", "rx+ Q1A|say A|off", "A", false);
        row("settingOn_holdsForOngoing", "off|tx+|on|say A", "", true);
        row("lostEnd_stationHearsNone", "station true|rx+ Q1A|say A|station false|check|gap", "A", false);
        row("lostEnd_stationFails", "station true|rx+ Q1A|say A|fail|check|gap", "A", false);
        row("longTransmission_stillHeard", "station true|rx+ Q1A|say A|check|gap|check|gap", "", true);
        row("check_doesNotTouchTransmitHold", "tx+|say A|station false|check|gap", "", true);
        row("stationGone_releasesAtOnce", "rx+ Q1A|tx+|say A|gone", "A", false);
        row("stationClosing_releasesAtOnce", "rx+ Q1A|tx+|say A|closing", "A", false);
        row("stationBack_hearing_holds", "gone|station true|back|say A", "", true);
        row("start_stationHearing_holds", "station true|ask|say A", "", true);
        row("start_oldStation_noHold", "ask|say A", "A", false);
        row("start_stationGone_notAsked", "station true|gone|ask|say A", "A", false);
    }
    void steps() {
        QFETCH(QString, steps);
        FakeVoice voice;
        FakeEchoLinkClient echoLink;
        SpeechHold hold(voice, echoLink, SpeechHold::Timing());
        for (const QString& step : steps.split(QLatin1Char('|'))) {
            const QString verb = step.section(QLatin1Char(' '), 0, 0), arg = step.section(QLatin1Char(' '), 1);
            const auto is = [&verb](const char* v) { return verb == QLatin1String(v); };
            if (is("say")) {
                QVERIFY(voice.speak(arg));
            } else if (is("rx+") || is("rx-")) {
                Q_EMIT echoLink.ReceivingChanged(is("rx+"), arg);
            } else if (is("tx+") || is("tx-")) {
                hold.setTransmitting(is("tx+"));
            } else if (QTimer& timer = is("gap") ? hold.gapTimer() : hold.receivingCheckTimer();
                       (is("gap") || is("check")) && timer.isActive()) {
                timer.stop();
                QVERIFY(QMetaObject::invokeMethod(&timer, "timeout"));
            } else if (is("station")) {
                echoLink.receiving = arg == QLatin1String("true");
            } else if (is("fail")) {
                echoLink.failing << QStringLiteral("IsReceiving");
            } else if (is("ask")) {
                hold.askStation();
            } else if (is("gone") || is("back")) {
                Q_EMIT echoLink.availabilityChanged(echoLink.available = is("back"));
            } else if (is("closing")) {
                Q_EMIT echoLink.Closing();
            } else if (is("off") || is("on")) {
                hold.setEnabled(is("on"));
            }
        }
        QTEST(voice.spoken.join(QLatin1Char(',')), "spoken");
        QTEST(voice.held, "held");
        QTEST(hold.isHeld(), "held");
    }
};

QTEST_MAIN(SpeechHoldTest)
#include "tst_speechhold.moc"
