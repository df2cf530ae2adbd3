#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace Lithos {

class SQLiteStatement;

// One SQLite connection. The constructor opens the file with exactly the
// flags the caller gives; Close (and the destructor) end every statement
// still open on the connection before closing it, so closing never fails
// because a statement was left open.
//
// Statement objects register themselves with their connection. When the
// connection closes it has each of them give up its handle, and when it is
// destroyed it detaches them, so no statement object is ever left with a
// dangling handle or database pointer.
class SQLiteDatabase {
public:
    // Opens fileName (UTF-8) with sqlite3_open_v2 and the given flags. Throws
    // SQLiteException with SQLite's message when the open fails.
    SQLiteDatabase(const std::string& fileName, int flags);
    virtual ~SQLiteDatabase();

    SQLiteDatabase(const SQLiteDatabase&) = delete;
    SQLiteDatabase& operator=(const SQLiteDatabase&) = delete;

    // Finalizes every open statement, then closes the connection. Closing a
    // closed connection does nothing. Throws SQLiteException when SQLite
    // refuses to close; the connection then stays open.
    void Close();

    bool IsOpen() const { return connection_ != nullptr; }
    const std::string& FileName() const { return fileName_; }

private:
    friend class SQLiteStatement;

    struct ConnectionCloser {
        void operator()(sqlite3* connection) const noexcept;
    };

    sqlite3* Handle() const { return connection_.get(); }
    void Attach(SQLiteStatement* statement);
    void Detach(SQLiteStatement* statement);
    void FinalizeOpenStatements();

    std::unique_ptr<sqlite3, ConnectionCloser> connection_;
    std::string fileName_;
    std::mutex statementsMutex_;
    std::vector<SQLiteStatement*> statements_;
};

}  // namespace Lithos
