// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader finds in both windows; Orca itself reads them in tests/e2e.
#include "stations/ConnectedStations.h"
#include "DataRow.h"
#include "internet/Form1.h"
#include "internet/Form1Layout.h"
#include "MainWindowRig.h"
#include "platform/SettingsStore.h"
#include "stations/StatusKeys.h"
#include "ui/TransmitState.h"

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
        QVERIFY(accessible(window)->role() == QAccessible::Window &&
                accessible(window)->text(QAccessible::Name) == window->windowTitle());
        for (QWidget* c : window->findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) || qobject_cast<QPlainTextEdit*>(c)) {
                QVERIFY2(!accessible(c)->text(QAccessible::Name).isEmpty() && (c->focusPolicy() & Qt::TabFocus),
                         qPrintable(c->objectName()));
            }
        }
        QSet<QString> letters;
        for (QPushButton* button : window->findChildren<QPushButton*>()) {
            const QString mnemonic = QKeySequence::mnemonic(button->text()).toString();
            QVERIFY2(!mnemonic.isEmpty() && !letters.contains(mnemonic) &&
                         !accessible(button)->text(QAccessible::Name).contains(QLatin1Char('&')),
                     qPrintable(button->text()));
            letters << mnemonic;
        }
    }

    void conDisc_descriptionFollowsStationsAndTheBox_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("news"); // +CALL connects, -CALL drops
        QTest::addColumn<QString>("description");
        row("that station, small letters", "QX1AB", "+qx1ab", "connected");
        row("dropped again", "QX1AB", "+QX1AB -QX1AB", "not connected");
        row("empty box", "", "+QX1AB", "not connected");
    }
    void conDisc_descriptionFollowsStationsAndTheBox() {
        QFETCH(QString, box);
        QFETCH(QString, news);
        MainWindowRig r;
        ConnectedStations stations(r.echoLink);
        stations.describe(r.ui.stations.toggles);
        r.control<QLineEdit>("Text4")->setText(box);
        for (const QString& item : news.split(QLatin1Char(' '))) {
            item[0] == QLatin1Char('+') ? r.echoLink.Connected(item.mid(1), {}, {})
                                        : r.echoLink.Disconnected(item.mid(1));
        }
        r.control<QLineEdit>("Callsign")->setText(box);
        for (const char* name : {"Command4", "GetCall"}) {
            QTEST(accessible(r.control(name))->text(QAccessible::Description), "description");
        }
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
        TransmitState state(r.ui.clock.transmitLabel);
        ConnectedStations stations(r.echoLink);
        StatusKeys keys(&r.window, r.ui.stations.statusKeys, stations, state, r.voice);
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
        QVERIFY(closed.size() == int(target == &i.form) && !i.form.isVisible());
        QCOMPARE(QFile::exists(i.settings.filePath()), target == &i.form);
    }
};

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
