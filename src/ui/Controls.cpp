// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Controls.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <utility>

namespace controls {

int checkValue(const QCheckBox* box) {
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    case Qt::Unchecked:
        break;
    }
    return 0;
}

void setCheckValue(QCheckBox* box, int value) {
    if (value == 2) {
        box->setTristate(true);
        box->setCheckState(Qt::PartiallyChecked);
        // A user's click moves greyed to ticked; from then on the box has two states only.
        QObject::connect(
            box, &QCheckBox::clicked, box, [box] { box->setTristate(false); }, Qt::SingleShotConnection);
        return;
    }
    box->setTristate(false);
    box->setCheckState(value == 1 ? Qt::Checked : Qt::Unchecked);
}

namespace {

// Capitals however text comes in. Typed letters are put in as capitals straight away, and an input
// method's committed text is handed on in capitals, so both keep the box's undo steps; whatever else the
// user enters (paste, drop, the context menu, insert()) is caught once it is in the box.
class UpperCaseFilter : public QObject {
public:
    explicit UpperCaseFilter(QLineEdit* edit) : QObject(edit), edit_(edit) {
        connect(edit, &QLineEdit::textEdited, this, &UpperCaseFilter::edited);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != edit_ || edit_->isReadOnly()) {
            return false;
        }
        if (event->type() == QEvent::InputMethod) {
            return upperCaseCommit(static_cast<QInputMethodEvent*>(event));
        }
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.isEmpty() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0) {
            return false;
        }
        const QString upper = text.toUpper();
        if (upper == text || !text.at(0).isPrint()) {
            return false;
        }
        edit_->insert(upper);
        return true;
    }

private:
    bool upperCaseCommit(QInputMethodEvent* event) {
        const QString commit = event->commitString();
        const QString upper = commit.toUpper();
        if (upper == commit) {
            return false;
        }
        QInputMethodEvent changed(event->preeditString(), event->attributes());
        changed.setCommitString(upper, event->replacementStart(), event->replacementLength());
        QCoreApplication::sendEvent(edit_, &changed); // passes this filter again, with nothing left to change
        event->setAccepted(changed.isAccepted());
        return true;
    }

    void edited(const QString& text) {
        const QString upper = text.toUpper();
        if (upper == text) {
            return;
        }
        // A letter may become two (ß, ŉ): the caret stays after the same letters.
        const int caret = int(text.left(edit_->cursorPosition()).toUpper().size());
        edit_->setText(upper);
        edit_->setCursorPosition(caret);
    }

    QLineEdit* edit_;
};

} // namespace

void makeUpperCaseEntry(QLineEdit* edit) {
    if (edit->property("upperCaseEntry").toBool()) {
        return;
    }
    edit->setProperty("upperCaseEntry", true);
    edit->installEventFilter(new UpperCaseFilter(edit));
}

void settleCaret(QLineEdit* edit) {
    edit->setText(edit->text());
}

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
}

