#include "foundation/db/PeltaSQLite3.h"

#include "foundation/settings/DataFolder.h"
#include "foundation/db/LithosSQLiteDatabase.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/db/PeltaRec.h"
#include "foundation/UserMessageSink.h"
#include "foundation/text/Xi18n.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <array>
#include <utility>

namespace {

// The files SQLite keeps next to a database. They belong to the file they
// sit next to: a journal left beside a new file would be played into it.
const std::array<QString, 3> kCompanionSuffixes = {
    QStringLiteral("-journal"),
    QStringLiteral("-wal"),
    QStringLiteral("-shm"),
};

// Not a database, or a malformed one: the file itself is damaged. Every other
// failure (permissions, locks, I/O, a folder in the way) may pass.
bool IsDamage(const Lithos::SQLiteException& failure)
{
    const int code = failure.PrimaryCode();
    return code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
}

bool AnyExists(const QString& path)
{
    if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
        return true;
    for (const QString& suffix : kCompanionSuffixes) {
        if (QFileInfo::exists(path + suffix))
            return true;
    }
    return false;
}

// "<path>.<tag>-<stamp>", with "-<n>" added while that name is taken.
QString AsideName(const QString& path, const QString& tag)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString base = path + QLatin1Char('.') + tag + QLatin1Char('-') + stamp;
    QString name = base;
    for (int n = 1; AnyExists(name); ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

}  // namespace

// ---- FileLock --------------------------------------------------------------

PeltaSQLite3::FileLock::FileLock(PeltaSQLite3& owner) : owner_(owner)
{
    owner_.lock_.lock();
    ++owner_.lockDepth_;
}

PeltaSQLite3::FileLock::~FileLock()
{
    --owner_.lockDepth_;
    owner_.lock_.unlock();
    if (owner_.lockDepth_ == 0)
        owner_.DeliverReports();
}

// ---- PeltaSQLite3 ----------------------------------------------------------

PeltaSQLite3::PeltaSQLite3(std::recursive_mutex& lock)
    : path_(DataFilePath(QStringLiteral("profile.db"))),
      lock_(lock),
      statement_(std::make_unique<Lithos::SQLiteStatement>(nullptr))
{
}

PeltaSQLite3::~PeltaSQLite3() = default;

void PeltaSQLite3::SetPath(const QString& path)
{
    path_ = path;
}

bool PeltaSQLite3::Open()
{
    const FileLock hold(*this);
    if (IsOpen())
        return true;
    if (!QFileInfo(path_).exists())
        return CreateReplacing(QStringLiteral("replaced"));

    int schemaObjects = 0;
    try {
        schemaObjects = Connect(SQLITE_OPEN_READWRITE);
    } catch (const Lithos::SQLiteException& failure) {
        Disconnect();
        ReportError(failure);
        if (!IsDamage(failure))
            return false;
        return CreateReplacing(QStringLiteral("damaged"));
    }
    // A file left without tables (say, by a creation cut short) gets them.
    if (schemaObjects == 0)
        CreateTables();
    return true;
}

bool PeltaSQLite3::Create()
{
    return CreateReplacing(QStringLiteral("replaced"));
}

bool PeltaSQLite3::CreateReplacing(const QString& asideTag)
{
    const FileLock hold(*this);
    Disconnect();
    if (AnyExists(path_) && !MoveAside(asideTag))
        return false;
    try {
        Connect(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    } catch (const Lithos::SQLiteException& failure) {
        Disconnect();
        ReportError(failure);
        return false;
    }
    CreateTables();
    return true;
}

int PeltaSQLite3::Connect(int flags)
{
    connection_ = std::make_unique<Lithos::SQLiteDatabase>(QFile::encodeName(path_).toStdString(), flags);
    statement_ = std::make_unique<Lithos::SQLiteStatement>(connection_.get());
    // SQLite opens lazily: reading the schema shows now whether the file is
    // a database at all.
    Lithos::SQLiteStatement probe(connection_.get());
    return int(probe.QueryDouble(QStringLiteral("select count(*) from sqlite_master")));
}

void PeltaSQLite3::Disconnect() noexcept
{
    statement_ = std::make_unique<Lithos::SQLiteStatement>(nullptr);
    connection_.reset();
}

// Only a regular file (or a link) is moved; whatever else stands at the path
// is left alone and makes the open fail.
bool PeltaSQLite3::MoveAside(const QString& asideTag)
{
    const QString aside = AsideName(path_, asideTag);
    std::vector<std::pair<QString, QString>> moves;
    const QFileInfo database(path_);
    if (database.isFile() || database.isSymLink())
        moves.emplace_back(path_, aside);
    for (const QString& suffix : kCompanionSuffixes) {
        if (QFileInfo::exists(path_ + suffix))
            moves.emplace_back(path_ + suffix, aside + suffix);
    }
    for (const auto& [from, to] : moves) {
        QFile file(from);
        if (!file.rename(to)) {
            ReportError(QStringLiteral("%1 cannot be moved aside to %2: %3\n").arg(from, to, file.errorString()));
            return false;
        }
    }
    if (!moves.empty())
        AppLog.Write(QStringLiteral("PeltaSQLite3: %1 moved aside to %2").arg(path_, aside), LogDB);
    return true;
}

void PeltaSQLite3::Close()
{
}

bool PeltaSQLite3::IsOpen() const
{
    return connection_ != nullptr;
}

bool PeltaSQLite3::Exec(const QString& sql)
{
    const FileLock hold(*this);
    Lithos::SQLiteStatement statement(connection_.get());
    try {
        statement.ExecuteOnce(sql);
        return true;
    } catch (const Lithos::SQLiteException& failure) {
        ReportError(failure);
        return false;
    }
}

int PeltaSQLite3::QueryWith(const QString& sql, Lithos::SQLiteStatement& statement)
{
    const FileLock hold(*this);
    try {
        statement.Prepare(sql);
        if (!statement.FetchRow())
            return 0;
        statement.Reset();
        return 1;
    } catch (const Lithos::SQLiteException& failure) {
        statement.FreeStatement();  // nothing of the file stays locked by it
        ReportError(failure);
        return -1;
    }
}

int PeltaSQLite3::Query(const QString& sql)
{
    return QueryWith(sql, *statement_);
}

QString PeltaSQLite3::QueryValue(const QString& sql, const QString& columnName)
{
    const FileLock hold(*this);
    Lithos::SQLiteStatement statement(connection_.get());
    statement.Prepare(sql);
    if (!statement.FetchRow())
        return QString();
    return ColumnText(columnName, statement);
}

bool PeltaSQLite3::ColumnExists(const QString& table, const QString& column)
{
    const FileLock hold(*this);
    const std::string wanted = column.toStdString();
    try {
        Lithos::SQLiteStatement statement(connection_.get());
        statement.Prepare(QStringLiteral("select * from ") + table + QStringLiteral(" limit 1"));
        const int count = statement.GetColumnCount();
        for (int index = 0; index < count; ++index) {
            if (statement.GetColumnName(index) == wanted)
                return true;
        }
    } catch (const Lithos::SQLiteException&) {
        // A missing table simply has no such column.
    }
    return false;
}

QString PeltaSQLite3::EscapeQuote(const QString& text)
{
    return PeltaRec::EscapeQuote(text);
}

QString PeltaSQLite3::ColumnText(const QString& columnName, Lithos::SQLiteStatement& statement)
{
    const std::string name = columnName.toStdString();
    try {
        if (statement.GetColumnTypeByName(name) != SQLITE_TEXT)
            return QString();
        return statement.GetColumnString16ByName(name);
    } catch (const Lithos::SQLiteException& failure) {
        ReportError(failure);
        return QString();
    }
}

QString PeltaSQLite3::GetColumnText(const QString& columnName, Lithos::SQLiteStatement& statement)
{
    return ColumnText(columnName, statement);
}

QString PeltaSQLite3::GetText(const QString& columnName)
{
    return ColumnText(columnName, *statement_);
}

QString PeltaSQLite3::GetString(const QString& columnName)
{
    return ColumnText(columnName, *statement_);
}

int PeltaSQLite3::GetColumnInt(const QString& columnName, Lithos::SQLiteStatement& statement)
{
    return statement.GetColumnIntByName(columnName.toStdString());
}

bool PeltaSQLite3::CreateTables()
{
    return true;
}

std::unique_ptr<Lithos::SQLiteStatement> PeltaSQLite3::NewStatement() const
{
    return std::make_unique<Lithos::SQLiteStatement>(connection_.get());
}

QString PeltaSQLite3::FormatSQLiteException(const Lithos::SQLiteException& failure)
{
    const std::string text = "file: " + failure.File() + "\nline: " + std::to_string(failure.Line()) +
                             "\nerror: " + failure.Message() + "\n";
    return QString::fromUtf8(text);
}

void PeltaSQLite3::ReportError(const Lithos::SQLiteException& failure)
{
    ReportError(FormatSQLiteException(failure));
}

void PeltaSQLite3::ReportError(const QString& text)
{
    lastError_ = text;
    AppLog.Write(QStringLiteral("PeltaSQLite3: ") + path_ + QStringLiteral(": ") + text, LogDB);
    pendingReports_.push_back(text);
    if (lockDepth_ == 0)
        DeliverReports();
}

void PeltaSQLite3::DeliverReports() noexcept
{
    std::vector<QString> reports;
    reports.swap(pendingReports_);
    for (const QString& text : reports) {
        try {
            UserMessageSink::Show(Xi18n::Text(XText::_APPName), text);
        } catch (...) {
            // Already kept as the last error and logged; the message is lost.
        }
    }
}
