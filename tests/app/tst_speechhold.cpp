// SPDX-License-Identifier: GPL-3.0-or-later
// The voice's hold while a transmission is heard or sent, driven step by step against fakes.
#include "DataRow.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "SpeechHold.h"

#include <QTest>

namespace {

// Fires a timer that is running; one that is not stays silent, as it would in the program.
void fire(QTimer& timer) {
    if (timer.isActive()) {
        timer.stop();
        QVERIFY(QMetaObject::invokeMethod(&timer, "timeout"));
    }
}

} // namespace

class SpeechHoldTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Steps: "say X" hands X to the voice; "rx+ CALL"/"rx- CALL" the station hears / stops hearing CALL;
    // "tx+"/"tx-" the transmit state; "gap" and "check" fire those timers if they run; "station true|false|
    // none|fail" sets what IsReceiving answers; "ask" asks it; "gone", "back", "closing" the station's fate;
    // "off"/"on" the setting.
    void steps_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("spoken");
        QTest::addColumn<bool>("held");
        row("noHold_speaksAtOnce", "say A|say B", "A,B", false);
        row("receiving_holdsLaterTexts", "say A|rx+ Q1A|say B|say C", "A", true);
        row("receivingEnded_waitsForGap", "rx+ Q1A|say A|rx- Q1A", "", true);
        row("afterGap_allInOrder", "say A|rx+ Q1A|say B|say C|rx- Q1A|gap|say D", "A,B,C,D", false);
        row("transmitting_holds", "tx+|say A|tx+|gap", "", true);
        row("transmitEnded_thenGap_releases", "tx+|say A|tx-|gap", "A", false);
        row("polledNoTransmit_keepsReceiveHold", "tx-|rx+ Q1A|say A|tx-|gap", "", true);
        row("receiveDuringTransmit_transmitEnds", "tx+|rx+ Q1A|say A|tx-|gap", "", true);
        row("receiveDuringTransmit_lastEnds", "tx+|rx+ Q1A|say A|tx-|rx- Q1A|gap", "A", false);
        row("newHoldInGap_stopsIt", "rx+ Q1A|say A|rx- Q1A|tx+|gap", "", true);
        row("talkerChange_keepsHolding", "rx+ Q1A|say A|rx- Q1A|rx+ Q2B|gap", "", true);
        row("settingOff_neverHolds", "off|rx+ Q1A|tx+|say A", "A", false);
        row("settingOff_releasesAtOnce", "rx+ Q1A|say A|off", "A", false);
        row("settingOn_holdsForOngoing", "off|tx+|on|say A", "", true);
        row("lostEnd_stationHearsNone", "station true|rx+ Q1A|say A|station false|check|gap", "A", false);
        row("lostEnd_stationCannotSay", "rx+ Q1A|say A|station none|check|gap", "A", false);
        row("lostEnd_stationFails", "station true|rx+ Q1A|say A|station fail|check|gap", "A", false);
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
        QFETCH(QString, spoken);
        QFETCH(bool, held);
        FakeVoice voice;
        FakeEchoLinkClient echoLink;
        SpeechHold hold(voice, echoLink, SpeechHold::Timing());
        for (const QString& step : steps.split(QLatin1Char('|'))) {
            const QString verb = step.section(QLatin1Char(' '), 0, 0);
            const QString arg = step.section(QLatin1Char(' '), 1);
            if (verb == QStringLiteral("say")) {
                QVERIFY(voice.speak(arg));
            } else if (verb == QStringLiteral("rx+") || verb == QStringLiteral("rx-")) {
                Q_EMIT echoLink.ReceivingChanged(verb.endsWith(QLatin1Char('+')), arg);
            } else if (verb == QStringLiteral("tx+") || verb == QStringLiteral("tx-")) {
                hold.setTransmitting(verb.endsWith(QLatin1Char('+')));
            } else if (verb == QStringLiteral("gap")) {
                fire(hold.gapTimer());
            } else if (verb == QStringLiteral("check")) {
                fire(hold.receivingCheckTimer());
            } else if (verb == QStringLiteral("station")) {
                echoLink.receiving =
                    arg == QStringLiteral("none") ? std::nullopt : std::optional<bool>(arg == QStringLiteral("true"));
                echoLink.failing =
                    arg == QStringLiteral("fail") ? QSet<QString>{QStringLiteral("IsReceiving")} : QSet<QString>{};
            } else if (verb == QStringLiteral("ask")) {
                hold.askStation();
            } else if (verb == QStringLiteral("gone") || verb == QStringLiteral("back")) {
                echoLink.available = verb == QStringLiteral("back");
                Q_EMIT echoLink.availabilityChanged(echoLink.available);
            } else if (verb == QStringLiteral("closing")) {
                Q_EMIT echoLink.Closing();
            } else if (verb == QStringLiteral("off") || verb == QStringLiteral("on")) {
                hold.setEnabled(verb == QStringLiteral("on"));
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
            }
        }
        QCOMPARE(voice.spoken.join(QLatin1Char(',')), spoken);
        QCOMPARE(voice.held, held);
        QCOMPARE(hold.isHeld(), held);
    }
};

QTEST_MAIN(SpeechHoldTest)
#include "tst_speechhold.moc"
