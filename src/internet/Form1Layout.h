// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace internet {

// The internet options window's controls; the old program's names, kept on purpose (docs/glossary.md).
struct Form1Controls {
    QWidget* PicFrame = nullptr;      // holds the browser
    QPushButton* Command1 = nullptr;  // "QRZ"
    QPushButton* Command2 = nullptr;  // "eQSL"
    QPushButton* Command3 = nullptr;  // "Vexhaven"
    QPushButton* Command9 = nullptr;  // "EchoLink"
    QPushButton* Command10 = nullptr; // "Current Logins"
    QPushButton* Command11 = nullptr; // "Proxy List"
    QLineEdit* Text1 = nullptr;
    QCheckBox* Check9 = nullptr;
    QLabel* Label2 = nullptr;
};

// Builds every control of the internet options window at its fixed place, each with its object name,
// caption, font, colour, accessible name and tab order, except the browser itself, which goes into
// "PicFrame" at browserGeometry().
Form1Controls buildForm1Layout(QWidget* window);

// Where the browser goes inside "PicFrame", in pixels.
QRect browserGeometry();

// Has the web engine, once it starts, give screen readers the page: renderer accessibility on in its flags.
// Adds the flag once, keeping flags already there.
void enableWebAccessibility();

} // namespace internet
