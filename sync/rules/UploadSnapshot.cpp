#include "sync/rules/UploadSnapshot.h"

#include "sync/rules/FileCopy.h"
#include "sync/rules/LocalItem.h"

#include <QByteArray>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kNoteLimit = 4096;

QByteArray ReadSmallFile(const QString& root, const QString& full)
{
    int error = 0;
    const FileDescriptor file = LocalItem::OpenFile(root, full, error);
    if (!file.IsOpen())
        return QByteArray();
    QByteArray text(kNoteLimit, '\0');
    qsizetype filled = 0;
    while (filled < text.size()) {
        const ssize_t got = ::read(file.Get(), text.data() + filled, static_cast<size_t>(text.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += got;
    }
    text.truncate(filled);
    return text;
}

}  // namespace

QString UploadSnapshot::NameOf(const QString& key, int rowid)
{
    return QLatin1Char('_') + key + QLatin1Char('_') + QString::number(rowid);
}

QString UploadSnapshot::PathOf(const QString& cacheDir, const QString& key, int rowid)
{
    return cacheDir + QLatin1Char('/') + NameOf(key, rowid);
}

QString UploadSnapshot::PendingPathOf(const QString& cacheDir, const QString& key)
{
    return cacheDir + QStringLiteral("/_") + key;
}

QString UploadSnapshot::NoteOf(const QString& snapshot)
{
    return snapshot + QStringLiteral(".sent");
}

bool UploadSnapshot::Take(const QString& root, const QString& source, const QString& pending,
                          const QString& snapshot, std::int64_t& size, std::int64_t& mtime, int& error)
{
    DropNote(root, snapshot);
    int ignored = 0;
    if (LocalItem::Stat(root, pending).kind == LocalKind::File)
        LocalItem::Rename(root, pending, snapshot, ignored);
    return FileCopy::Replacing(root, source, snapshot, size, mtime, error);
}

bool UploadSnapshot::Facts(const QString& root, const QString& snapshot, std::int64_t& size, std::int64_t& mtime)
{
    const LocalFacts facts = LocalItem::Stat(root, snapshot);
    if (facts.kind != LocalKind::File)
        return false;
    size = facts.size;
    mtime = facts.mtime;
    return true;
}

QByteArray UploadSnapshot::NoteText(const QString& journalKey, int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return QByteArray();
    return journalKey.toUtf8() + '\n' + QByteArray::number(static_cast<qint64>(info.st_size)) + '\n' +
           QByteArray::number(static_cast<qint64>(info.st_mtim.tv_sec)) + '.' +
           QByteArray::number(static_cast<qint64>(info.st_mtim.tv_nsec)) + '\n' +
           QByteArray::number(static_cast<qint64>(info.st_ctim.tv_sec)) + '.' +
           QByteArray::number(static_cast<qint64>(info.st_ctim.tv_nsec)) + '\n' +
           QByteArray::number(static_cast<quint64>(info.st_ino));
}

bool UploadSnapshot::NoteSending(const QString& root, const QString& snapshot, const QString& journalKey)
{
    int error = 0;
    const FileDescriptor file = LocalItem::OpenFile(root, snapshot, error);
    if (!file.IsOpen())
        return false;
    const QByteArray text = NoteText(journalKey, file.Get());
    if (text.isEmpty())
        return false;
    const QString note = NoteOf(snapshot);
    DropNote(root, snapshot);
    FileDescriptor out = LocalItem::CreateFile(root, note, error);
    if (!out.IsOpen())
        return false;
    const ssize_t written = ::write(out.Get(), text.constData(), static_cast<size_t>(text.size()));
    return written == text.size() && ::fsync(out.Get()) == 0;
}

bool UploadSnapshot::HasNote(const QString& root, const QString& snapshot)
{
    return LocalItem::Stat(root, NoteOf(snapshot)).kind == LocalKind::File;
}

bool UploadSnapshot::UnchangedSinceSent(const QString& root, const QString& snapshot, const QString& journalKey)
{
    if (journalKey.isEmpty())
        return false;
    const QByteArray noted = ReadSmallFile(root, NoteOf(snapshot));
    if (noted.isEmpty())
        return false;
    int error = 0;
    const FileDescriptor file = LocalItem::OpenFile(root, snapshot, error);
    return file.IsOpen() && NoteText(journalKey, file.Get()) == noted;
}

void UploadSnapshot::DropNote(const QString& root, const QString& snapshot)
{
    int ignored = 0;
    LocalItem::RemoveFile(root, NoteOf(snapshot), ignored);
}

void UploadSnapshot::Remove(const QString& root, const QString& snapshot)
{
    int ignored = 0;
    LocalItem::RemoveFile(root, snapshot, ignored);
    DropNote(root, snapshot);
}
