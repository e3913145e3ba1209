// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QGroupBox>
#include <QPushButton>
#include <QString>
#include <QWidget>

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

} // namespace layout
