// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "chat/ChatRules.h"
#include "ui/Controls.h"
#include "ui/WindowPlacement.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QtTest>

class TestControls : public QObject {
    Q_OBJECT

private slots:
    // Program text stays as it is until the user changes the box; whatever the user enters then comes out in
    // capitals, the caret after it ("|" below). insert() takes the path of a paste.
    void upperCaseEntry_pastedOrFromInputMethod_givesCapitals_caretAfterIt() {
        QLineEdit edit;
        controls::makeUpperCaseEntry(&edit);
        edit.setText(QStringLiteral("n0"));
        QCOMPARE(edit.text(), QStringLiteral("n0"));
        const auto shown = [&] { return edit.text().insert(edit.cursorPosition(), u'|'); };
        const auto paste = [&](const QString& text) {
            QGuiApplication::clipboard()->setText(text);
            QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
        };
        paste(QStringLiteral("call-l"));
        QCOMPARE(shown(), QStringLiteral("N0CALL-L|"));
        edit.setCursorPosition(1);
        QInputMethodEvent composing(QStringLiteral("z"), {}), commit;
        commit.setCommitString(QStringLiteral("xY"));
        QCoreApplication::sendEvent(&edit, &composing);
        QCoreApplication::sendEvent(&edit, &commit);
        QCOMPARE(shown(), QStringLiteral("NXY|0CALL-L"));
        edit.undo(); // the commit is one step
        QCOMPARE(edit.text(), QStringLiteral("N0CALL-L"));
        edit.setCursorPosition(1);
        paste(QStringLiteral("ß"));
        QCOMPARE(shown(), QStringLiteral("NSS|0CALL-L"));
    }

    // What the log shows went through the chat's display rules, break points and all. The context menu's Copy and a
    // drag take the selection's data as Ctrl+C does.
    void logCopy_givesTheTextThatCame() {
        const QString came = QStringLiteral("N0CALL>\thello\u00A0there\nQA1BRK> ") + QString(450, u'w') +
                             QStringLiteral("\u00E9\U0001F4FB") + QString(300, u'x') + QStringLiteral("\nbye");
        controls::LogView log;
        controls::appendToLog(&log, chat::logDisplayText(came));
        controls::flushLog(&log);
        QVERIFY(log.toPlainText().contains(controls::LogView::BreakPoint));
        log.selectAll();
        QTest::keyClick(&log, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->formats(), QStringList{QStringLiteral("text/plain")});
        QCOMPARE(QGuiApplication::clipboard()->text(), came);
    }

    // A stored text as a window's left edge beside a top edge of -308 twips: the pixel it is put at, the twips an
    // edge still there writes back (an unusable text gives 300); and as a check box value ("-": not accepted).
    void storedTexts_onlyUsableNumbersAccepted_unmovedEdgeWritesWhatWasRead_data() {
        columns<QString, int, QString, QString>("text", "pixel", "twips", "check");
        for (const char* bad : {"", "300px", "nan", "1.0000001e7", "-99999999999"}) {
            row(bad, bad, 20, "300", "-");
        }
        row("0 in spaces", " 0 ", 0, "0", "0");
        row("2", "2", 0, "2", "2");
        row("3", "3", 0, "3", "-");
        row("-1", "-1", 0, "-1", "-");
        row("fraction to the nearest pixel", " 307.5 ", 21, "307.5", "-");
        row("far out, no exponent", "9999999", 666667, "9999999", "-");
        row("edge of the desktop", "-1e7", -666667, "-10000000", "-");
    }
    void storedTexts_onlyUsableNumbersAccepted_unmovedEdgeWritesWhatWasRead() {
        QFETCH(QString, text);
        const placement::StoredPosition position(text, QStringLiteral("-308"));
        QFETCH(int, pixel);
        QCOMPARE(position.pixels(), QPoint(pixel, -21));
        const QPoint leftMoved(40, -21), topMoved(pixel, -20);
        QCOMPARE(position.leftText(leftMoved) + QLatin1Char(',') + position.topText(leftMoved),
                 QStringLiteral("600,-308"));
        QTEST(position.leftText(topMoved), "twips");
        QCOMPARE(position.topText(topMoved), QStringLiteral("-300"));
        const auto check = placement::parseCheckValue(text);
        QTEST(check ? QString::number(*check) : QStringLiteral("-"), "check");
    }

    void keepOnScreen_titleBarWithinReachOrFallback_data() {
        columns<QPoint, bool>("wanted", "kept");
        row("on the second screen", QPoint(2000, 300), true);
        row("partly off the left edge", QPoint(-400, 100), true);
        row("only a sliver at the right edge", QPoint(3830, 20), false);
        row("title bar above the screens", QPoint(100, -15), false);
        row("in the gap below the smaller screen", QPoint(2000, 1050), false);
    }
    void keepOnScreen_titleBarWithinReachOrFallback() {
        QFETCH(QPoint, wanted);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1024)};
        QTEST(placement::keepOnScreen(wanted, QSize(478, 511), screens, QPoint(1, 1)) == wanted, "kept");
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
