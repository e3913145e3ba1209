// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPlainTextEdit>
#include <QString>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMimeData;

// Small helpers over Qt widgets that give them the behaviour the program's controls need.
namespace controls {

// A check box value: 0 not ticked, 1 ticked, 2 greyed. Greyed is only ever set by the program (from a
// settings file); a click on a greyed box ticks it and the box becomes two-state again.
int checkValue(const QCheckBox* box);
void setCheckValue(QCheckBox* box, int value);

// Whatever the user puts into the box comes out in capitals, from the first key on: typed, pasted, dropped,
// from an input method, or put in with insert(). The caret stays where the text went in. Text set by the
// program (setText) is left as it is until the user changes the box; then all of it becomes capitals.
void makeUpperCaseEntry(QLineEdit* edit);

// A log: read-only from the start, so a stray key cannot wipe it and screen readers call it read-only text,
// yet focusable and selectable from the keyboard, so it can be read line by line and copied. Copying out of it
// (keys, context menu, drag, selection) gives the text that came, without the invisible break points put into
// long unbroken runs so that they can wrap (see chat::logDisplayText), and with plain line breaks.
// Note: QPlainTextEdit::setReadOnly() would take the keyboard selection away again.
class LogView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogView(QWidget* parent = nullptr);

    static constexpr QChar BreakPoint{u'\u200B'}; // zero-width space
    // The text a copy of the shown text gives.
    static QString copiedText(const QString& shown);

protected:
    QMimeData* createMimeDataFromSelection() const override;
};

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

// A line box whose text was never set reports a caret move on its first focus, just before the focus itself;
// Orca takes the move for the focus and then says nothing. Setting the (empty) text once settles the caret.
void settleCaret(QLineEdit* edit);

// As keepLogEndInView(), unless the reader is elsewhere in the log: while the log has the focus and its
// caret is not at the end (or text is selected), caret and view stay where they are, so a screen reader
// walking older lines is not thrown to the end by each new text.
void followLogEnd(QPlainTextEdit* log);

// Shows a value in a label and lets screen readers read it: the accessible name becomes "<caption>: <value>",
// where caption is the label's "valueCaption" property. A focusable value label also tells screen readers of
// each change as a value change, which Orca announces when the label has the focus.
void setLabelValue(QLabel* label, const QString& value);
void makeValueLabel(QLabel* label, const QString& caption);
// A value label the keyboard reaches with Tab, without a new look. When quietWhileFocused is set (a clock),
// its accessible name is left alone while it has the focus, so a screen reader does not read each new value
// aloud; it is brought up to date when the focus comes.
void makeFocusableValueLabel(QLabel* label, bool quietWhileFocused = false);

// Screen readers see the button as a toggle (checkable; checked and pressed while on), without a new look: a
// checkable QPushButton would draw itself sunken. setTogglePressed() tells them of each change.
void makeToggleButton(QAbstractButton* button);
void setTogglePressed(QAbstractButton* button, bool pressed);
bool togglePressed(const QAbstractButton* button);

// A top-level window that screen readers see as a window with its caption, where Qt would give a plain
// filler whose name nobody reads.
void makeAccessibleWindow(QWidget* window);

// Underlines the first `letter` of the button's caption (Alt+letter presses it). The accessible name stays
// the caption's words, without the "&".
void setMnemonic(QAbstractButton* button, QChar letter);
// The caption as read, without the mnemonic's "&" ("&&" stays one "&").
QString withoutMnemonic(const QString& caption);

} // namespace controls
