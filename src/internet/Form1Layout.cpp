// SPDX-License-Identifier: GPL-3.0-or-later
#include "internet/Form1Layout.h"

#include "ui/Controls.h"
#include "ui/Layout.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <utility>

namespace internet {
namespace {

using layout::button;
using layout::frame;
using layout::place;

} // namespace

void enableWebAccessibility() {
    const QByteArray flag = "--force-renderer-accessibility";
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.split(' ').contains(flag)) {
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.isEmpty() ? flag : flags + ' ' + flag);
    }
    // The engine leaves its accessibility off on Linux unless asked.
    qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
}

QRect browserGeometry() {
    return {0, 0, layout::twips(6855), layout::twips(6255)};
}

Form1Controls buildForm1Layout(QWidget* window) {
    Form1Controls c;
    controls::makeAccessibleWindow(window);
    window->setFixedSize(layout::twips(7170), layout::twips(7665));
    QFont base(QStringLiteral("MS Sans Serif"));
    base.setPointSizeF(8.25);
    window->setFont(base);

    c.PicFrame = place(new QFrame, window, "PicFrame", 120, 0, 6975, 6375);
    c.PicFrame->setAccessibleName(QStringLiteral("Web browser"));

    // The group boxes come first so that the buttons drawn over them stay on top.
    frame(window, "Frame11", QString(), 120, 6360, 6975, 615, QStringLiteral("Web pages"));
    auto* frame8 = frame(window, "Frame8", QStringLiteral("Look up Call on QRZ"), 120, 6960, 2535, 615,
                         QStringLiteral("Look up Call on QRZ"));
    auto* frame9 = frame(window, "Frame9", QStringLiteral("Auto Show QRZ Info"), 2760, 6960, 1815, 615,
                         QStringLiteral("Auto Show QRZ Info"));
    auto* frame10 = frame(window, "Frame10", QStringLiteral("Last Connected Node"), 4680, 6960, 2415, 615,
                          QStringLiteral("Last Connected Node"));

    c.Command2 =
        button(window, "Command2", QStringLiteral("eQSL"), 360, 6600, 1215, 255, QStringLiteral("Open the eQSL site"));
    c.Command10 = button(window, "Command10", QStringLiteral("Current Logins"), 1680, 6600, 1215, 255,
                         QStringLiteral("Open the EchoLink current logins"));
    c.Command9 = button(window, "Command9", QStringLiteral("EchoLink"), 3000, 6600, 1215, 255,
                        QStringLiteral("Open the EchoLink site"));
    c.Command11 = button(window, "Command11", QStringLiteral("Proxy List"), 4320, 6600, 1215, 255,
                         QStringLiteral("Open the EchoLink proxy list"));
    c.Command3 = button(window, "Command3", QStringLiteral("Vexhaven"), 5640, 6600, 1215, 255,
                        QStringLiteral("Open the Vexhaven add-ons site"));

    auto* text1 = c.Text1 = place(new QLineEdit, frame8, "Text1", 120, 240, 1455, 285);
    text1->setAccessibleName(QStringLiteral("Callsign to look up"));
    QPalette pal = text1->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::Text, pal.color(QPalette::ToolTipText));
    text1->setPalette(pal);
    controls::makeUpperCaseEntry(text1);
    controls::settleCaret(text1);

    c.Command1 = button(window, "Command1", QStringLiteral("QRZ"), 1800, 7200, 735, 255,
                        QStringLiteral("Look up the callsign on QRZ"));

    auto* check9 = c.Check9 =
        place(new QCheckBox(QStringLiteral("Show QRZ Info")), frame9, "Check9", 120, 240, 1455, 255);
    check9->setAccessibleName(QStringLiteral("Show QRZ Info"));

    auto* label2 = c.Label2 = place(new QLabel(QStringLiteral("None")), frame10, "Label2", 120, 240, 2175, 255);
    QFont bold(QStringLiteral("MS Sans Serif"));
    bold.setPointSizeF(9.75);
    bold.setBold(true);
    label2->setFont(bold);
    QPalette labelPalette = label2->palette();
    labelPalette.setColor(QPalette::WindowText, QColor(0, 0, 0xC0));
    label2->setPalette(labelPalette);
    controls::makeValueLabel(label2, QStringLiteral("Last connected node"));

    controls::makeFocusableValueLabel(label2);
    layout::setTabOrder(window, {"Command2", "Command10", "Command9", "Command11", "Command3", "Text1", "Command1",
                                 "Check9", "Label2"});

    // Alt+letter for every button, no letter twice.
    const std::pair<QPushButton*, char> mnemonics[] = {{c.Command2, 'e'},  {c.Command10, 'C'}, {c.Command9, 'L'},
                                                       {c.Command11, 'P'}, {c.Command3, 'V'},  {c.Command1, 'Q'}};
    for (const auto& [b, letter] : mnemonics) {
        controls::setMnemonic(b, QChar::fromLatin1(letter));
    }
    return c;
}

} // namespace internet
