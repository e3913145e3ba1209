// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "chat/ChatRules.h"
#include "ui/Controls.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>

class TestControls : public QObject {
    Q_OBJECT

private slots:
    // The box's text, "|" for the caret: the program's text "before" stays as it is until the user enters a text
    // at the caret by "way" (insert() takes the path of a paste).
    void upperCaseEntry_everyWayIn_givesCapitals_caretAfterIt_data() {
        columns<QString, QString, QString, QString>("way", "before", "entered", "after");
        row("pasted at the end of program text", "paste", "n0|", "call-l", "N0CALL-L|");
        row("sharp s pasted in the middle becomes SS", "paste", "A|B", "ß", "ASS|B");
        row("input method commit in the middle, one undo step", "im", "N|0L", "xY", "NXY|0L");
    }
    void upperCaseEntry_everyWayIn_givesCapitals_caretAfterIt() {
        QFETCH(QString, way);
        QFETCH(QString, before);
        QFETCH(QString, entered);
        const QString program = QString(before).remove(u'|');
        QLineEdit edit;
        controls::makeUpperCaseEntry(&edit);
        edit.setText(program);
        edit.setCursorPosition(int(before.indexOf(u'|')));
        QCOMPARE(edit.text(), program);
        QInputMethodEvent composing(QStringLiteral("z"), {}), commit;
        commit.setCommitString(entered);
        if (way == QLatin1String("paste")) {
            QGuiApplication::clipboard()->setText(entered);
            QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
        } else {
            QCoreApplication::sendEvent(&edit, &composing);
            QCoreApplication::sendEvent(&edit, &commit);
        }
        QTEST(edit.text().insert(edit.cursorPosition(), u'|'), "after");
        if (way == QLatin1String("im")) {
            edit.undo();
            QCOMPARE(edit.text(), program);
        }
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
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
