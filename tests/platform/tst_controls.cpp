// SPDX-License-Identifier: GPL-3.0-or-later
#include "chat/ChatRules.h"
#include "ui/Controls.h"
#include "DataRow.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTest>

struct Log : controls::LogView {
    using LogView::createMimeDataFromSelection;
};

class TestControls : public QObject {
    Q_OBJECT

private slots:
    // The program's text "before" stays as it is; the caret at "at", the user enters a text there by "way".
    void upperCaseEntry_everyWayIn_givesCapitals_caretAfterIt_data() {
        columns<QString, QString, int, QString, QString, int>("way", "before", "at", "entered", "after", "caret");
        row("pasted at the end of program text", "paste", "n0", 2, "call-l", "N0CALL-L", 8);
        row("pasted in the middle", "paste", "N0L", 2, "cA", "N0CAL", 4);
        row("sharp s pasted becomes SS", "paste", "AB", 1, "ß", "ASSB", 3);
        row("insert() with mixed case", "insert", "", 0, "qA1bC-r", "QA1BC-R", 7);
        row("input method commit, one undo step", "im", "N0", 2, "call", "N0CALL", 6);
        row("input method commit in the middle", "im", "N0L", 1, "xy", "NXY0L", 3);
    }
    void upperCaseEntry_everyWayIn_givesCapitals_caretAfterIt() {
        QFETCH(QString, way);
        QFETCH(QString, before);
        QFETCH(QString, entered);
        QLineEdit edit;
        controls::makeUpperCaseEntry(&edit);
        edit.setText(before);
        QCOMPARE(edit.text(), before);
        QFETCH(int, at);
        edit.setCursorPosition(at);
        QInputMethodEvent composing(QStringLiteral("z"), {}), commit;
        commit.setCommitString(entered);
        if (way == QLatin1String("paste")) {
            QGuiApplication::clipboard()->setText(entered);
            QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
        } else if (way == QLatin1String("insert")) {
            edit.insert(entered);
        } else {
            QCoreApplication::sendEvent(&edit, &composing);
            QCoreApplication::sendEvent(&edit, &commit);
        }
        QTEST(edit.text(), "after");
        QTEST(edit.cursorPosition(), "caret");
        if (way == QLatin1String("im")) {
            edit.undo();
            QCOMPARE(edit.text(), before);
        }
    }

    // What the log shows went through the chat's display rules, break points and all.
    void logCopy_byKeysMenuOrDrag_givesTheTextThatCame() {
        const QString came = QStringLiteral("N0CALL>\thello\u00A0there\nQA1BRK> ") + QString(450, u'w') +
                             QStringLiteral("\u00E9\U0001F4FB") + QString(300, u'x') + QStringLiteral("\nbye");
        Log log;
        controls::appendToLog(&log, chat::logDisplayText(came));
        controls::flushLog(&log);
        QVERIFY(log.toPlainText().contains(controls::LogView::BreakPoint));
        log.selectAll();
        const std::unique_ptr<QMimeData> dragged(log.createMimeDataFromSelection());
        QCOMPARE(dragged->formats(), QStringList{QStringLiteral("text/plain")});
        QCOMPARE(dragged->text(), came);
        QTest::keyClick(&log, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), came);
        QGuiApplication::clipboard()->clear();
        const std::unique_ptr<QMenu> menu(log.createStandardContextMenu());
        QAction* copy = menu->findChild<QAction*>(QStringLiteral("edit-copy"));
        QVERIFY(copy);
        copy->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), came);
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
