#include "sync/rules/FailedReads.h"

#include "foundation/log/PeltaLog.h"

void FailedReads::Add(const QString& folder, const QString& where, const QString& reason)
{
    AppLog.Write(where + QLatin1Char(':') + reason + QStringLiteral(", skipped:") + folder, LogGeneral);
    if (!Covers(folder))
        folders_.append(folder);
}

bool FailedReads::Covers(const QString& path) const
{
    for (const QString& folder : folders_) {
        if (IsAtOrBelow(path, folder))
            return true;
    }
    return false;
}

bool FailedReads::MayDelete(const QString& path) const
{
    return !interrupted_ && !Covers(path);
}

PassResult FailedReads::Result() const
{
    if (interrupted_)
        return PassResult::Aborted;
    return folders_.isEmpty() ? PassResult::Complete : PassResult::Failed;
}

bool FailedReads::IsAtOrBelow(const QString& path, const QString& folder)
{
    if (folder == QLatin1String("\\"))
        return path.startsWith(QLatin1Char('\\'));
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == QLatin1Char('\\'));
}

QString FailedReads::Name(PassResult result)
{
    switch (result) {
    case PassResult::Complete:
        return QStringLiteral("complete");
    case PassResult::Failed:
        return QStringLiteral("failed");
    case PassResult::Aborted:
        return QStringLiteral("aborted");
    }
    return QString();
}
