#include "shell/entry/InstanceLock.h"

#include "foundation/Constants.h"
#include "foundation/settings/DataFolder.h"

#include <QFileInfo>

InstanceLock::InstanceLock(const QString& path) : path_(path), file_(path)
{
    // Only a lock whose process has ended is stale, however old it is.
    file_.setStaleLockTime(std::chrono::milliseconds(0));
}

InstanceLock::~InstanceLock() = default;

QString InstanceLock::DefaultPath()
{
    const QString name = InstanceMutexName + QStringLiteral(".lock");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("TESSARON_HOME") && !runtime.isEmpty() && QFileInfo(runtime).isDir() &&
        QFileInfo(runtime).isWritable())
        return runtime + u'/' + name;
    return DataFilePath(name);
}

bool InstanceLock::TryAcquire()
{
    return file_.tryLock(std::chrono::milliseconds(0));
}

bool InstanceLock::WaitAndAcquire(std::chrono::milliseconds limit)
{
    return file_.tryLock(limit);
}
