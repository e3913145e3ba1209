// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QGroupBox>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <initializer_list>

// Building windows from layout tables given in twips: every control gets its object name, its place
// and an accessible name.
namespace layout {

// 15 twips make one pixel at 96 DPI.
constexpr int twips(int t) {
    return t / 15;
}

// Places a widget in twips relative to its parent.
template <typename W> W* place(W* w, QWidget* parent, const char* name, int left, int top, int width, int height) {
    w->setParent(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
    return w;
}

// A group box; without an accessible name of its own, screen readers read its caption.
inline QGroupBox* frame(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h,
                        const QString& accessible = {}) {
    auto* box = place(new QGroupBox(caption), parent, name, l, t, w, h);
    box->setAccessibleName(accessible.isEmpty() ? caption.simplified() : accessible);
    return box;
}

inline QPushButton* button(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h,
                           const QString& accessible = {}) {
    auto* b = place(new QPushButton(caption), parent, name, l, t, w, h);
    b->setAccessibleName(accessible.isEmpty() ? caption : accessible);
    return b;
}

// The control of that name, for the layout's own lists. A name the window lacks is a slip in the layout code: it
// stops the program at once (every test builds the windows) instead of quietly leaving a control out.
inline QWidget* named(QWidget* window, const char* name) {
    auto* w = window->findChild<QWidget*>(QString::fromLatin1(name));
    if (w == nullptr) {
        qFatal("The layout names a control the window does not have: %s", name);
    }
    return w;
}

// Tab order through the named controls, in the order given.
inline void setTabOrder(QWidget* window, std::initializer_list<const char*> names) {
    QWidget* previous = nullptr;
    for (const char* name : names) {
        QWidget* w = named(window, name);
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, w);
        }
        previous = w;
    }
}

} // namespace layout
