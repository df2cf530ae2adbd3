#include "platform/FileWriteBack.h"

#include <fcntl.h>
#include <unistd.h>

#include <utility>

FileWriteBack::FileWriteBack(std::int64_t from, RangeSync sync) : sync_(std::move(sync)), sent_(from), waited_(from)
{
}

void FileWriteBack::Wrote(QFile& file)
{
    const std::int64_t end = file.pos();
    if (end - sent_ < Window || !file.flush())
        return;
    const int fd = file.handle();
    sync_(fd, sent_, end - sent_, SYNC_FILE_RANGE_WRITE);
    sent_ = end;
    const std::int64_t settled = end - Lag;
    if (settled <= waited_)
        return;
    sync_(fd, waited_, settled - waited_,
          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    waited_ = settled;
}

bool FileWriteBack::FlushToDisk(QFile& file)
{
    return file.flush() && ::fsync(file.handle()) == 0;
}

void FileWriteBack::SyncRange(int fd, std::int64_t offset, std::int64_t length, unsigned flags)
{
    ::sync_file_range(fd, offset, length, flags);
}
