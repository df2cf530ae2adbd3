// The downloads: the plain GET into a fresh file and the ranged download
// that resumes a partial file. Bodies stream to disk through the client's
// sink; only the appending step copies, in small blocks.

#include "client/PeltaAPI.h"
#include "client/SecretMask.h"
#include "client/TransferScope.h"
#include "client/TransferSettings.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "platform/FileWriteBack.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <functional>
#include <utility>

namespace {

constexpr std::chrono::milliseconds PlainReadTimeout{5000};
constexpr std::chrono::milliseconds RangedReadTimeout{10000};

QString HeaderLines(const HttpResponse& response)
{
    QString text;
    for (const QByteArray& line : response.responseHeaders)
        text += QString::fromUtf8(SecretMask::MaskHeader(line)) + u'\n';
    return text;
}

// Appends the first count bytes of from (read from its start) to the end of
// to, then flushes to to disk.
bool AppendPrefix(QFile& from, std::int64_t count, QFile& to)
{
    if (!FileWriteBack::FlushToDisk(from) || !from.seek(0) || !to.seek(to.size()))
        return false;
    std::array<char, 65536> block{};
    while (count > 0) {
        const qint64 wanted = std::min<std::int64_t>(count, static_cast<std::int64_t>(block.size()));
        const qint64 got = from.read(block.data(), wanted);
        if (got <= 0 || to.write(block.data(), got) != got)
            return false;
        count -= got;
    }
    return FileWriteBack::FlushToDisk(to);
}

// The note beside a partial download: the version and size it belongs to.
QString NotePath(const QString& target)
{
    return target + QStringLiteral("_v");
}

QByteArray NoteText(const QString& version, std::int64_t size)
{
    return version.toUtf8() + '\n' + QByteArray::number(static_cast<qint64>(size));
}

// True when the partial at target may be continued for this version and
// size: no partial, a partial whose note matches, or (from before notes
// were kept) a partial without a note.
bool PartialMatches(const QString& target, const QString& version, std::int64_t size)
{
    QFile note(NotePath(target));
    if (!note.exists())
        return true;
    if (!note.open(QIODevice::ReadOnly))
        return false;
    return note.readAll() == NoteText(version, size);
}

bool WriteNote(const QString& target, const QString& version, std::int64_t size)
{
    QFile note(NotePath(target));
    return note.open(QIODevice::WriteOnly | QIODevice::Truncate) && note.write(NoteText(version, size)) >= 0 &&
           FileWriteBack::FlushToDisk(note);
}

// The first position and the total of "bytes first-last/total"; false when
// the value is not of that form.
bool ParseContentRange(const QList<QByteArray>& headers, std::int64_t& first, std::int64_t& total)
{
    for (const QByteArray& line : headers) {
        if (!line.toLower().startsWith("content-range:"))
            continue;
        const QByteArray value = line.mid(14).trimmed();
        if (!value.startsWith("bytes "))
            return false;
        const qsizetype dash = value.indexOf('-');
        const qsizetype slash = value.indexOf('/');
        if (dash < 0 || slash < dash)
            return false;
        bool okFirst = false;
        bool okTotal = false;
        first = value.mid(6, dash - 6).toLongLong(&okFirst);
        total = value.mid(slash + 1).toLongLong(&okTotal);
        return okFirst && okTotal;
    }
    return false;
}

// How the answer of one ranged attempt is taken.
enum class AttemptMode {
    None,      // no answer headers yet
    Append,    // 206 from the resume position: appended behind the target
    Whole,     // 200, the Range ignored: the whole file from its start
    Refused,   // an error status or a range that does not fit: nothing kept
    Changed,   // the file's total is not the expected size: another version
};

AttemptMode ModeOf(long status, const QList<QByteArray>& headers, std::int64_t position, std::int64_t expected)
{
    if (status == 200)
        return AttemptMode::Whole;
    if (status != 206)
        return AttemptMode::Refused;
    std::int64_t first = -1;
    std::int64_t total = -1;
    if (!ParseContentRange(headers, first, total))
        return AttemptMode::Refused;
    if (total != expected)
        return AttemptMode::Changed;
    return first == position ? AttemptMode::Append : AttemptMode::Refused;
}

QString AttemptError(const HttpResponse& response, AttemptMode mode)
{
    if (mode == AttemptMode::Refused || mode == AttemptMode::Changed || response.status >= 400)
        return QStringLiteral("HTTP status %1, the answer does not fit the request").arg(response.status);
    return response.error.isEmpty() ? QStringLiteral("the file could not be written") : response.error;
}


// One ranged request. A 206 from the resume position is written straight
// behind the target's end; a 200 (the Range ignored) goes to the temporary
// file, since it replaces the target only once something of it is kept.
struct Attempt {
    AttemptMode mode = AttemptMode::None;
    bool complete = false;
    std::int64_t got = 0;  // body bytes written
    HttpResponse response;
};

Attempt RunAttempt(const QString& url, QFile& file, QFile& temp, std::int64_t position, std::int64_t expected,
                   std::function<bool(std::int64_t, std::int64_t)> progress, const std::atomic<bool>* abort)
{
    Attempt attempt;
    bool written = file.seek(position);
    FileWriteBack appended(position);
    FileWriteBack whole;
    HttpRequest request;
    request.url = url;
    request.headers.append("Range: bytes=" + QByteArray::number(static_cast<qint64>(position)) + '-' +
                           QByteArray::number(static_cast<qint64>(expected - 1)));
    request.headersDone = [&attempt, position, expected](long status, const QList<QByteArray>& headers) {
        if (status >= 300 && status < 400)
            return true;  // a redirect; its target answers next
        attempt.mode = ModeOf(status, headers, position, expected);
        return attempt.mode == AttemptMode::Append || attempt.mode == AttemptMode::Whole;
    };
    request.bodySink = [&](const char* data, std::size_t size) {
        QFile& to = attempt.mode == AttemptMode::Whole ? temp : file;
        if (attempt.mode == AttemptMode::Whole && !temp.isOpen())
            written = written && temp.open(QIODevice::ReadWrite | QIODevice::Truncate);
        written = written && to.write(data, static_cast<qint64>(size)) == static_cast<qint64>(size);
        if (!written)
            return false;
        attempt.got += static_cast<std::int64_t>(size);
        (attempt.mode == AttemptMode::Whole ? whole : appended).Wrote(to);
        return true;
    };
    request.progress = std::move(progress);
    HttpClient client;
    client.SetAbortFlag(abort);
    client.Configure(TransferSettings::Download(RangedReadTimeout));
    attempt.response = client.Perform(request);
    attempt.complete = attempt.response.Ok() && written &&
                       (attempt.mode == AttemptMode::Append || attempt.mode == AttemptMode::Whole);
    return attempt;
}

// Reads back the short body of an attempt for the log.
QString ShortBody(QFile& from, std::int64_t offset, std::int64_t count)
{
    if (!from.isOpen() || !from.flush() || !from.seek(offset))
        return QString();
    return QString::fromUtf8(from.read(count));
}

// What an attempt leaves in the target: a complete answer whole, a broken
// one without its last DroppedTail bytes, a short error text nothing. The
// target is flushed to disk. Bytes kept, or -1 when the files failed.
std::int64_t Settle(const Attempt& attempt, QFile& file, QFile& temp, std::int64_t position, std::int64_t expected,
                    bool& errorText)
{
    const bool whole = attempt.mode == AttemptMode::Whole;
    const std::int64_t base = whole ? 0 : position;
    errorText = attempt.complete && attempt.got < PeltaAPI::SmallestDataBody &&
                expected - base > PeltaAPI::SmallestDataBody;
    std::int64_t keep = 0;
    if (attempt.complete && !errorText)
        keep = attempt.got;
    else if (!attempt.complete)
        keep = std::max<std::int64_t>(0, attempt.got - PeltaAPI::DroppedTail);
    if (errorText) {
        PeltaAPI::Log(QStringLiteral("PeltaAPI:HTTPGetFile2:donwload size(%1)<1024, ignore").arg(attempt.got), LogSync);
        if (attempt.got > 0) {
            const QString text = whole ? ShortBody(temp, 0, attempt.got) : ShortBody(file, position, attempt.got);
            PeltaAPI::Log(QStringLiteral("msg=") + SecretMask::MaskJson(text), LogSync);
        }
    }
    if (!whole)
        return file.resize(position + keep) && FileWriteBack::FlushToDisk(file) ? keep : -1;
    if (keep == 0 && !(attempt.complete && !errorText))
        return 0;  // nothing of the new answer: the target stays as it was
    // An answer that ignored the Range starts the file anew.
    return file.resize(0) && AppendPrefix(temp, keep, file) ? keep : -1;
}

}  // namespace

