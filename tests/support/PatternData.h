#pragma once

// Deterministic test content: the same size and seed always give the same
// bytes, every byte value occurs, and two seeds give different content.

#include <QByteArray>

QByteArray PatternData(qint64 size, int seed = 0);
