#pragma once

// Finds which service method a request target (path and query, as sent)
// names. The agent-interface paths come from the plain method table, each a
// format with (user_id %s, Unix time %d); putFile's takes user_id only and
// carries its five values after it. The signed API is "/api.php?..."; the
// development login of the "DEV" profile is "/_agent/login2?<login>&<otpw>".

#include <optional>
#include <regex>
#include <string>
#include <vector>

class MethodRouter {
public:
    struct Route {
        std::string method;  // "setAgentInfo", ..., or "api" for the signed API
        std::string userId;  // agent interface: the user_id of the URL
        std::string rest;    // putFile: what follows the path; signed API, login2: the query
    };

    static constexpr const char* SignedApi = "api";
    static constexpr const char* DevLogin = "login2";

    MethodRouter();

    std::optional<Route> Match(const std::string& target) const;

    // The path of a method formatted for a user and time, as a client builds
    // it (for tests that call the fake directly).
    static std::string PathFor(const std::string& method, const std::string& userId, long long unixTime);

private:
    struct Entry {
        std::string method;
        std::regex pattern;
        bool hasRest = false;
    };

    static std::string PatternOf(const std::string& format);

    std::vector<Entry> entries_;
};
