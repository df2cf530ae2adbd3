#include "sync/monitor/UniqueFd.h"

#include <unistd.h>

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other)
        Reset(std::exchange(other.fd_, -1));
    return *this;
}

void UniqueFd::Reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}
