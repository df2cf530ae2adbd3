#include "foundation/db/LithosSQLiteStatement.h"

#include "foundation/db/LithosSQLiteDatabase.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/ProcessState.h"

#include <sqlite3.h>

#include <atomic>
#include <climits>
#include <thread>

namespace Lithos {

namespace {

const char* const kUnit = "LithosSQLiteStatement";

constexpr int kLinePrepareFailed = 103;
constexpr int kLineNoStatementMade = 118;
constexpr int kLineStepMisuseDebug = 147;
constexpr int kLineStepMisuse = 149;
constexpr int kLineStepFailed = 153;
constexpr int kLineFetchFailed = 204;
constexpr int kLineFetchMisuseDebug = 208;
constexpr int kLineFetchMisuse = 210;
constexpr int kLineNoStatement = 238;
constexpr int kLineNoDatabase = 244;
constexpr int kLineResetFailed = 706;
constexpr int kLineNoSuchColumnNumber = 1033;
constexpr int kLineNoSuchColumnName = 1062;

std::atomic<std::chrono::milliseconds::rep> pauseMilliseconds{SQLiteStatement::DefaultPause.count()};

}  // namespace

void SQLiteStatement::StatementFinalizer::operator()(sqlite3_stmt* statement) const noexcept
{
    sqlite3_finalize(statement);
}

void SQLiteStatement::SetPauseDuration(std::chrono::milliseconds pause)
{
    pauseMilliseconds.store(pause.count());
}

std::chrono::milliseconds SQLiteStatement::PauseDuration()
{
    return std::chrono::milliseconds(pauseMilliseconds.load());
}

void SQLiteStatement::Pause()
{
    std::this_thread::sleep_for(PauseDuration());
}

SQLiteStatement::SQLiteStatement(SQLiteDatabase* database) : database_(database)
{
    if (database_)
        database_->Attach(this);
}

SQLiteStatement::~SQLiteStatement()
{
    if (database_)
        database_->Detach(this);
    // statement_ finalizes this object's own handle, and nothing else.
}

void SQLiteStatement::ReleaseHandle() noexcept
{
    statement_.reset();
    columnMap_.clear();
    columnMapBuilt_ = false;
}

void SQLiteStatement::ForgetDatabase() noexcept
{
    ReleaseHandle();
    database_ = nullptr;
}

sqlite3* SQLiteStatement::Connection() const
{
    return database_ ? database_->Handle() : nullptr;
}

void SQLiteStatement::RequireConnection() const
{
    if (!Connection())
        throw SQLiteException("database pointer invalid", kUnit, kLineNoDatabase);
}

void SQLiteStatement::RequireHandle() const
{
    if (!statement_)
        throw SQLiteException("empty statement pointer", kUnit, kLineNoStatement);
}

void SQLiteStatement::RequireColumn(int index, const char* operation) const
{
    RequireHandle();
    if (index < 0 || index >= sqlite3_column_count(statement_.get()))
        throw SQLiteException(std::string(operation) + " column number does not exists", kUnit,
                              kLineNoSuchColumnNumber);
}

void SQLiteStatement::ThrowSQLiteError(int result, int line) const
{
    sqlite3* connection = Connection();
    throw SQLiteException(connection ? sqlite3_errmsg(connection) : sqlite3_errstr(result), kUnit, line, result);
}

void SQLiteStatement::ThrowMisuse(const char* operation, int debugLine, int line) const
{
    const std::string message = std::string(operation) + " SQLITE_MISUSE";
    if (DebugMode.load())
        throw SQLiteException(message + ", sql=" + sql_, kUnit, debugLine, SQLITE_MISUSE);
    throw SQLiteException(message, kUnit, line, SQLITE_MISUSE);
}

void SQLiteStatement::Prepare(const QString& sql)
{
    RequireConnection();
    columnMap_.clear();
    columnMapBuilt_ = false;
    sql_ = sql.toStdString();
    statement_.reset();  // the replaced statement is ended here, by its owner

    const qsizetype bytes = sql.size() * qsizetype(sizeof(char16_t));
    const int length = bytes > INT_MAX ? -1 : int(bytes);  // SQLite rejects oversized text itself
    sqlite3_stmt* prepared = nullptr;
    for (;;) {
        const int result = sqlite3_prepare16_v2(Connection(), sql.utf16(), length, &prepared, nullptr);
        Pause();
        if (result == SQLITE_OK)
            break;
        if (result != SQLITE_BUSY)
            ThrowSQLiteError(result, kLinePrepareFailed);
    }
    if (!prepared)
        throw SQLiteException("Prepare() SQL statement failed", kUnit, kLineNoStatementMade);
    statement_.reset(prepared);
}

bool SQLiteStatement::Step()
{
    if (!statement_)
        ThrowMisuse("Step()", kLineStepMisuseDebug, kLineStepMisuse);
    for (;;) {
        const int result = sqlite3_step(statement_.get());
        if (result == SQLITE_ROW)
            return true;
        if (result == SQLITE_DONE)
            return false;
        if (result == SQLITE_MISUSE)
            ThrowMisuse("Step()", kLineStepMisuseDebug, kLineStepMisuse);
        if (result != SQLITE_BUSY)
            ThrowSQLiteError(result, kLineStepFailed);
        Pause();
    }
}

void SQLiteStatement::ExecuteOnce(const QString& sql)
{
    Prepare(sql);
    Step();
    FreeStatement();
}

bool SQLiteStatement::FetchRow()
{
    if (!statement_)
        ThrowMisuse("FetchRow()", kLineFetchMisuseDebug, kLineFetchMisuse);
    bool retried = false;
    for (;;) {
        const int result = sqlite3_step(statement_.get());
        if (result == SQLITE_ROW)
            return true;
        if (result == SQLITE_DONE)
            return false;
        if (result == SQLITE_MISUSE)
            ThrowMisuse("FetchRow()", kLineFetchMisuseDebug, kLineFetchMisuse);
        if (result == SQLITE_ERROR)
            ThrowSQLiteError(result, kLineFetchFailed);
        if (result == SQLITE_BUSY || result == SQLITE_LOCKED) {
            Pause();
            continue;
        }
        // Anything else gets one more try: a damaged file gives the same
        // code every time and must not keep the caller here for ever.
        if (retried)
            ThrowSQLiteError(result, kLineFetchFailed);
        retried = true;
        Pause();
    }
}

int SQLiteStatement::FreeStatement()
{
    columnMap_.clear();
    columnMapBuilt_ = false;
    return sqlite3_finalize(statement_.release());
}

void SQLiteStatement::Reset()
{
    RequireHandle();
    const int result = sqlite3_reset(statement_.get());
    if (result != SQLITE_OK)
        ThrowSQLiteError(result, kLineResetFailed);
}

double SQLiteStatement::QueryDouble(const QString& sql)
{
    Prepare(sql);
    double value = 0;
    while (FetchRow())
        value = GetColumnDouble(0);
    FreeStatement();
    return value;
}

int SQLiteStatement::GetColumnCount() const
{
    RequireHandle();
    return sqlite3_column_count(statement_.get());
}

std::string SQLiteStatement::GetColumnName(int index) const
{
    RequireColumn(index, "GetColumnName()");
    const char* name = sqlite3_column_name(statement_.get(), index);
    return name ? std::string(name) : std::string();
}

double SQLiteStatement::GetColumnDouble(int index) const
{
    RequireColumn(index, "GetColumnDouble()");
    return sqlite3_column_double(statement_.get(), index);
}

std::int64_t SQLiteStatement::GetColumnInt64(int index) const
{
    RequireColumn(index, "GetColumnInt64()");
    return sqlite3_column_int64(statement_.get(), index);
}

QString SQLiteStatement::GetColumnString16(int index) const
{
    RequireColumn(index, "GetColumnString16()");
    return ReadString16(index);
}

QString SQLiteStatement::ReadString16(int index) const
{
    const void* text = sqlite3_column_text16(statement_.get(), index);
    if (!text)
        return QString();
    const int bytes = sqlite3_column_bytes16(statement_.get(), index);
    if (bytes == 0)
        return QStringLiteral("");  // empty text, which is not NULL
    return QString::fromUtf16(static_cast<const char16_t*>(text), bytes / qsizetype(sizeof(char16_t)));
}

void SQLiteStatement::BuildColumnMap()
{
    columnMap_.clear();
    const int count = sqlite3_column_count(statement_.get());
    for (int index = 0; index < count; ++index) {
        const char* name = sqlite3_column_name(statement_.get(), index);
        if (name)
            columnMap_.emplace(name, index);  // the first of equal names wins
    }
    columnMapBuilt_ = true;
}

int SQLiteStatement::GetAssignedColumnNumber(const std::string& name)
{
    RequireHandle();
    if (!columnMapBuilt_)
        BuildColumnMap();
    const auto found = columnMap_.find(name);
    if (found == columnMap_.end())
        throw SQLiteException("GetAssignedColumnNumber() column name '" + name + "' does not exists", kUnit,
                              kLineNoSuchColumnName);
    return found->second;
}

int SQLiteStatement::GetColumnIntByName(const std::string& name)
{
    const int index = GetAssignedColumnNumber(name);
    return sqlite3_column_int(statement_.get(), index);
}

std::int64_t SQLiteStatement::GetColumnInt64ByName(const std::string& name)
{
    const int index = GetAssignedColumnNumber(name);
    return sqlite3_column_int64(statement_.get(), index);
}

double SQLiteStatement::GetColumnDoubleByName(const std::string& name)
{
    const int index = GetAssignedColumnNumber(name);
    return sqlite3_column_double(statement_.get(), index);
}

int SQLiteStatement::GetColumnTypeByName(const std::string& name)
{
    const int index = GetAssignedColumnNumber(name);
    return sqlite3_column_type(statement_.get(), index);
}

QString SQLiteStatement::GetColumnString16ByName(const std::string& name)
{
    const int index = GetAssignedColumnNumber(name);
    return ReadString16(index);
}

}  // namespace Lithos
