#pragma once

#include <QString>

// Base of the row records: the quote doubling that every text written into
// SQL goes through.
class PeltaRec {
public:
    static QString EscapeQuote(const QString& text);
    // The text as an SQL string literal: in single quotes, its quotes doubled.
    static QString Literal(const QString& text);
};