QString LogView::copiedText(const QString& shown) {
    QString text = shown;
    text.remove(BreakPoint);
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

QMimeData* LogView::createMimeDataFromSelection() const {
    // Plain text only: the rich forms would carry the break points along.
    auto* copied = new QMimeData;
    copied->setText(copiedText(textCursor().selectedText()));
    return copied;
}

namespace {

// Gathers what is appended to one log and puts it in once the event loop comes round.
class LogWriter : public QObject {
    Q_OBJECT
public:
    explicit LogWriter(QPlainTextEdit* log) : QObject(log), log_(log) {
        turnEnd_.setSingleShot(true);
        turnEnd_.setInterval(0);
        connect(&turnEnd_, &QTimer::timeout, this, &LogWriter::flush);
    }

    static LogWriter* of(QPlainTextEdit* log) {
        auto* writer = log->findChild<LogWriter*>(QString(), Qt::FindDirectChildrenOnly);
        return writer != nullptr ? writer : new LogWriter(log);
    }

    enum class View { Stay, FollowUnlessReading, KeepEnd };

    void append(const QString& text, bool keepInView) {
        QString normalized = text;
        normalized.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        pending_ += normalized;
        want(keepInView ? View::KeepEnd : View::Stay);
    }

    void want(View view) {
        view_ = std::max(view_, view);
        comeRound();
    }

    void discard() {
        pending_.clear();
        view_ = View::Stay;
        turnEnd_.stop();
    }

    void flush() {
        turnEnd_.stop();
        View view = std::exchange(view_, View::Stay);
        if (view == View::FollowUnlessReading && readerIsElsewhere()) {
            view = View::Stay;
        }
        if (!pending_.isEmpty()) {
            QTextCursor end(log_->document());
            end.movePosition(QTextCursor::End);
            end.insertText(std::exchange(pending_, QString()));
        }
        if (view != View::Stay) {
            log_->moveCursor(QTextCursor::End);
            log_->ensureCursorVisible();
        }
    }

private:
    // Judged before the new text goes in: a caret at the old end counts as following.
    bool readerIsElsewhere() const {
        if (!log_->hasFocus()) {
            return false;
        }
        const QTextCursor caret = log_->textCursor();
        return caret.hasSelection() || !caret.atEnd();
    }

    void comeRound() {
        if (!turnEnd_.isActive()) {
            turnEnd_.start();
        }
    }

    QPlainTextEdit* log_;
    QString pending_;
    View view_ = View::Stay;
    QTimer turnEnd_;
};

} // namespace

void appendToLog(QPlainTextEdit* log, const QString& text, bool keepInView) {
    LogWriter::of(log)->append(text, keepInView);
}

void keepLogEndInView(QPlainTextEdit* log) {
    LogWriter::of(log)->want(LogWriter::View::KeepEnd);
}

void followLogEnd(QPlainTextEdit* log) {
    LogWriter::of(log)->want(LogWriter::View::FollowUnlessReading);
}

void flushLog(QPlainTextEdit* log) {
    LogWriter::of(log)->flush();
}

void clearLog(QPlainTextEdit* log) {
    LogWriter::of(log)->discard();
    log->clear();
}

void makeValueLabel(QLabel* label, const QString& caption) {
    label->setProperty("valueCaption", caption);
    label->setTextFormat(Qt::PlainText);
    setLabelValue(label, label->text());
}

namespace {

const char* const RevisionProperty = "valueRevision";
const char* const HeardValueProperty = "heardValue";

QString valueName(const QLabel* label) {
    const QString caption = label->property("valueCaption").toString();
    return caption.isEmpty() ? label->text() : caption + QStringLiteral(": ") + label->text();
}

void showValueName(QLabel* label) {
    const QString name = valueName(label);
    if (label->accessibleName() == name) {
        return;
    }
    label->setAccessibleName(name);
    // Qt 6.4 sends the object, not the new name, with a name change, and Orca drops a label's name changes
    // anyway; a value change of the control it is on has Orca read that control again.
    // Orca keeps one last value for all controls: a number no other change had.
    static int lastRevision = 0;
    const int revision = ++lastRevision;
    label->setProperty(RevisionProperty, revision);
    if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(label);
        iface != nullptr && iface->valueInterface() != nullptr) {
        QAccessibleValueChangeEvent event(label, revision);
        QAccessible::updateAccessibility(&event);
    }
}

// Brings a quiet label's name up to date as the focus arrives, before the screen reader asks for it.
class QuietLabelFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            showValueName(static_cast<QLabel*>(watched));
        }
        return false;
    }
};

} // namespace

void setLabelValue(QLabel* label, const QString& value) {
    label->setText(value);
    if (label->property("quietWhileFocused").toBool() && label->hasFocus()) {
        return;
    }
    showValueName(label);
}

namespace {

const char* const ToggleProperty = "accessibleToggle";
const char* const PressedProperty = "accessiblePressed";
const char* const WindowProperty = "accessibleWindow";

// A button read as a toggle: checkable, and checked and pressed while its property says so. Its role is the one
// Qt gives its own checkable buttons (check box): Qt 6.4 has no toggle-button role on Linux, and screen readers
// say nothing of "pressed" on a plain button.
class ToggleButtonAccessible : public QAccessibleWidget {
public:
    explicit ToggleButtonAccessible(QAbstractButton* button) : QAccessibleWidget(button, QAccessible::CheckBox) {}

