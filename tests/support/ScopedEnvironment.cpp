#include "tests/support/ScopedEnvironment.h"

#include <cstdlib>
#include <filesystem>

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
    }
}

void ScopedEnvironment::Remember(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
}

void ScopedEnvironment::Set(const std::string& name, const std::string& value)
{
    Remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnvironment::Unset(const std::string& name)
{
    Remember(name);
    ::unsetenv(name.c_str());
}

void ScopedEnvironment::UseHomeIn(const std::string& folder)
{
    const std::string home = folder + "/home";
    std::filesystem::create_directories(home);
    Set("HOME", home);
    Set("XDG_CONFIG_HOME", folder + "/config");
}
