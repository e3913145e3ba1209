// SPDX-License-Identifier: GPL-3.0-or-later
#include "CallsignConnection.h"
#include "Controls.h"
#include "FakeEchoLinkClient.h"
#include "FakeVoice.h"
#include "FavouriteStations.h"
#include "MainLayout.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <memory>

namespace {

// The typed-callsign box and "Disconnect All", with the favourites beside them.
struct Window {
    QWidget window;
    FakeEchoLinkClient echoLink;
    FakeVoice voice;
    CallsignConnection::Widgets w;
    std::unique_ptr<CallsignConnection> typed;
    std::unique_ptr<FavouriteStations> favourites;

    Window() {
        buildMainLayout(&window);
        w = CallsignConnection::Widgets::find(&window);
        typed = std::make_unique<CallsignConnection>(w, echoLink, voice);
        favourites = std::make_unique<FavouriteStations>(FavouriteStations::Widgets::find(&window), echoLink, voice);
    }
    void setFavourite(int slot, const QString& callsign, bool stay) {
        window.findChild<QLineEdit*>(QStringLiteral("Text%1").arg(slot + 3))->setText(callsign);
        controls::setCheckValue(window.findChild<QCheckBox*>(QStringLiteral("Check%1").arg(slot + 3)), stay ? 1 : 0);
    }
};

} // namespace

class CallsignConnectionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void emptyBox_clickDoesNothing() {
        Window t;
        t.w.getCall->click();
        QVERIFY(t.echoLink.calls.isEmpty());
        QVERIFY(t.voice.spoken.isEmpty());
    }

    void secondClick_disconnectsTheStationConnected() {
        Window t;
        t.w.callsign->setText(QStringLiteral("N0CALL-R"));
        t.w.getCall->click();
        t.w.getCall->click();
        QCOMPARE(t.echoLink.calls,
                 (QStringList{QStringLiteral("IsConnected(N0CALL-R)"), QStringLiteral("Connect(N0CALL-R,-1)"),
                              QStringLiteral("IsConnected(N0CALL-R)"), QStringLiteral("Disconnect(N0CALL-R)")}));
        QVERIFY(t.voice.spoken.isEmpty());
    }

    void refusedConnect_speaksFailureTextAndKeepsBoxText() {
        Window t;
        t.w.callsign->setText(QStringLiteral("NOBODY"));
        t.echoLink.refused.insert(QStringLiteral("NOBODY"));
        t.typed->GetCall_Click();
        QCOMPARE(t.voice.spoken, QStringList{QStringLiteral("Unable to connect to call sign. ")});
        QCOMPARE(t.w.callsign->text(), QStringLiteral("NOBODY"));
    }

    void isConnectedFailure_endsClickSilently() {
        Window t;
        t.w.callsign->setText(QStringLiteral("N0CALL"));
        t.echoLink.failing.insert(QStringLiteral("IsConnected"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("N0CALL.*no answer")));
        t.w.getCall->click();
        QCOMPARE(t.echoLink.calls, QStringList{QStringLiteral("IsConnected(N0CALL)")});
        QVERIFY(t.voice.spoken.isEmpty());
    }

    void lowerCaseTyped_reachesStationInCapitals() {
        Window t;
        QTest::keyClicks(t.w.callsign, QStringLiteral("w1aw"));
        QCOMPARE(t.w.callsign->text(), QStringLiteral("W1AW"));
        t.w.getCall->click();
        QCOMPARE(t.echoLink.callsTo(QStringLiteral("Connect(")), QStringList{QStringLiteral("Connect(W1AW,-1)")});
    }

    void strangeText_passedUnchanged() {
        Window t;
        const QString odd = QStringLiteral(" <b>-x*\t");
        t.w.callsign->setText(odd);
        t.w.getCall->click();
        QCOMPARE(t.echoLink.callsTo(QStringLiteral("Connect(")),
                 QStringList{QStringLiteral("Connect(%1,-1)").arg(odd)});
    }

    void disconnectAll_sentEvenWithNothingConnected() {
        Window t;
        t.w.disconnectAll->click();
        QCOMPARE(t.echoLink.calls, QStringList{QStringLiteral("DisconnectAll()")});
        QVERIFY(t.voice.spoken.isEmpty());
    }

    void disconnectAllFailure_writtenToStandardErrorOnly() {
        Window t;
        t.echoLink.failing.insert(QStringLiteral("DisconnectAll"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Disconnect All.*disconnect all failed")));
        t.typed->DisconnectAll_Click();
        QCOMPARE(t.echoLink.calls, QStringList{QStringLiteral("DisconnectAll()")});
        QVERIFY(t.voice.spoken.isEmpty());
    }

    void disconnectAllThenSweep_reconnectsStayConnectedFavouritesOnly() {
        Window t;
        t.setFavourite(1, QStringLiteral("FAV1"), true);
        t.setFavourite(2, QStringLiteral("FAV2"), false);
        t.w.callsign->setText(QStringLiteral("TYPED"));
        t.echoLink.connected = {QStringLiteral("FAV1"), QStringLiteral("FAV2"), QStringLiteral("TYPED")};

        t.w.disconnectAll->click();
        QVERIFY(t.echoLink.connected.isEmpty());
        QCOMPARE(t.window.findChild<QCheckBox*>(QStringLiteral("Check4"))->checkState(), Qt::Checked);

        t.favourites->Timer4_Timer();
        QCOMPARE(t.echoLink.callsTo(QStringLiteral("Connect(")), QStringList{QStringLiteral("Connect(FAV1,-1)")});
        QCOMPARE(t.echoLink.connected, QSet<QString>{QStringLiteral("FAV1")});
    }
};

QTEST_MAIN(CallsignConnectionTest)
#include "tst_callsignconnection.moc"
