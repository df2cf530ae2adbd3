#pragma once

// Sets or removes environment variables for the lifetime of the object and
// restores their earlier state afterwards (in reverse order).

#include <optional>
#include <string>
#include <utility>
#include <vector>

class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment();

    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);
    // The user's home and configuration folders as folder/home (made here)
    // and folder/config, so nothing a test does reaches the real ones.
    void UseHomeIn(const std::string& folder);

private:
    void Remember(const std::string& name);

    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
