#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace Lithos {

class SQLiteDatabase;

// One prepared statement at a time on a connection. Every statement is
// complete SQL text (no parameter binding). A busy database is waited for,
// one pause at a time and without limit, and every prepare is followed by a
// pause; the pause lasts 100 ms unless the process chooses otherwise.
//
// The object owns only its own handle: a new Prepare finalizes the handle it
// replaces and the destructor finalizes the current one. Other statements on
// the same connection are never touched.
//
// Every failure is thrown as SQLiteException with file "LithosSQLiteStatement".
class SQLiteStatement {
public:
    static constexpr std::chrono::milliseconds DefaultPause{100};

    // The pause after every prepare and per busy wait, for the whole process.
    static void SetPauseDuration(std::chrono::milliseconds pause);
    static std::chrono::milliseconds PauseDuration();

    // The database is not owned and must be set for Prepare to work.
    explicit SQLiteStatement(SQLiteDatabase* database);
    virtual ~SQLiteStatement();

    SQLiteStatement(const SQLiteStatement&) = delete;
    SQLiteStatement& operator=(const SQLiteStatement&) = delete;

    // Prepares the first statement of sql, waiting while the database is busy.
    void Prepare(const QString& sql);
    // One step: true for a row, false when done. Waits while busy.
    bool Step();
    // Prepare, Step (result ignored), FreeStatement.
    void ExecuteOnce(const QString& sql);
    // The next row: true for a row, false when done. Waits while busy or
    // locked; any other unexpected result is tried once more, then thrown.
    bool FetchRow();
    // Finalizes the current statement; returns SQLite's result.
    int FreeStatement();
    // Rewinds the statement so that the next FetchRow gives the first row.
    void Reset();
    // Column 0 of the last row of sql as a double, 0 when there is no row.
    double QueryDouble(const QString& sql);

    // Column access by index, 0-based.
    int GetColumnCount() const;
    std::string GetColumnName(int index) const;
    double GetColumnDouble(int index) const;
    std::int64_t GetColumnInt64(int index) const;
    QString GetColumnString16(int index) const;  // null QString for NULL

    // Column access by name (UTF-8 column name, exact match).
    int GetAssignedColumnNumber(const std::string& name);
    int GetColumnIntByName(const std::string& name);
    std::int64_t GetColumnInt64ByName(const std::string& name);
    double GetColumnDoubleByName(const std::string& name);
    int GetColumnTypeByName(const std::string& name);  // SQLITE_INTEGER .. SQLITE_NULL
    QString GetColumnString16ByName(const std::string& name);  // null QString for NULL

private:
    friend class SQLiteDatabase;

    struct StatementFinalizer {
        void operator()(sqlite3_stmt* statement) const noexcept;
    };

    static void Pause();

    // Called by the connection while it closes or is destroyed.
    void ReleaseHandle() noexcept;
    void ForgetDatabase() noexcept;

    sqlite3* Connection() const;
    void RequireConnection() const;
    void RequireHandle() const;
    void RequireColumn(int index, const char* operation) const;
    void BuildColumnMap();
    QString ReadString16(int index) const;
    [[noreturn]] void ThrowSQLiteError(int result, int line) const;
    [[noreturn]] void ThrowMisuse(const char* operation, int debugLine, int line) const;

    SQLiteDatabase* database_;
    std::string sql_;
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement_;
    std::map<std::string, int> columnMap_;
    bool columnMapBuilt_ = false;
};

}  // namespace Lithos
