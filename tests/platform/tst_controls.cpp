// SPDX-License-Identifier: GPL-3.0-or-later
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
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
