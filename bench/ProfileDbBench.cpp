// Cost of the common reads of "profile.db" on a large file: a record by key,
// the children of one folder, and the next request row. The file is filled
// with 100,000 file rows and 100,000 request rows in a data folder of its
// own; nothing of the user's data is touched.
//
// Every prepare is counted (the link wraps sqlite3_prepare16_v2), so each
// line shows how many statements an operation prepares and what it costs,
// once with the statements' pause as the agent runs with it and once
// without, which leaves the pure query cost.

#include "bench/support/PreparedStatementCount.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>


#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
using Lithos::SQLiteStatement;

constexpr int kFileRows = 100000;
constexpr int kRequestRows = 100000;
constexpr int kFilesPerFolder = 100;
constexpr int kOpenRequestEvery = 100;  // one open row in a hundred, the rest finished

QString Key(const char* prefix, int n)
{
    return QString::fromLatin1(prefix) + QStringLiteral("%1").arg(n, 31, 16, QLatin1Char('0'));
}

QString FolderKey(int folder)
{
    return Key("d", folder);
}

// Plain inserts through the access layer, one transaction, no pause.
void Fill(PeltaDb& db)
{
    SQLiteStatement statement(db.Connection());
    statement.ExecuteOnce(QStringLiteral("begin"));
    for (int n = 0; n < kFileRows; ++n) {
        const int folder = n / kFilesPerFolder;
        statement.ExecuteOnce(
            QStringLiteral("insert into vfs_sync_file (key, sn, parent, name, path, version, ctime, mtime, size) "
                           "values ('%1', 'sn1', '%2', 'f%3.dat', '\\d%4\\f%3.dat', 'v1', 1700000000, 1700000000, %5)")
                .arg(Key("f", n), FolderKey(folder), QString::number(n), QString::number(folder),
                     QString::number(4096 + n)));
    }
    for (int n = 0; n < kRequestRows; ++n) {
        const bool open = n % kOpenRequestEvery == 0;
        statement.ExecuteOnce(
            QStringLiteral("insert into sync_request (key, sn, path, path2, agent_key, action, opt, status, priority, "
                           "request_time, commit_time) values ('%1', 'sn1', '\\d%2\\f%3.dat', '', 'agent', 1, '{}', "
                           "%4, %5, datetime('now', '-%6 second'), %7)")
                .arg(Key("f", n), QString::number(n / kFilesPerFolder), QString::number(n),
                     QString::number(open ? 1 : 4), QString::number(n % 2), QString::number(kRequestRows - n),
                     open ? QStringLiteral("NULL") : QStringLiteral("CURRENT_TIMESTAMP")));
    }
    statement.ExecuteOnce(QStringLiteral("commit"));
}

struct Measure {
    long prepares = 0;
    double milliseconds = 0;
};

// Runs the operation `calls` times; statements prepared and time per call.
Measure Run(int calls, const std::function<void()>& operation)
{
    const long before = PreparedStatementCount::Now();
    const auto start = Clock::now();
    for (int n = 0; n < calls; ++n)
        operation();
    const std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
    return {(PreparedStatementCount::Now() - before) / calls, elapsed.count() / calls};
}

void Print(const char* name, std::chrono::milliseconds pause, int calls, const Measure& measure, const char* note = "")
{
    std::printf("%-34s pause %3lld ms  calls %5d  prepared/call %ld  time/call %10.3f ms  %s\n", name,
                static_cast<long long>(pause.count()), calls, measure.prepares, measure.milliseconds, note);
}

void PrintPlan(PeltaDb& db, const QString& sql)
{
    std::printf("EXPLAIN QUERY PLAN %s\n", sql.toUtf8().constData());
    SQLiteStatement statement(db.Connection());
    statement.Prepare(QStringLiteral("explain query plan ") + sql);
    while (statement.FetchRow())
        std::printf("    %s\n", statement.GetColumnString16(3).toUtf8().constData());
}

// Runs the query and reads every row; the number of rows.
int ReadAll(PeltaDb& db, const QString& sql)
{
    SQLiteStatement statement(db.Connection());
    int rows = 0;
    if (db.QueryWith(sql, statement) > 0) {
        while (statement.FetchRow())
            ++rows;
    }
    return rows;
}

}  // namespace

