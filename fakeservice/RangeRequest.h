#pragma once

// Reads the Range header of a download: one range of bytes, "bytes=a-b",
// "bytes=a-" or the suffix "bytes=-n". Other forms (several ranges, other
// units, malformed text) are ignored, as a server may: the whole file is
// sent.

#include <cstdint>
#include <string>

class RangeRequest {
public:
    enum class Kind {
        Whole,          // no range to honour
        Part,           // first..last, both inside the file
        Unsatisfiable,  // the range starts at or past the end
    };

    struct Result {
        Kind kind = Kind::Whole;
        std::int64_t first = 0;
        std::int64_t last = -1;  // inclusive
    };

    // header: the Range value, empty when there is none; size: the file's.
    // A last byte past the end is taken as the end.
    static Result Parse(const std::string& header, std::int64_t size);

private:
    static bool ReadNumber(const std::string& text, std::int64_t& value);
};
