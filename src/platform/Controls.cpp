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

void appendToLog(QPlainTextEdit* log, const QString& text, bool keepInView) {
    QString normalized = text;
    normalized.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor end(log->document());
    end.movePosition(QTextCursor::End);
    end.insertText(normalized);
    if (keepInView) {
        log->moveCursor(QTextCursor::End);
        log->ensureCursorVisible();
    }
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
