#pragma once

// Finds an entry of a fixed table by the name in its first field, for the
// tables that map the service's method names to their handlers.

#include <cstring>
#include <string>

template <typename Entry, std::size_t Count>
const Entry* FindNamed(const Entry (&table)[Count], const std::string& name)
{
    for (const Entry& entry : table) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}
