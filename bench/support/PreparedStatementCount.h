#pragma once

// Counts the statements this process prepares. A program linked with the
// bench_prepared_statements library has every sqlite3_prepare16_v2 call
// pass through here first (the link wraps the function).

class PreparedStatementCount {
public:
    // Statements prepared since the start.
    static long Now();
};
