// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader finds in both windows; Orca itself reads them in tests/e2e.
#include "ConnectedStations.h"
#include "DataRow.h"
#include "Form1.h"
#include "Form1Layout.h"
#include "MainWindowRig.h"
#include "SettingsStore.h"
#include "StatusKeys.h"
#include "TransmitState.h"

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

struct InternetRig {
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath(QStringLiteral("parlevoxinet.ini"))};
    Form1 form{settings, nullptr, {}};
};

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windows_everyControlNamedAndReachable_everyButtonOneMnemonicNoneTwice_data() {
        QTest::addColumn<bool>("internet");
        row("main window", false);
        row("internet window", true);
    }
    void windows_everyControlNamedAndReachable_everyButtonOneMnemonicNoneTwice() {
        QFETCH(bool, internet);
        MainWindowRig r;
        InternetRig i;
        QWidget* window = internet ? static_cast<QWidget*>(&i.form) : &r.window;
        window->setWindowTitle(QStringLiteral("Parlevox    QX1TST   v1.2"));
        QCOMPARE(accessible(window)->role(), QAccessible::Window);
        QCOMPARE(accessible(window)->text(QAccessible::Name), window->windowTitle());
        for (QWidget* c : window->findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) || qobject_cast<QPlainTextEdit*>(c)) {
                QVERIFY2(!accessible(c)->text(QAccessible::Name).isEmpty() && (c->focusPolicy() & Qt::TabFocus),
                         qPrintable(c->objectName()));
            }
        }
        QSet<QString> letters;
        for (QPushButton* button : window->findChildren<QPushButton*>()) {
            const QString mnemonic = QKeySequence::mnemonic(button->text()).toString();
            QVERIFY2(!mnemonic.isEmpty() && !letters.contains(mnemonic), qPrintable(button->text()));
            letters << mnemonic;
            QVERIFY2(!accessible(button)->text(QAccessible::Name).contains(QLatin1Char('&')), qPrintable(mnemonic));
        }
        QCOMPARE(controls::withoutMnemonic(QStringLiteral("R&&&D")), QStringLiteral("R&D"));
    }

    void conDisc_descriptionFollowsStationsAndTheBox_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("news"); // +CALL connects, -CALL drops, "gone": the station program went away
        QTest::addColumn<QString>("description");
        row("that station, small letters", "QX1AB", "+qx1ab", "connected");
        row("another station", "QX1AB", "+QX1ABC", "not connected");
        row("dropped again", "QX1AB", "+QX1AB -QX1AB", "not connected");
        row("station program gone", "QX1AB", "+QX1AB gone", "not connected");
        row("empty box", "", "+QX1AB", "not connected");
    }
    void conDisc_descriptionFollowsStationsAndTheBox() {
        QFETCH(QString, box);
        QFETCH(QString, news);
        MainWindowRig r;
        ConnectedStations stations(r.echoLink);
        stations.describe(ConnectedStations::find(&r.window));
        r.control<QLineEdit>("Text4")->setText(box);
        for (const QString& item : news.split(QLatin1Char(' '))) {
            if (item == QLatin1String("gone")) {
                Q_EMIT r.echoLink.availabilityChanged(false);
            } else if (item.startsWith(QLatin1Char('+'))) {
                Q_EMIT r.echoLink.Connected(item.mid(1), QString(), QString());
            } else {
                Q_EMIT r.echoLink.Disconnected(item.mid(1));
            }
        }
        r.control<QLineEdit>("Callsign")->setText(box);
        QTEST(accessible(r.control("Command4"))->text(QAccessible::Description), "description");
        QTEST(accessible(r.control("GetCall"))->text(QAccessible::Description), "description");
    }

    void statusText_saysTimeStationsSpelledAndDirection_data() {
        QTest::addColumn<QString>("count");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("text");
        const QStringList two{QStringLiteral("QX1AB"), QStringLiteral("QX2CD-L")};
        row("none", "0", QStringList(), "Time 09:05:00. 0 stations connected. Receiving.");
        row("two spelled", "2", two, "Time 09:05:00. 2 stations connected: Q X 1 A B, Q X 2 C D - L. Receiving.");
        row("count not known", "?", two, "Time 09:05:00. Number of stations not known. Receiving.");
    }
    void statusText_saysTimeStationsSpelledAndDirection() {
        QFETCH(QString, count);
        QFETCH(QStringList, calls);
        QTEST(StatusKeys::statusText(QStringLiteral("09:05:00"), count, calls, false), "text");
    }

    // F2 speaks the status, F3 silences the voice, Escape closes the internet window as its close box does.
    void keys_speakStatus_silenceTheVoice_closeTheInternetWindow_data() {
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<QStringList>("spoken");
        QTest::addColumn<int>("silenced");
        row("status", StatusKeys::speakStatusKey(),
            QStringList{QStringLiteral("Time 00:00:00. 1 station connected: Q X 1 A B. Transmitting.")}, 0);
        row("stop speech", StatusKeys::stopSpeechKey(), QStringList(), 1);
        row("escape", QKeySequence(Qt::Key_Escape), QStringList(), 0);
    }
    void keys_speakStatus_silenceTheVoice_closeTheInternetWindow() {
        QFETCH(QKeySequence, key);
        MainWindowRig r;
        TransmitState state(TransmitState::findLabel(&r.window));
        ConnectedStations stations(r.echoLink);
        StatusKeys keys(&r.window, StatusKeys::Widgets::find(&r.window), stations, state, r.voice);
        Q_EMIT r.echoLink.Connected(QStringLiteral("QX1AB"), QString(), QString());
        controls::setLabelValue(r.control<QLabel>("NumStations"), QStringLiteral("1"));
        state.set(true);
        InternetRig i;
        QSignalSpy closed(&i.form, &Form1::closedByUser);
        QWidget* target = key == QKeySequence(Qt::Key_Escape) ? static_cast<QWidget*>(&i.form) : &r.window;
        target->show();
        QVERIFY(QTest::qWaitForWindowActive(target));
        QTest::keySequence(target, key);
        QTEST(r.voice.spoken, "spoken");
        QTEST(r.voice.silenced, "silenced");
        QCOMPARE(closed.size(), target == &i.form ? 1 : 0);
        QCOMPARE(i.form.isVisible(), closed.isEmpty() && target == &i.form);
        QCOMPARE(QFile::exists(i.settings.filePath()), target == &i.form);
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
