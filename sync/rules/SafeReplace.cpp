#include "sync/rules/SafeReplace.h"

#include "sync/rules/FileCopy.h"
#include "sync/rules/FileInUse.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/PathGuard.h"

#include <cerrno>

namespace {

constexpr int kNameAttempts = 100;
// A lost race for a free name, or a file that appears at the target between
// the look and the move, is tried again this often.
constexpr int kPlaceAttempts = 3;

bool IsInUse(const QString& root, const QString& target)
{
    int error = 0;
    const FileDescriptor file = LocalItem::OpenFile(root, target, error);
    return file.IsOpen() && FileInUse::Check(file.Get(), target);
}

// The name split at its last dot; a leading dot does not start an extension.
void SplitName(const QString& name, QString& stem, QString& extension)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) {
        stem = name;
        extension.clear();
        return;
    }
    stem = name.left(dot);
    extension = name.mid(dot);
}

QString Candidate(QString stem, const QString& extension, const QString& mark)
{
    while (!stem.isEmpty() && (stem + mark + extension).toUtf8().size() > PathGuard::MaxNameBytes)
        stem.chop(1);
    return stem + mark + extension;
}

}  // namespace

bool SafeReplace::Matches(std::int64_t size, std::int64_t mtime, const Stored& stored, bool uploadOpen)
{
    return stored.known && !stored.version.isEmpty() && !uploadOpen && size == stored.size &&
           mtime == stored.mtime;
}

bool SafeReplace::MoveNoReplace(const QString& root, const QString& from, const QString& to, int& error)
{
    if (LocalItem::RenameNoReplace(root, from, to, error)) {
        LocalItem::SyncParent(root, to, error);
        error = 0;
        return true;
    }
    if (error != EXDEV)
        return false;
    if (!FileCopy::NoReplace(root, from, to, error))
        return false;
    int ignored = 0;
    LocalItem::RemoveFile(root, from, ignored);
    return true;
}

bool SafeReplace::MoveReplacing(const QString& root, const QString& from, const QString& to, int& error)
{
    if (LocalItem::Rename(root, from, to, error)) {
        LocalItem::SyncParent(root, to, error);
        error = 0;
        return true;
    }
    if (error != EXDEV)
        return false;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    if (!FileCopy::Replacing(root, from, to, size, mtime, error))
        return false;
    int ignored = 0;
    LocalItem::RemoveFile(root, from, ignored);
    return true;
}

QString SafeReplace::ConflictCopyName(const QString& root, const QString& target, const QDateTime& when)
{
    const qsizetype cut = target.lastIndexOf(QLatin1Char('/'));
    if (cut < 0)
        return QString();
    const QString folder = target.left(cut + 1);
    QString stem;
    QString extension;
    SplitName(target.mid(cut + 1), stem, extension);
    const QString stamp = when.toString(QStringLiteral("yyyy-MM-dd HHmmss"));
    for (int number = 1; number <= kNameAttempts; ++number) {
        const QString mark = number == 1 ? QStringLiteral(" (conflict %1)").arg(stamp)
                                         : QStringLiteral(" (conflict %1 %2)").arg(stamp).arg(number);
        const QString candidate = folder + Candidate(stem, extension, mark);
        if (LocalItem::Stat(root, candidate).kind == LocalKind::Missing)
            return candidate;
    }
    return QString();
}

SafeReplace::Result SafeReplace::PutBeside(const QString& root, const QString& incoming, const QString& target,
                                           const QDateTime& when)
{
    Result result;
    for (int attempt = 0; attempt < kPlaceAttempts; ++attempt) {
        const QString copy = ConflictCopyName(root, target, when);
        if (copy.isEmpty()) {
            result.error = EEXIST;
            return result;
        }
        if (MoveNoReplace(root, incoming, copy, result.error)) {
            result.outcome = Outcome::KeptLocal;
            result.conflictCopy = copy;
            result.error = 0;
            return result;
        }
        if (result.error != EEXIST)
            return result;
    }
    return result;
}

SafeReplace::Result SafeReplace::Apply(const QString& root, const QString& incoming, const QString& target,
                                       const Stored& stored, bool uploadOpen, const QDateTime& when)
{
    Result result;
    for (int attempt = 0; attempt < kPlaceAttempts; ++attempt) {
        const LocalFacts local = LocalItem::Stat(root, target);
        switch (local.kind) {
        case LocalKind::Missing:
            if (MoveNoReplace(root, incoming, target, result.error)) {
                result.outcome = Outcome::Replaced;
                return result;
            }
            if (result.error == EEXIST)
                continue;  // created meanwhile: look again
            return result;
        case LocalKind::File:
            if (!Matches(local.size, local.mtime, stored, uploadOpen))
                return PutBeside(root, incoming, target, when);
            if (IsInUse(root, target)) {
                result.error = EBUSY;
                return result;
            }
            if (MoveReplacing(root, incoming, target, result.error))
                result.outcome = Outcome::Replaced;
            return result;
        case LocalKind::Folder:
        case LocalKind::Other:
            return PutBeside(root, incoming, target, when);
        case LocalKind::Unknown:
            result.error = local.error;
            return result;
        }
    }
    return result;
}
