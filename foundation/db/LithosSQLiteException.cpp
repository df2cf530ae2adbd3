#include "foundation/db/LithosSQLiteException.h"

#include <utility>

namespace Lithos {

SQLiteException::SQLiteException(std::string message, std::string file, int line, int code)
    : message_(std::move(message)), file_(std::move(file)), line_(line), code_(code)
{
}

}  // namespace Lithos
