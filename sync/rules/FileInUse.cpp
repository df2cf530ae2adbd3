#include "sync/rules/FileInUse.h"

#include <fcntl.h>

#include <mutex>
#include <utility>

namespace {

std::mutex overrideMutex;
FileInUse::Test overrideTest;

}  // namespace

bool FileInUse::Check(int fd, const QString& full)
{
    Test test;
    {
        std::lock_guard lock(overrideMutex);
        test = overrideTest;
    }
    return test ? test(full) : HasConflictingLock(fd);
}

void FileInUse::Override(Test test)
{
    std::lock_guard lock(overrideMutex);
    overrideTest = std::move(test);
}

bool FileInUse::HasConflictingLock(int fd)
{
    struct flock probe {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0;  // the whole file
    probe.l_pid = 0;
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0)
        return false;
    return probe.l_type != F_UNLCK;
}
