#include "fakeservice/MethodRouter.h"

#include "fakeservice/ApiMethodTable.h"

#include <cstring>

namespace {

// Paths of the service base that are not in the method table; the query is
// the route's rest.
struct FixedPath {
    const char* path;
    const char* method;
};
constexpr FixedPath FixedPaths[] = {
    {"/api.php", MethodRouter::SignedApi},
    {"/_agent/login2", MethodRouter::DevLogin},
};

// The method whose path is followed directly by its values.
constexpr const char* MethodWithValues = "putFile";

// The query when the target is the path, with or without one.
std::optional<std::string> QueryAfter(const std::string& target, const std::string& path)
{
    if (target == path)
        return std::string();
    if (target.rfind(path + "?", 0) == 0)
        return target.substr(path.size() + 1);
    return std::nullopt;
}

std::string MethodName(const char* key)
{
    // Keys are "API" followed by the method's name.
    return std::strncmp(key, "API", 3) == 0 ? std::string(key + 3) : std::string(key);
}

}  // namespace

MethodRouter::MethodRouter()
{
    for (const ApiMethodPath& entry : ApiMethodPlainTable) {
        const std::string method = MethodName(entry.key);
        const bool hasRest = method == MethodWithValues;
        std::string pattern = PatternOf(entry.path);
        if (hasRest)
            pattern += "(.*)";
        entries_.push_back(Entry{method, std::regex(pattern), hasRest});
    }
}

std::optional<MethodRouter::Route> MethodRouter::Match(const std::string& target) const
{
    for (const FixedPath& fixed : FixedPaths) {
        if (const std::optional<std::string> query = QueryAfter(target, fixed.path))
            return Route{fixed.method, std::string(), *query};
    }
    for (const Entry& entry : entries_) {
        std::smatch match;
        if (!std::regex_match(target, match, entry.pattern))
            continue;
        Route route{entry.method, match.size() > 1 ? match[1].str() : std::string(), std::string()};
        if (entry.hasRest)
            route.rest = match[match.size() - 1].str();
        return route;
    }
    return std::nullopt;
}

std::string MethodRouter::PathFor(const std::string& method, const std::string& userId, long long unixTime)
{
    for (const ApiMethodPath& entry : ApiMethodPlainTable) {
        if (MethodName(entry.key) != method)
            continue;
        std::string path;
        const std::string format = entry.path;
        std::size_t argument = 0;
        for (std::size_t i = 0; i < format.size(); ++i) {
            if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 's' || format[i + 1] == 'd')) {
                path += argument++ == 0 ? userId : std::to_string(unixTime);
                ++i;
            } else {
                path += format[i];
            }
        }
        return path;
    }
    return std::string();
}

std::string MethodRouter::PatternOf(const std::string& format)
{
    std::string pattern;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            pattern += "([^&]*)";
            ++i;
        } else if (c == '%' && i + 1 < format.size() && format[i + 1] == 'd') {
            pattern += "(-?[0-9]+)";
            ++i;
        } else if (std::strchr(".^$|()[]{}*+?\\", c) != nullptr) {
            pattern += '\\';
            pattern += c;
        } else {
            pattern += c;
        }
    }
    return pattern;
}
