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
//
// What is appended during one turn of the event loop is put in at the end of that turn, in one piece: a
// burst of lines costs one layout and one scroll, not one per line. Until then the text is pending;
// flushLog() puts it in at once.
void appendToLog(QPlainTextEdit* log, const QString& text, bool keepInView = true);
// Puts the caret at the end of the log and the view on it, after whatever text is pending.
void keepLogEndInView(QPlainTextEdit* log);
// Puts pending text in now.
void flushLog(QPlainTextEdit* log);
// Empties the log, pending text included.
void clearLog(QPlainTextEdit* log);

// Shows a value in a label and lets screen readers read it: the accessible name becomes
// "<caption>: <value>", where caption is the label's "valueCaption" property.
void setLabelValue(QLabel* label, const QString& value);
void makeValueLabel(QLabel* label, const QString& caption);

} // namespace controls
