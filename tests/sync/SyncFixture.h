#pragma once

// A fixture for the sync engine: a private data folder (TESSARON_HOME) with
// its own home and config folders, statements with a 1 ms pause, an
// in-memory registry, a settings store with user_sn and a temporary sync
// folder, a status object of its own, every log category on, and one
// engine. Process-wide values it changes are put back afterwards.

#include "foundation/PeltaRequestObject.h"
#include "foundation/PeltaTrackConflict.h"
#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "platform/Event.h"
#include "platform/RegistryStore.h"
#include "sync/engine/PeltaSync.h"
#include "tests/support/DatabaseTest.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>

class SyncFixture : public DatabaseTest {
protected:
    static const QString UserSn;
    static const QString AgentKey;

    void SetUp() override;
    void TearDown() override;

    // A second engine on the same settings (each thread has its own).
    std::unique_ptr<PeltaSync> NewEngine();

    QString SyncRoot() const { return syncRoot_; }
    // The full path of a relative path ("\a\b" -> <sync folder>/a/b).
    QString Local(const QString& relative) const;

    // Items in the sync folder, by relative path. A given mtime (Unix
    // seconds) is set on the new file.
    void MakeFolder(const QString& relative);
    void MakeFile(const QString& relative, const QByteArray& bytes = "data", std::int64_t mtime = 0);
    void SetMtime(const QString& relative, std::int64_t mtime);
    void Remove(const QString& relative);  // a file, or a folder with its contents
    void Move(const QString& from, const QString& to);

    // Every row of sql, its columns as text joined by "|" (NULL as "NULL").
    QStringList Rows(const QString& sql);
    double Number(const QString& sql);
    void Run(const QString& sql);
    // "path|key|parent|name" of every file and folder row, by path.
    QStringList FileRows();
    QStringList FolderRows();
    // "action|path|path2|status" of every request row, in insertion order.
    QStringList Requests();
    // The opt text of the request rows with the action, in insertion order.
    QStringList Opts(int action);

    // The relative path's marker files that exist: "", "1", "9" or "19".
    QString Markers(const QString& relative) const;

    // Everything the process log buffered since the last call.
public:
    static QString TakeLog();
protected:

    std::unique_ptr<RegistryStore> registry_ = RegistryStore::InMemory();
    std::unique_ptr<PeltaReg> reg_;
    PeltaSyncAgentSetting settings_;
    PeltaTrackConflict conflicts_;
    Event trayEvent_{QStringLiteral("test tray"), Event::ResetKind::Automatic};
    std::unique_ptr<PeltaRequestObject> status_;
    std::unique_ptr<PeltaSync> engine_;

private:
    QString syncRoot_;
    int savedLogMask_ = 0;
    int savedUploadMethod_ = 0;
};

// A list of texts as one text, a line each, for readable failures.
inline std::string Joined(const QStringList& list)
{
    return list.join(QLatin1Char('\n')).toStdString();
}