    QAbstractButton* button() const { return static_cast<QAbstractButton*>(object()); }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = togglePressed(button());
        s.pressed = s.checked;
        return s;
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty()) {
            return withoutMnemonic(button()->text());
        }
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override {
        return QStringList{toggleAction(), pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action == toggleAction() || action == pressAction()) {
            if (button()->isEnabled()) {
                button()->click();
            }
            return;
        }
        QAccessibleWidget::doAction(action);
    }

    QStringList keyBindingsForAction(const QString& action) const override {
        const QKeySequence mnemonic = QKeySequence::mnemonic(button()->text());
        if ((action == toggleAction() || action == pressAction()) && !mnemonic.isEmpty()) {
            return {mnemonic.toString(QKeySequence::NativeText)};
        }
        return QAccessibleWidget::keyBindingsForAction(action);
    }
};

// A focusable value label: a label whose value changes with its text, to a number no change had before (see
// showValueName()).
class ValueLabelAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ValueLabelAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }
    QVariant currentValue() const override { return object()->property(RevisionProperty).toInt(); }
    void setCurrentValue(const QVariant& /*value*/) override {}
    QVariant maximumValue() const override { return std::numeric_limits<int>::max(); }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
};

QAccessibleInterface* accessibleFactory(const QString& /*className*/, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (auto* button = qobject_cast<QAbstractButton*>(widget);
        button != nullptr && button->property(ToggleProperty).toBool()) {
        return new ToggleButtonAccessible(button);
    }
    if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && label->property(HeardValueProperty).toBool()) {
        return new ValueLabelAccessible(label);
    }
    if (widget->isWindow() && widget->property(WindowProperty).toBool()) {
        return new QAccessibleWidget(widget, QAccessible::Window);
    }
    return nullptr;
}

// Idempotent: the factory is installed once per process, before any interface of ours is asked for.
void installAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)installed;
}

// An interface Qt made before the property was set (a name change asks for one) has the plain role: dropped,
// so the next query goes through the factory.
void renewInterface(QObject* object, QAccessible::Role wanted, bool withValue = false) {
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(object);
        made != nullptr && (made->role() != wanted || (withValue && made->valueInterface() == nullptr))) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}

} // namespace

void makeToggleButton(QAbstractButton* button) {
    installAccessibleFactory();
    button->setProperty(ToggleProperty, true);
    renewInterface(button, QAccessible::CheckBox);
}

bool togglePressed(const QAbstractButton* button) {
    return button->property(PressedProperty).toBool();
}

void setTogglePressed(QAbstractButton* button, bool pressed) {
    if (togglePressed(button) == pressed) {
        return; // refreshed each second: no event without a change
    }
    button->setProperty(PressedProperty, pressed);
    QAccessible::State changed;
    changed.checked = true;
    changed.pressed = true;
    QAccessibleStateChangeEvent event(button, changed);
    QAccessible::updateAccessibility(&event);
}

void makeFocusableValueLabel(QLabel* label, bool quietWhileFocused) {
    // Tab only: a click leaves the focus where it was, and no caret or frame appears.
    label->setFocusPolicy(Qt::TabFocus);
    installAccessibleFactory();
    label->setProperty(HeardValueProperty, true);
    renewInterface(label, QAccessible::StaticText, true);
    if (quietWhileFocused && !label->property("quietWhileFocused").toBool()) {
        label->setProperty("quietWhileFocused", true);
        label->installEventFilter(new QuietLabelFilter(label));
    }
}

void makeAccessibleWindow(QWidget* window) {
    installAccessibleFactory();
    window->setProperty(WindowProperty, true);
    renewInterface(window, QAccessible::Window);
}

void setMnemonic(QAbstractButton* button, QChar letter) {
    QString caption = withoutMnemonic(button->text());
    const qsizetype at = caption.indexOf(letter);
    Q_ASSERT(at >= 0);
    if (at < 0) {
        return;
    }
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    caption.insert(caption.indexOf(letter), QLatin1Char('&'));
    if (button->accessibleName().isEmpty()) {
        button->setAccessibleName(withoutMnemonic(caption));
    }
    button->setText(caption);
}

QString withoutMnemonic(const QString& caption) {
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == QLatin1Char('&') && i + 1 < caption.size()) {
            ++i;
        }
        plain += caption.at(i);
    }
    return plain;
}

} // namespace controls

#include "Controls.moc"
