#pragma once

// Whole-file reads and writes for tests.

#include <QByteArray>
#include <QString>

// The file's bytes; empty when it cannot be read.
QByteArray ReadFileBytes(const QString& path);

// Creates or truncates the file and writes bytes; false when that failed.
bool WriteFileBytes(const QString& path, const QByteArray& bytes);
