#include "tests/support/ThreadState.h"

#include <unistd.h>

#include <fstream>
#include <string>

pid_t CurrentThreadId()
{
    return ::gettid();
}

bool ThreadIsAsleep(pid_t thread)
{
    // "<id> (<name>) <state> ...": the name may itself hold spaces and
    // parentheses, the state follows the last ')'.
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && line.compare(close, 3, ") S") == 0;
}
