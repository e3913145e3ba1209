// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

// Small helpers over Qt widgets that give them the behaviour the program's controls need.
namespace controls {

// A check box value: 0 not ticked, 1 ticked, 2 greyed. Greyed is only ever set by the program (from a
// settings file); a click on a greyed box ticks it and the box becomes two-state again.
int checkValue(const QCheckBox* box);
void setCheckValue(QCheckBox* box, int value);

// Letters typed into the box are entered as capitals from the first key on; text already in the box,
// or set by the program, is left as it is.
void makeUpperCaseEntry(QLineEdit* edit);

// Appends text at the end of a log without rewriting what is there, so the cost does not grow with
// the log. Text is shown literally. When keepInView is set, the caret goes to the end and the view
// follows it.
void appendToLog(QPlainTextEdit* log, const QString& text, bool keepInView = true);

// Shows a value in a label and lets screen readers read it: the accessible name becomes
// "<caption>: <value>", where caption is the label's "valueCaption" property.
void setLabelValue(QLabel* label, const QString& value);
void makeValueLabel(QLabel* label, const QString& caption);

} // namespace controls
