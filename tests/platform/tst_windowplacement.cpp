// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "ui/WindowPlacement.h"

#include <QTest>

class TestWindowPlacement : public QObject {
    Q_OBJECT

private slots:
    // The stored text as twips and as a check box value; "-": not accepted.
    void storedTexts_onlyUsableNumbersAccepted_data() {
        columns<QString, QString, QString>("text", "twips", "check");
        for (const char* bad : {"", "abc", "300px", "nan", "inf", "1.0000001e7", "-99999999999"}) {
            row(bad, bad, "-", "-");
        }
        row("0", "0", "0", "0");
        row("spaces", " 1 ", "1", "1");
        row("2", "2", "2", "2");
        row("3", "3", "3", "-");
        row("-1", "-1", "-1", "-");
        row("fraction", " 450.5 ", "450.5", "-");
        row("edge of the desktop", "-1e7", "-10000000", "-");
    }
    void storedTexts_onlyUsableNumbersAccepted() {
        QFETCH(QString, text);
        const auto twips = placement::parseTwips(text);
        const auto check = placement::parseCheckValue(text);
        QTEST(twips ? QString::number(*twips, 'f', QLocale::FloatingPointShortest) : QStringLiteral("-"), "twips");
        QTEST(check ? QString::number(*check) : QStringLiteral("-"), "check");
    }

    void keepOnScreen_titleBarWithinReachOrFallback_data() {
        columns<QPoint, bool>("wanted", "kept");
        row("on the first screen", QPoint(20, 20), true);
        row("on the second screen", QPoint(2000, 300), true);
        row("partly off the left edge", QPoint(-400, 100), true);
        row("far left", QPoint(-10000, 20), false);
        row("only a sliver at the right edge", QPoint(3830, 20), false);
        row("title bar above the screens", QPoint(100, -15), false);
        row("in the gap below the smaller screen", QPoint(2000, 1050), false);
    }
    void keepOnScreen_titleBarWithinReachOrFallback() {
        QFETCH(QPoint, wanted);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1024)};
        QTEST(placement::keepOnScreen(wanted, QSize(478, 511), screens, QPoint(1, 1)) == wanted, "kept");
    }

    // The texts as stored, the pixels the window is put at, where it is at the save, and what the save writes.
    void storedPosition_unmovedWritesWhatWasRead_movedWritesNewPlace_data() {
        columns<QString, QString, QPoint, QPoint, QString>("left", "top", "pixels", "now", "written");
        row("odd twips, not moved", "307", "452", QPoint(20, 30), QPoint(20, 30), "307,452");
        row("moved along one edge only", "307", "452", QPoint(20, 30), QPoint(40, 30), "600,452");
        row("nearest pixel, not moved", "307.5", "-308", QPoint(21, -21), QPoint(21, -21), "307.5,-308");
        row("far out, no exponent", "9999999", "-9999999", QPoint(666667, -666667), QPoint(666667, -666667),
            "9999999,-9999999");
        row("unusable texts give 300", "abc", "1e12", QPoint(20, 20), QPoint(20, 20), "300,300");
    }
    void storedPosition_unmovedWritesWhatWasRead_movedWritesNewPlace() {
        QFETCH(QString, left);
        QFETCH(QString, top);
        QFETCH(QPoint, now);
        const placement::StoredPosition position(left, top);
        QTEST(position.pixels(), "pixels");
        QTEST(position.leftText(now) + QLatin1Char(',') + position.topText(now), "written");
    }
};

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
