#pragma once

#include "foundation/ProcessState.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

namespace Lithos {
class SQLiteDatabase;
class SQLiteException;
class SQLiteStatement;
}  // namespace Lithos

// One connection to one database file, the base of the agent's database
// files. Statements are complete SQL text; every text value put into one goes
// through EscapeQuote. Every statement runs under the file's shared lock,
// which all objects opening the same file share.
//
// A failure of the access layer caught here is kept as the last error, logged
// and handed to the user (UserMessageSink, never blocking). While this object
// holds the file's lock the hand-off waits until the outermost hold ends, so
// no message ever leaves with the lock held.
//
// An object does its database work on one thread.
class PeltaSQLite3 {
public:
    // Holds the file's lock for a scope (it may be taken again while held).
    // Failures reported meanwhile reach the user when the outermost hold of
    // this object ends. Callers that run several statements as one step take
    // the lock through this, not directly.
    class FileLock {
    public:
        explicit FileLock(PeltaSQLite3& owner);
        ~FileLock();
        FileLock(const FileLock&) = delete;
        FileLock& operator=(const FileLock&) = delete;

    private:
        PeltaSQLite3& owner_;
    };

    // The path is "profile.db" in the data folder; nothing is opened yet.
    explicit PeltaSQLite3(std::recursive_mutex& lock = csProfileDb);
    virtual ~PeltaSQLite3();

    PeltaSQLite3(const PeltaSQLite3&) = delete;
    PeltaSQLite3& operator=(const PeltaSQLite3&) = delete;

    // Sets the file's path; used before Open.
    void SetPath(const QString& path);
    const QString& Path() const { return path_; }

    // Opens the file, or creates it with its tables when there is none. A
    // damaged file (not a database, or malformed) is reported, moved aside
    // as "<path>.damaged-<yyyyMMddHHmmss>" and created anew; an existing file
    // without any table gets its tables. A file that cannot be opened for any
    // other reason is reported and left as it is, and the result is false.
    // An object that is open already stays as it is (true).
    bool Open();
    // Creates the file anew and its tables. An existing file is kept, moved
    // aside as "<path>.replaced-<yyyyMMddHHmmss>". False (reported) when the
    // file cannot be made.
    bool Create();
    // Does nothing; the connection is closed when the object is destroyed.
    void Close();
    bool IsOpen() const;

    // Runs one statement without result rows. False when it failed (reported).
    bool Exec(const QString& sql);
    // Prepares sql on the caller's statement and checks for a first row; the
    // caller's FetchRow then starts at the first row. 1: a row, 0: no row,
    // -1: failed (reported). Rows are read outside the lock.
    int QueryWith(const QString& sql, Lithos::SQLiteStatement& statement);
    // QueryWith on the object's own statement.
    int Query(const QString& sql);
    // ColumnText of the named column of the first row, empty when there is no
    // row. Failures of the access layer pass to the caller.
    QString QueryValue(const QString& sql, const QString& columnName);
    // True when the table has a column of exactly this name. Nothing is
    // reported; a missing table gives false.
    bool ColumnExists(const QString& table, const QString& column);

    // Every "'" doubled.
    static QString EscapeQuote(const QString& text);

    // The named column of the statement's current row when it holds text;
    // empty for an integer, real, blob or NULL. Failures are reported and
    // give empty text.
    QString ColumnText(const QString& columnName, Lithos::SQLiteStatement& statement);
    QString GetColumnText(const QString& columnName, Lithos::SQLiteStatement& statement);
    // ColumnText on the object's own statement.
    QString GetText(const QString& columnName);
    QString GetString(const QString& columnName);
    // The named column as a 32-bit integer; failures pass to the caller.
    int GetColumnInt(const QString& columnName, Lithos::SQLiteStatement& statement);

    // Makes the file's tables; called when the file is created. The base
    // makes nothing.
    virtual bool CreateTables();

    // The last reported failure, "file: <unit>\nline: <n>\nerror: <message>\n"
    // for a failure of the access layer.
    const QString& LastError() const { return lastError_; }

    // The connection (null while not open), for callers that read rows on
    // their own statement objects.
    Lithos::SQLiteDatabase* Connection() const { return connection_.get(); }
    // A new statement object on the connection.
    std::unique_ptr<Lithos::SQLiteStatement> NewStatement() const;
    // The object's own statement, used by Query, GetText and GetString.
    Lithos::SQLiteStatement& Statement() const { return *statement_; }

    static QString FormatSQLiteException(const Lithos::SQLiteException& failure);

protected:
    // Keeps the failure as the last error, logs it and hands it to the user
    // (once the outermost hold of the lock ends).
    void ReportError(const Lithos::SQLiteException& failure);
    void ReportError(const QString& text);

private:
    bool CreateReplacing(const QString& asideTag);
    // Opens the connection and the own statement; returns the number of
    // schema objects, which also shows that the file is readable.
    int Connect(int flags);
    void Disconnect() noexcept;
    bool MoveAside(const QString& asideTag);
    void DeliverReports() noexcept;

    QString path_;
    std::recursive_mutex& lock_;
    QString lastError_;
    std::unique_ptr<Lithos::SQLiteDatabase> connection_;
    std::unique_ptr<Lithos::SQLiteStatement> statement_;  // destroyed before the connection
    int lockDepth_ = 0;
    std::vector<QString> pendingReports_;
};
