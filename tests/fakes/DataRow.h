// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTest>

// Adds a QTest data row, one value per column; C strings become QString, so each row fits on one line.
inline QString dataColumn(const char* text) {
    return QString::fromUtf8(text);
}
template <typename T> const T& dataColumn(const T& value) {
    return value;
}
template <typename... Values> void row(const char* name, const Values&... values) {
    (QTest::newRow(name) << ... << dataColumn(values));
}
