#include "fakeservice/RangeRequest.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

RangeRequest::Result RangeRequest::Parse(const std::string& header, std::int64_t size)
{
    const Result whole;
    const std::string text = Trimmed(header);
    if (text.rfind("bytes=", 0) != 0 || text.find(',') != std::string::npos)
        return whole;
    const std::string spec = Trimmed(text.substr(6));
    const std::size_t dash = spec.find('-');
    if (dash == std::string::npos)
        return whole;
    const std::string from = Trimmed(spec.substr(0, dash));
    const std::string to = Trimmed(spec.substr(dash + 1));

    std::int64_t first = 0;
    std::int64_t last = size - 1;
    if (from.empty()) {
        std::int64_t suffix = 0;
        if (!ReadNumber(to, suffix))
            return whole;
        if (suffix == 0 || size == 0)
            return Result{Kind::Unsatisfiable, 0, -1};
        first = std::max<std::int64_t>(0, size - suffix);
    } else {
        if (!ReadNumber(from, first) || (!to.empty() && !ReadNumber(to, last)))
            return whole;
        if (!to.empty() && last < first)
            return whole;
        last = std::min(last, size - 1);
    }
    if (first >= size)
        return Result{Kind::Unsatisfiable, 0, -1};
    return Result{Kind::Part, first, last};
}

bool RangeRequest::ReadNumber(const std::string& text, std::int64_t& value)
{
    if (text.empty() || text.size() > 18)
        return false;
    value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}
