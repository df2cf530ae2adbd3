#include "sync/rules/FileKind.h"

#include <sys/stat.h>

QString FileKind::Name(mode_t mode)
{
    if (S_ISLNK(mode))
        return QStringLiteral("symbolic link");
    if (S_ISFIFO(mode))
        return QStringLiteral("FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("device");
    return QStringLiteral("not a regular file or folder");
}
