// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "ui/WindowPlacement.h"

#include <QTest>

class TestWindowPlacement : public QObject {
    Q_OBJECT

private slots:
    // A stored text as a window's left edge beside a top edge of -308 twips: the pixel it is put at, the twips an
    // edge still there writes back (an unusable text gives 300); and as a check box value ("-": not accepted).
    void storedTexts_onlyUsableNumbersAccepted_unmovedEdgeWritesWhatWasRead_data() {
        columns<QString, int, QString, QString>("text", "pixel", "twips", "check");
        for (const char* bad : {"", "abc", "300px", "nan", "inf", "1.0000001e7", "-99999999999"}) {
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

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