bool PeltaAPI::GetFile(const QString& url, const QString& target)
{
    Log(SecretMask::MaskUrl(url), LogHTTP);
    QFile file(target);
    if (file.exists())
        file.remove();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    Log(QStringLiteral("GetFile start"), LogHTTP);
    bool ok = false;
    if (AppState.load() != XAPPExit && !Aborted()) {
        bool written = true;
        FileWriteBack writeBack;
        HttpRequest request;
        request.url = url;
        request.bodySink = [&file, &written, &writeBack](const char* data, std::size_t size) {
            written = file.write(data, static_cast<qint64>(size)) == static_cast<qint64>(size);
            if (written)
                writeBack.Wrote(file);
            return written;
        };
        request.progress = [](std::int64_t received, std::int64_t sent) {
            return OnTransferWork(nullptr, received + sent);
        };
        HttpClient client;
        client.SetAbortFlag(&abort_);
        client.Configure(TransferSettings::Download(PlainReadTimeout));
        const HttpResponse response = client.Perform(request);
        ok = response.Ok() && response.status == 200 && written && FileWriteBack::FlushToDisk(file);
        if (ok) {
            Log(QStringLiteral("GetFile finish"), LogHTTP);
        } else {
            Log(response.error.isEmpty() ? QStringLiteral("GetFile: the file could not be written") : response.error);
            Log(HeaderLines(response));
        }
    }
    file.close();
    if (!ok)
        file.remove();
    return ok;
}

