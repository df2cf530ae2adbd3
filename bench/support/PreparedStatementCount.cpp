#include "bench/support/PreparedStatementCount.h"

#include <sqlite3.h>

#include <atomic>

namespace {

std::atomic<long> prepared{0};

}  // namespace

extern "C" {
int __real_sqlite3_prepare16_v2(sqlite3* db, const void* sql, int bytes, sqlite3_stmt** statement, const void** tail);

int __wrap_sqlite3_prepare16_v2(sqlite3* db, const void* sql, int bytes, sqlite3_stmt** statement, const void** tail)
{
    prepared.fetch_add(1);
    return __real_sqlite3_prepare16_v2(db, sql, bytes, statement, tail);
}
}

long PreparedStatementCount::Now()
{
    return prepared.load();
}
