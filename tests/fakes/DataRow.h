// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>
#include <QTest>

// Table helpers: columns<int, QString>("count", "text"); row("name", 3, "text"), C strings becoming QString, so
// that each row fits on one line.
inline QString dataColumn(const char* text) {
    return QString::fromUtf8(text);
}
template <typename T> const T& dataColumn(const T& value) {
    return value;
}
template <typename... Values> void row(const char* name, const Values&... values) {
    (QTest::newRow(name) << ... << dataColumn(values));
}
template <typename... Types, typename... Names> void columns(const Names&... names) {
    static_assert(sizeof...(Types) == sizeof...(Names));
    (QTest::addColumn<Types>(names), ...);
}

// The current row's value in a column, for tests that read many columns: col<int>("count").
template <typename T> T col(const char* name) {
    return *static_cast<T*>(QTest::qData(name, qMetaTypeId<T>()));
}

// A file's bytes (empty when it cannot be read), and a file written whole in a folder that exists.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
inline bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}
