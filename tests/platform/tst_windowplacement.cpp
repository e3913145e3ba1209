// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRow.h"
#include "WindowPlacement.h"

#include <QTest>

class TestWindowPlacement : public QObject {
    Q_OBJECT

private slots:
    void parseTwips_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        QTest::newRow("whole") << "300" << true << 300.0;
        QTest::newRow("fraction and spaces") << " 450.5 " << true << 450.5;
        QTest::newRow("negative") << "-1200" << true << -1200.0;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("words") << "abc" << false << 0.0;
        QTest::newRow("number then words") << "300px" << false << 0.0;
        QTest::newRow("not a number") << "nan" << false << 0.0;
        QTest::newRow("infinite") << "inf" << false << 0.0;
        QTest::newRow("astronomic") << "1e12" << false << 0.0;
    }
    void parseTwips() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(double, value);
        const auto parsed = placement::parseTwips(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid) {
            QCOMPARE(*parsed, value);
        }
    }

    void parseCheckValue_acceptsOnlyZeroOneTwo() {
        QCOMPARE(placement::parseCheckValue(QStringLiteral("0")), std::optional<int>(0));
        QCOMPARE(placement::parseCheckValue(QStringLiteral(" 1 ")), std::optional<int>(1));
        for (const char* bad : {"3", "-1", "", "yes", "1.5", "99999999999"}) {
            QVERIFY2(!placement::parseCheckValue(QString::fromLatin1(bad)).has_value(), bad);
        }
    }

    void keepOnScreen_data() {
        QTest::addColumn<QPoint>("wanted");
        QTest::addColumn<bool>("kept");
        QTest::newRow("on the first screen") << QPoint(20, 20) << true;
        QTest::newRow("on the second screen") << QPoint(2000, 300) << true;
        QTest::newRow("partly off the left edge") << QPoint(-400, 100) << true;
        QTest::newRow("far left") << QPoint(-10000, 20) << false;
        QTest::newRow("only a sliver at the right edge") << QPoint(3830, 20) << false;
        QTest::newRow("title bar above the screens") << QPoint(100, -15) << false;
        QTest::newRow("below the screens") << QPoint(100, 1075) << false;
        QTest::newRow("in the gap below the smaller screen") << QPoint(2000, 1050) << false;
    }
    void keepOnScreen() {
        QFETCH(QPoint, wanted);
        QFETCH(bool, kept);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1024)};
        QCOMPARE(placement::keepOnScreen(wanted, QSize(478, 511), screens, QPoint(20, 20)),
                 kept ? wanted : QPoint(20, 20));
    }

    // The texts as stored, the pixels the window is put at, where it is at the save, and what the save writes.
    void storedPosition_unmovedWritesWhatWasRead_movedWritesNewPlace_data() {
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("top");
        QTest::addColumn<QPoint>("pixels");
        QTest::addColumn<QPoint>("now");
        QTest::addColumn<QString>("written"); // "LEFT,TOP"
        row("odd twips, not moved", "307", "452", QPoint(20, 30), QPoint(20, 30), "307,452");
        row("odd twips, moved", "307", "452", QPoint(20, 30), QPoint(40, 60), "600,900");
        row("moved along one edge only", "307", "452", QPoint(20, 30), QPoint(40, 30), "600,452");
        row("nearest pixel, not moved", "307.5", "-308", QPoint(21, -21), QPoint(21, -21), "307.5,-308");
        row("far out, no exponent", "9999999", "-9999999", QPoint(666667, -666667), QPoint(666667, -666667),
            "9999999,-9999999");
        row("unusable texts give 300", "abc", "1e12", QPoint(20, 20), QPoint(20, 20), "300,300");
        row("brought back from off the screens", "-150000", "900000", QPoint(-10000, 60000), QPoint(20, 20), "300,300");
    }
    void storedPosition_unmovedWritesWhatWasRead_movedWritesNewPlace() {
        QFETCH(QString, left);
        QFETCH(QString, top);
        QFETCH(QPoint, pixels);
        QFETCH(QPoint, now);
        QFETCH(QString, written);
        const placement::StoredPosition position(left, top);
        QCOMPARE(position.pixels(), pixels);
        QCOMPARE(position.leftText(now) + QLatin1Char(',') + position.topText(now), written);
    }
};

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
