// SPDX-License-Identifier: GPL-3.0-or-later
#include "Controls.h"

#include <QAccessible>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
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

    void append(const QString& text, bool keepInView) {
        QString normalized = text;
        normalized.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        pending_ += normalized;
        keepInView_ = keepInView_ || keepInView;
        comeRound();
    }

    void keepEndInView() {
        keepInView_ = true;
        comeRound();
    }

    void discard() {
        pending_.clear();
        keepInView_ = false;
        turnEnd_.stop();
    }

    void flush() {
        turnEnd_.stop();
        if (!pending_.isEmpty()) {
            QTextCursor end(log_->document());
            end.movePosition(QTextCursor::End);
            end.insertText(std::exchange(pending_, QString()));
        }
        if (std::exchange(keepInView_, false)) {
            log_->moveCursor(QTextCursor::End);
            log_->ensureCursorVisible();
        }
    }

private:
    void comeRound() {
        if (!turnEnd_.isActive()) {
            turnEnd_.start();
        }
    }

    QPlainTextEdit* log_;
    QString pending_;
    bool keepInView_ = false;
    QTimer turnEnd_;
};

} // namespace

void appendToLog(QPlainTextEdit* log, const QString& text, bool keepInView) {
    LogWriter::of(log)->append(text, keepInView);
}

void keepLogEndInView(QPlainTextEdit* log) {
    LogWriter::of(log)->keepEndInView();
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

void setLabelValue(QLabel* label, const QString& value) {
    label->setText(value);
    const QString caption = label->property("valueCaption").toString();
    const QString name = caption.isEmpty() ? value : caption + QStringLiteral(": ") + value;
    if (label->accessibleName() != name) {
        label->setAccessibleName(name);
    }
}

} // namespace controls

#include "Controls.moc"
