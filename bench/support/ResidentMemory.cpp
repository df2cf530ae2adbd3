#include "bench/support/ResidentMemory.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

long long ResidentMemory::NowKb()
{
    return StatusKb("VmRSS:");
}

long long ResidentMemory::PeakKb()
{
    return StatusKb("VmHWM:");
}

void ResidentMemory::ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

long long ResidentMemory::StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atoll(line.c_str() + std::strlen(field));
    }
    return -1;
}
