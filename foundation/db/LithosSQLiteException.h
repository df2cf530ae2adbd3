#pragma once

#include <exception>
#include <string>

namespace Lithos {

// Every failure of the SQLite access layer. It carries the message (SQLite's
// own text or one of the layer's fixed texts), the name of the unit that
// raised it ("LithosSQLiteDatabase" or "LithosSQLiteStatement") and the fixed
// line number of the raising site. Failures that come from SQLite itself also
// carry SQLite's result code (0 for the layer's own failures), so that callers
// can tell a damaged file from one that is merely busy or unreadable.
class SQLiteException : public std::exception {
public:
    SQLiteException(std::string message, std::string file, int line, int code = 0);

    const std::string& Message() const noexcept { return message_; }
    const std::string& File() const noexcept { return file_; }
    int Line() const noexcept { return line_; }
    // SQLite's result code as it was returned (possibly extended), 0 when the
    // failure is the layer's own; PrimaryCode keeps its low eight bits.
    int Code() const noexcept { return code_; }
    int PrimaryCode() const noexcept { return code_ & 0xff; }

    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
    std::string file_;
    int line_ = 0;
    int code_ = 0;
};

}  // namespace Lithos