bool PeltaAPI::HTTPGetFile2(const QString& url, const QString& target, const QString& transferKey,
                            std::int64_t expectedSize, const QString& version)
{
    Log(SecretMask::MaskUrl(url));
    const QString tempPath = target + QStringLiteral("_t");
    QFile file(target);
    if (!PartialMatches(target, version, expectedSize) && file.exists()) {
        Log(QStringLiteral("API:GetFile2 the partial file belongs to another version, starting again: ") + target);
        file.remove();
    }
    if (!file.open(QIODevice::ReadWrite) || !WriteNote(target, version, expectedSize))
        return false;
    std::int64_t position = file.size();
    QFile::remove(tempPath);

    TransferScope scope(transferKey);
    RequestObject.ResumeAt(position);
    int failed = 0;
    bool ok = false;
    for (;;) {
        if (position == expectedSize) {
            ok = true;
            break;
        }
        if (position > expectedSize) {
            Log(QStringLiteral("API:GetFile2 error:filesize fs(%1)>db(%2), break and retry next time")
                    .arg(position)
                    .arg(expectedSize));
            file.resize(0);
            break;
        }
        Log(QStringLiteral("GetFile2 start at:%1").arg(position), LogHTTP);
        if (AppState.load() == XAPPExit || Aborted())
            break;
        QFile temp(tempPath);
        const Attempt attempt = RunAttempt(url, file, temp, position, expectedSize, scope.Progress(), &abort_);
        if (attempt.complete) {
            Log(QStringLiteral("GetFile2 finish"), LogHTTP);
        } else {
            Log(QStringLiteral("PeltaAPI::HTTPGetFile2::Exception, %1\n%2")
                    .arg(AttemptError(attempt.response, attempt.mode), HeaderLines(attempt.response)),
                LogSync);
            ++failed;
            if (AppState.load() == XAPPExit || Aborted())
                break;
        }
        if (attempt.mode == AttemptMode::Changed) {
            // The service holds another version now; what the target holds
            // belongs to the old one and must not be completed from the new.
            Log(QStringLiteral("API:GetFile2 the file changed on the service, the partial file is dropped: ") + target,
                LogSync);
            file.resize(0);
            break;
        }
        bool errorText = false;
        const std::int64_t kept = Settle(attempt, file, temp, position, expectedSize, errorText);
        temp.close();
        temp.remove();
        if (kept < 0) {
            Log(QStringLiteral("API:GetFile2 cannot write ") + target, LogSync);
            break;
        }
        failed += errorText ? 1 : 0;
        RequestObject.AddTransferred(kept);
        position = file.size();
        if ((attempt.complete && !errorText) || position == expectedSize) {
            ok = true;
            break;
        }
        if (failed > MaxFailedAttempts || scope.Cancelled())
            break;
    }
    file.close();
    if (scope.Cancelled()) {
        ok = false;
        QFile::remove(target);
        QFile::remove(NotePath(target));
        RequestObject.ResetTransfer();
    }
    if (ok) {
        QFile::remove(NotePath(target));
        RequestObject.ResetTransfer();
    }
    return ok;
}
