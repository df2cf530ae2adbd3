#include "foundation/text/TimeHelpers.h"

#include <chrono>

std::int32_t UnixTimeNow()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since).count();
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds));
}

FileTime UnixTimeToFileTime(std::int64_t seconds)
{
    return static_cast<FileTime>(seconds) * FileTimeTicksPerSecond + FileTimeEpochOffset;
}

std::int32_t FileTimeToUnixTime(FileTime fileTime)
{
    const FileTime quotient = (fileTime - FileTimeEpochOffset) / FileTimeTicksPerSecond;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(quotient));
}
