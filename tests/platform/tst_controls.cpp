// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChatRules.h"
#include "Controls.h"
#include "DataRow.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTest>

namespace {

// The log with the function a drag takes its data from within reach.
struct Log : controls::LogView {
    using LogView::createMimeDataFromSelection;
};

QString copied(Log& log, const QString& way) {
    QGuiApplication::clipboard()->clear();
    log.selectAll();
    if (way == QLatin1String("keys")) {
        QTest::keyClick(&log, Qt::Key_C, Qt::ControlModifier);
    } else if (way == QLatin1String("menu")) {
        const std::unique_ptr<QMenu> menu(log.createStandardContextMenu());
        QAction* copy = menu->findChild<QAction*>(QStringLiteral("edit-copy"));
        if (copy == nullptr) {
            return QStringLiteral("<no Copy in the context menu>");
        }
        copy->trigger();
    } else {
        const std::unique_ptr<QMimeData> dragged(log.createMimeDataFromSelection());
        return dragged->formats() == QStringList{QStringLiteral("text/plain")} ? dragged->text()
                                                                               : QStringLiteral("<rich drag>");
    }
    return QGuiApplication::clipboard()->text();
}

} // namespace

class TestControls : public QObject {
    Q_OBJECT

private slots:
    // The box holds "before" with the caret at "at"; the text is entered there by "way".
    void upperCaseEntry_everyWayIn_givesCapitals_caretAfterIt_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("at");
        QTest::addColumn<QString>("entered");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("caret");
        row("pasted at the end", "paste", "N0", 2, "call-l", "N0CALL-L", 8);
        row("pasted in the middle", "paste", "N0L", 2, "cA", "N0CAL", 4);
        row("sharp s pasted becomes SS", "paste", "AB", 1, "ß", "ASSB", 3);
        row("insert() with mixed case", "insert", "", 0, "qA1bC-r", "QA1BC-R", 7);
        row("input method commit", "im", "N0", 2, "call", "N0CALL", 6);
        row("input method commit in the middle", "im", "N0L", 1, "xy", "NXY0L", 3);
        row("digits and capitals unchanged", "paste", "", 0, "W1AW/7", "W1AW/7", 6);
    }
    void upperCaseEntry_everyWayIn_givesCapitals_caretAfterIt() {
        QFETCH(QString, way);
        QFETCH(QString, before);
        QFETCH(int, at);
        QFETCH(QString, entered);
        QLineEdit edit(before);
        controls::makeUpperCaseEntry(&edit);
        edit.setCursorPosition(at);
        if (way == QLatin1String("paste")) {
            QGuiApplication::clipboard()->setText(entered);
            QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
        } else if (way == QLatin1String("insert")) {
            edit.insert(entered);
        } else {
            QInputMethodEvent event(QStringLiteral("z"), {});
            QCoreApplication::sendEvent(&edit, &event); // composing first, as an input method does
            QInputMethodEvent commit;
            commit.setCommitString(entered);
            QCoreApplication::sendEvent(&edit, &commit);
        }
        QTEST(edit.text(), "after");
        QTEST(edit.cursorPosition(), "caret");
    }

    void upperCaseEntry_programText_keptUntilTheUserEdits_andCommitKeepsUndo() {
        QLineEdit edit;
        controls::makeUpperCaseEntry(&edit);
        edit.setText(QStringLiteral("n0call"));
        QCOMPARE(edit.text(), QStringLiteral("n0call"));
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("-l"));
        QCoreApplication::sendEvent(&edit, &commit);
        QCOMPARE(edit.text(), QStringLiteral("N0CALL-L"));
        // Capitals from the start: a committed text is one undo step like a typed one.
        edit.setText(QStringLiteral("N0"));
        QCoreApplication::sendEvent(&edit, &commit);
        QCOMPARE(edit.text(), QStringLiteral("N0-L"));
        edit.undo();
        QCOMPARE(edit.text(), QStringLiteral("N0"));
    }

    // What the log shows goes through the chat's own display rules, break points and all.
    void logCopy_givesTheTextThatCame_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("came");
        const QString word = QString(450, QLatin1Char('w')) + QStringLiteral("\u00E9\U0001F4FB") + QString(300, u'x');
        for (const char* way : {"keys", "menu", "drag"}) {
            const QByteArray name(way);
            row((name + ": long unbroken line").constData(), way, word);
            row((name + ": lines, tabs, no-break spaces").constData(), way,
                QStringLiteral("N0CALL>\thello\u00A0there\nQA1BRK> ") + word + QStringLiteral("\nbye"));
        }
    }
    void logCopy_givesTheTextThatCame() {
        QFETCH(QString, way);
        QFETCH(QString, came);
        Log log;
        controls::appendToLog(&log, chat::logDisplayText(came));
        controls::flushLog(&log);
        QVERIFY(log.toPlainText().contains(controls::LogView::BreakPoint)); // the log does wrap it
        QCOMPARE(copied(log, way), came);
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