int main()
{
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    qputenv("TESSARON_HOME", home.path().toUtf8());

    PeltaSyncAgentSetting settings;
    settings.Set(QStringLiteral("agent_key"), QStringLiteral("agent"));
    SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(0));
    PeltaDb db(settings);
    if (!db.IsOpen()) {
        std::fprintf(stderr, "profile.db could not be opened: %s\n", db.LastError().toUtf8().constData());
        return 1;
    }

    const auto fillStart = Clock::now();
    Fill(db);
    const std::chrono::duration<double> fillTime = Clock::now() - fillStart;
    std::printf("filled %d file rows and %d request rows (%d open) in %.1f s, one transaction, pause 0\n\n", kFileRows,
                kRequestRows, kRequestRows / kOpenRequestEvery, fillTime.count());

    const QString nextSql = QStringLiteral(
        "select rowid, * from sync_request where status in (1, 3, 5, 7, 6) and "
        "err_count=0 and commit_time is null order by priority, request_time, "
        "rowid limit 1");
    const QString parent = FolderKey(kFileRows / kFilesPerFolder / 2);
    const QString listing = QStringLiteral("select * from vfs_sync_file where parent='") + parent + QLatin1Char('\'');
    PrintPlan(db, listing);
    PrintPlan(db, QStringLiteral("select * from vfs_sync_file where key='") + Key("f", 4242) + QStringLiteral("';"));
    PrintPlan(db, nextSql);
    std::printf("\n");

    PeltaRecVfsSyncFile record;
    PeltaRecSyncRequest request;
    int listed = 0;
    const auto recGet = [&] {
        record.Clear();
        record.kind = XFSFile;
        record.key = Key("f", 4242);
        db.RecGet(record);
    };
    const auto list = [&] { listed = ReadAll(db, listing); };
    const auto next = [&] { db.GetNextRequest(request, 2); };
    const auto selectNext = [&] { ReadAll(db, nextSql); };

    struct Setting {
        std::chrono::milliseconds pause;
        int calls;
    };
    for (const Setting setting :
         {Setting{SQLiteStatement::DefaultPause, 5}, Setting{std::chrono::milliseconds(0), 500}}) {
        SQLiteStatement::SetPauseDuration(setting.pause);
        const Measure getMeasure = Run(setting.calls, recGet);
        Print("RecGet by key", setting.pause, setting.calls, getMeasure, record.found ? "found" : "NOT FOUND");
        const Measure listMeasure = Run(setting.calls, list);
        const QByteArray rows = QByteArray::number(listed) + " rows";
        Print("listing by parent (read to end)", setting.pause, setting.calls, listMeasure, rows.constData());
        request.Clear();
        const Measure nextMeasure = Run(setting.calls, next);
        Print("GetNextRequest (mode 2)", setting.pause, setting.calls, nextMeasure,
              request.key.isEmpty() ? "none" : "row taken and stamped");
        const Measure selectMeasure = Run(setting.calls, selectNext);
        Print("  its row query alone", setting.pause, setting.calls, selectMeasure, "");
    }

    // The same listing without the index on parent, for comparison.
    SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(0));
    db.Exec(QStringLiteral("drop index idx_vfs_sync_file_parent"));
    std::printf("\nwithout idx_vfs_sync_file_parent:\n");
    PrintPlan(db, listing);
    Print("listing by parent (read to end)", std::chrono::milliseconds(0), 50, Run(50, list), "no index");
    db.Migrate();
    Print("listing by parent (read to end)", std::chrono::milliseconds(0), 50, Run(50, list), "index made again");

    // Taking the next row without the index on open request rows.
    db.Exec(QStringLiteral("drop index idx_sync_request_open"));
    std::printf("\nwithout idx_sync_request_open:\n");
    PrintPlan(db, nextSql);
    Print("GetNextRequest (mode 2)", std::chrono::milliseconds(0), 50, Run(50, next), "no index");
    db.Migrate();
    Print("GetNextRequest (mode 2)", std::chrono::milliseconds(0), 50, Run(50, next), "index made again");

    SQLiteStatement::SetPauseDuration(SQLiteStatement::DefaultPause);
    return 0;
}
