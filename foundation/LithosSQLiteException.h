#pragma once

#include <exception>
#include <string>

namespace Lithos {

// Every failure of the SQLite access layer. It carries the message (SQLite's
// own text or one of the layer's fixed texts), the name of the unit that
// raised it ("LithosSQLiteDatabase" or "LithosSQLiteStatement") and the fixed
// line number of the raising site.
class SQLiteException : public std::exception {
public:
    SQLiteException(std::string message, std::string file, int line);

    const std::string& Message() const noexcept { return message_; }
    const std::string& File() const noexcept { return file_; }
    int Line() const noexcept { return line_; }

    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
    std::string file_;
    int line_ = 0;
};

}  // namespace Lithos
