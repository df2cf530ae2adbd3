#include "sync/rules/FileDescriptor.h"

#include <unistd.h>

#include <utility>

FileDescriptor::~FileDescriptor()
{
    Reset();
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other)
        Reset(std::exchange(other.fd_, -1));
    return *this;
}

void FileDescriptor::Reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}
