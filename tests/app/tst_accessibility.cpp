// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader finds in both windows: roles, states and descriptions it reads, the changes that make it
// speak, the keys, and a log that leaves the reader's caret alone. Orca itself reads them in tests/e2e/OrcaTest.
#include "ConnectedStations.h"
#include "DataRow.h"
#include "Form1.h"
#include "Form1Layout.h"
#include "MainWindowRig.h"
#include "SettingsStore.h"
#include "StatusKeys.h"
#include "TransmitState.h"
#include "TransmitToggle.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

QAccessibleInterface* accessible(QObject* object) {
    return QAccessible::queryAccessibleInterface(object);
}

// The internet window on a settings file of its own, with no station and no browser.
struct InternetRig {
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath(QStringLiteral("parlevoxinet.ini"))};
    Form1 form{settings, nullptr, {}};
};

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void transmitButton_readAsCheckedWhileTransmitting_lookUnchanged_data() {
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("transmitting");
        row("keyed", false, true);
        row("unkeyed", true, false);
        row("restated by the refresh", true, true);
    }
    void transmitButton_readAsCheckedWhileTransmitting_lookUnchanged() {
        QFETCH(bool, before);
        QFETCH(bool, transmitting);
        MainWindowRig r;
        TransmitState state(r.ui.clock.transmitLabel);
        TransmitToggle toggle(r.ui.clock.transmit, r.echoLink, state);
        auto* button = r.control<QPushButton>("TxRx");
        state.set(before);
        state.set(transmitting);
        const QAccessible::State s = accessible(button)->state();
        QVERIFY(s.checkable);
        QCOMPARE(bool(s.checked), transmitting);
        QCOMPARE(bool(s.pressed), transmitting);
        QVERIFY(!button->isCheckable()); // a checkable push button would draw itself sunken
    }

    void conDisc_descriptionFollowsStationsAndTheBox_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("news"); // +CALL connects, -CALL drops, "gone": the station program went away
        QTest::addColumn<QString>("description");
        row("nobody", "QX1AB", "", "not connected");
        row("that station", "QX1AB", "+QX1AB", "connected");
        row("station reported in small letters", "QX1AB", "+qx1ab", "connected");
        row("another station", "QX1AB", "+QX1ABC", "not connected");
        row("dropped again", "QX1AB", "+QX1AB -QX1AB", "not connected");
        row("station program gone", "QX1AB", "+QX1AB gone", "not connected");
        row("empty box", "", "+QX1AB", "not connected");
    }
    void conDisc_descriptionFollowsStationsAndTheBox() {
        QFETCH(QString, box);
        QFETCH(QString, news);
        QFETCH(QString, description);
        // Box filled before the station's news (favourite 1) and after it ("Connect to Callsign").
        MainWindowRig r;
        ConnectedStations stations(r.echoLink);
        stations.describe(r.ui.stations.toggles);
        r.control<QLineEdit>("Text4")->setText(box);
        for (const QString& item : news.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (item == QStringLiteral("gone")) {
                Q_EMIT r.echoLink.availabilityChanged(false);
            } else if (item.startsWith(QLatin1Char('+'))) {
                Q_EMIT r.echoLink.Connected(item.mid(1), QString(), QString());
            } else {
                Q_EMIT r.echoLink.Disconnected(item.mid(1));
            }
        }
        r.control<QLineEdit>("Callsign")->setText(box);
        for (const char* button : {"Command4", "GetCall"}) {
            QCOMPARE(accessible(r.control(button))->text(QAccessible::Description), description);
        }
    }

    void statusText_saysTimeStationsAndDirection_data() {
        QTest::addColumn<QString>("count");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("transmitting");
        QTest::addColumn<QString>("text");
        const QStringList two{QStringLiteral("QX1AB"), QStringLiteral("QX2CD-L")};
        row("none", "0", QStringList(), false, "Time 09:05:00. 0 stations connected. Receiving.");
        row("one", "1", QStringList{QStringLiteral("QX1AB")}, true,
            "Time 09:05:00. 1 station connected: Q X 1 A B. Transmitting.");
        row("two spelled", "2", two, false,
            "Time 09:05:00. 2 stations connected: Q X 1 A B, Q X 2 C D - L. Receiving.");
        row("names not known", "3", QStringList(), false, "Time 09:05:00. 3 stations connected. Receiving.");
        row("count not known", "?", two, false, "Time 09:05:00. Number of stations not known. Receiving.");
    }
    void statusText_saysTimeStationsAndDirection() {
        QFETCH(QString, count);
        QFETCH(QStringList, calls);
        QFETCH(bool, transmitting);
        QTEST(StatusKeys::statusText(QStringLiteral("09:05:00"), count, calls, transmitting), "text");
    }

    void keys_speakStatusOrSilenceTheVoice_data() {
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<QStringList>("spoken");
        QTest::addColumn<int>("silenced");
        row("status", StatusKeys::speakStatusKey(),
            QStringList{QStringLiteral("Time 00:00:00. 1 station connected: Q X 1 A B. Transmitting.")}, 0);
        row("stop speech", StatusKeys::stopSpeechKey(), QStringList(), 1);
    }
    void keys_speakStatusOrSilenceTheVoice() {
        QFETCH(QKeySequence, key);
        MainWindowRig r;
        TransmitState state(r.ui.clock.transmitLabel);
        ConnectedStations stations(r.echoLink);
        StatusKeys keys(&r.window, r.ui.stations.statusKeys, stations, state, r.voice);
        Q_EMIT r.echoLink.Connected(QStringLiteral("QX1AB"), QString(), QString());
        controls::setLabelValue(r.control<QLabel>("NumStations"), QStringLiteral("1"));
        state.set(true);
        QVERIFY(r.show());
        QTest::keySequence(&r.window, key);
        QTEST(r.voice.spoken, "spoken");
        QTEST(r.voice.silenced, "silenced");
    }

    void windows_framesWithCaption_everyButtonOneMnemonicNoneTwice_data() {
        QTest::addColumn<bool>("internet");
        row("main window", false);
        row("internet window", true);
    }
    void windows_framesWithCaption_everyButtonOneMnemonicNoneTwice() {
        QFETCH(bool, internet);
        MainWindowRig r;
        InternetRig i;
        QWidget* window = internet ? static_cast<QWidget*>(&i.form) : &r.window;
        window->setWindowTitle(QStringLiteral("Parlevox    QX1TST   v1.2"));
        QCOMPARE(accessible(window)->role(), QAccessible::Window); // not a filler whose caption nobody reads
        QCOMPARE(accessible(window)->text(QAccessible::Name), window->windowTitle());
        QSet<QString> letters;
        for (QPushButton* button : window->findChildren<QPushButton*>()) {
            const QString mnemonic = QKeySequence::mnemonic(button->text()).toString();
            QVERIFY2(!mnemonic.isEmpty() && !letters.contains(mnemonic), qPrintable(button->text()));
            letters << mnemonic;
            QVERIFY2(!accessible(button)->text(QAccessible::Name).contains(QLatin1Char('&')), qPrintable(mnemonic));
        }
        QVERIFY(letters.size() >= 6);
        QCOMPARE(controls::withoutMnemonic(r.control<QPushButton>("Exit")->text()), QStringLiteral("Exit / Save"));
        QCOMPARE(controls::withoutMnemonic(QStringLiteral("R&&&D")), QStringLiteral("R&D"));
    }

    void escape_closesTheInternetWindowAsItsCloseBoxDoes() {
        InternetRig i;
        QSignalSpy closed(&i.form, &Form1::closedByUser);
        i.form.show();
        QVERIFY(QTest::qWaitForWindowActive(&i.form));
        QTest::keyClick(&i.form, Qt::Key_Escape);
        QVERIFY(!i.form.isVisible());
        QCOMPARE(closed.size(), 1);
        QVERIFY(QFile::exists(i.settings.filePath()));
    }

    void statusValues_reachedByTabAfterTheButtons_andChangesHeard() {
        MainWindowRig r;
        QVERIFY(r.show());
        QWidget* at = r.control("Exit");
        for (const char* name : {"ShowTime", "Label1", "NumStations", "Label2"}) {
            do {
                at = at->nextInFocusChain();
            } while (!(at->focusPolicy() & Qt::TabFocus));
            QCOMPARE(at->objectName(), QString::fromLatin1(name));
        }
        auto* count = r.control<QLabel>("NumStations");
        // Each change is a value change too (Orca drops a label's name changes), to a value no change had; the
        // same text again is none.
        QAccessibleValueInterface* changes = accessible(count)->valueInterface();
        QVERIFY(changes != nullptr);
        const int before = changes->currentValue().toInt();
        controls::setLabelValue(count, QStringLiteral("3"));
        controls::setLabelValue(count, QStringLiteral("3"));
        const int after = changes->currentValue().toInt();
        QVERIFY(after > before);
        controls::setLabelValue(r.control<QLabel>("Label1"), QStringLiteral("Transmitting"));
        QCOMPARE(changes->currentValue().toInt(), after);
        QVERIFY(accessible(r.control("Label1"))->valueInterface()->currentValue().toInt() > after);
        // The clock keeps still while the reader is on it, and is current when the reader comes to it.
        auto* clock = r.control<QLabel>("ShowTime");
        clock->setFocus(Qt::TabFocusReason);
        controls::setLabelValue(clock, QStringLiteral("09:05:01"));
        QCOMPARE(clock->accessibleName(), QStringLiteral("Time: 00:00:00"));
        count->setFocus(Qt::TabFocusReason);
        clock->setFocus(Qt::BacktabFocusReason);
        QCOMPARE(clock->accessibleName(), QStringLiteral("Time: 09:05:01"));
    }

    void incomingLog_followsTheEnd_unlessTheReaderIsOnOlderLines_data() {
        QTest::addColumn<bool>("focused");
        QTest::addColumn<int>("caret"); // -1: at the end
        QTest::addColumn<bool>("followed");
        row("not focused", false, 0, true);
        row("caret at the end", true, -1, true);
        row("reading the first line", true, 0, false);
    }
    void incomingLog_followsTheEnd_unlessTheReaderIsOnOlderLines() {
        QFETCH(bool, focused);
        QFETCH(int, caret);
        MainWindowRig r;
        auto* log = r.control<QPlainTextEdit>("IncomingText");
        QVERIFY(r.show());
        controls::appendToLog(log, QStringLiteral("QX1AB>first\n"), true);
        controls::flushLog(log);
        if (focused) {
            log->setFocus();
        }
        QTextCursor cursor = log->textCursor();
        cursor.setPosition(caret < 0 ? log->document()->characterCount() - 1 : caret);
        log->setTextCursor(cursor);
        const int before = log->textCursor().position();
        controls::appendToLog(log, QStringLiteral("QX1AB>second\n"), false);
        controls::followLogEnd(log);
        controls::flushLog(log);
        const bool atEnd = log->textCursor().atEnd();
        QTEST(atEnd, "followed");
        if (!atEnd) {
            QCOMPARE(log->textCursor().position(), before);
        }
    }

    void webPages_readableOnceAsked_flagAddedOnceKeepingOthers_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        const QByteArray flag = "--force-renderer-accessibility";
        row("none", QByteArray(), flag);
        row("others kept", QByteArray("--no-sandbox"), "--no-sandbox " + flag);
        row("there already", flag + " --x", flag + " --x");
    }
    void webPages_readableOnceAsked_flagAddedOnceKeepingOthers() {
        QFETCH(QByteArray, before);
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", before);
        internet::enableWebAccessibility();
        QTEST(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), "after");
        QCOMPARE(qgetenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"), QByteArray("1"));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
