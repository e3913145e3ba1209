// SPDX-License-Identifier: GPL-3.0-or-later
#include "Controls.h"

#include <QAccessible>
#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
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

class UpperCaseFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        auto* edit = qobject_cast<QLineEdit*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (edit == nullptr || text.isEmpty() || edit->isReadOnly() ||
            (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0) {
            return false;
        }
        const QString upper = text.toUpper();
        if (upper == text || !text.at(0).isPrint()) {
            return false;
        }
        edit->insert(upper);
        return true;
    }
};

} // namespace

void makeUpperCaseEntry(QLineEdit* edit) {
    if (edit->property("upperCaseEntry").toBool()) {
        return;
    }
    edit->setProperty("upperCaseEntry", true);
    edit->installEventFilter(new UpperCaseFilter(edit));
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
