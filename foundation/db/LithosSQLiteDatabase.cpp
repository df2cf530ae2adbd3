#include "foundation/db/LithosSQLiteDatabase.h"

#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/log/PeltaLog.h"

#include <QString>

#include <sqlite3.h>

#include <algorithm>
#include <exception>
#include <utility>

namespace Lithos {

namespace {

const char* const kUnit = "LithosSQLiteDatabase";
constexpr int kLineOpen = 67;
constexpr int kLineClose = 105;

// A failure while the connection is destroyed cannot be thrown; it is logged.
void LogDestructionFailure(const std::string& fileName, const char* text)
{
    AppLog.Write(QStringLiteral("LithosSQLiteDatabase: closing %1 failed: %2")
                     .arg(QString::fromStdString(fileName), QString::fromUtf8(text)),
                 LogDB);
}

}  // namespace

void SQLiteDatabase::ConnectionCloser::operator()(sqlite3* connection) const noexcept
{
    // Only reached for a connection that could not be closed normally:
    // close_v2 ends it as soon as whatever still holds it is gone.
    sqlite3_close_v2(connection);
}

SQLiteDatabase::SQLiteDatabase(const std::string& fileName, int flags)
{
    sqlite3* opened = nullptr;
    const int result = sqlite3_open_v2(fileName.c_str(), &opened, flags, nullptr);
    std::unique_ptr<sqlite3, ConnectionCloser> connection(opened);
    if (result != SQLITE_OK)
        throw SQLiteException(opened ? sqlite3_errmsg(opened) : sqlite3_errstr(result), kUnit, kLineOpen, result);
    connection_ = std::move(connection);
    fileName_ = fileName;
}

SQLiteDatabase::~SQLiteDatabase()
{
    try {
        Close();
    } catch (const std::exception& failure) {
        LogDestructionFailure(fileName_, failure.what());
    }
    std::lock_guard lock(statementsMutex_);
    for (SQLiteStatement* statement : statements_)
        statement->ForgetDatabase();
}

void SQLiteDatabase::Close()
{
    if (!connection_)
        return;
    FinalizeOpenStatements();
    const int result = sqlite3_close(connection_.get());
    if (result != SQLITE_OK)
        throw SQLiteException(sqlite3_errmsg(connection_.get()), kUnit, kLineClose, result);
    (void)connection_.release();  // closed above
    fileName_.clear();
}

void SQLiteDatabase::FinalizeOpenStatements()
{
    {
        std::lock_guard lock(statementsMutex_);
        for (SQLiteStatement* statement : statements_)
            statement->ReleaseHandle();
    }
    // Every handle belongs to a statement object, so nothing should be left;
    // whatever is, is ended here so that the close cannot fail on it.
    while (sqlite3_stmt* open = sqlite3_next_stmt(connection_.get(), nullptr))
        sqlite3_finalize(open);
}

void SQLiteDatabase::Attach(SQLiteStatement* statement)
{
    std::lock_guard lock(statementsMutex_);
    statements_.push_back(statement);
}

void SQLiteDatabase::Detach(SQLiteStatement* statement)
{
    std::lock_guard lock(statementsMutex_);
    std::erase(statements_, statement);
}

}  // namespace Lithos
