#pragma once

// One pass of the version check: fetches the version list, downloads what
// is newer than what is installed (each download verified by its MD5
// before it takes its name), replaces the updater in the update folder
// (keeping the previous one as "Updater.bak"), and reports through the
// callback, on this thread, which update is ready. Nothing is started here.
//
// Files are kept in the update folder only: never over the running program.
// Names from the list that are not plain file names are skipped. The whole
// pass holds one process-wide lock, so a second pass waits until the first
// has finished replacing files.
//
// Owned and joined by its creator.

#include "shell/update/PeltaVersion.h"

#include "platform/WorkerThread.h"

#include <QString>

#include <functional>
#include <mutex>

class PeltaCheckVersionThread : public WorkerThread {
public:
    // Called with (update type, version). Types: "BaseInstall", "Tessaron",
    // "Tessaron.dev" (an update is ready); "Notice" (a newer program exists
    // but could not be fetched safely; nothing is run); "Failed" (the list
    // could not be used; only with report none); "" (nothing new; only with
    // report none).
    using Callback = std::function<void(const QString& type, const QString& version)>;

    struct Setup {
        QString updateFolder;
        QString runningVersion3;  // this program's version, three parts
        QString runningVersion4;  // and four parts
        QString baseInstallVersion;
        bool dev = false;
        bool reportNone = false;
        PeltaVersion::Options http;
        Callback callback;
    };

    explicit PeltaCheckVersionThread(Setup setup);
    ~PeltaCheckVersionThread() override;

    // The lock every pass holds while it downloads and replaces files.
    static std::mutex& ReplaceLock();

protected:
    void Execute() override;

private:
    void Pass();
    bool Stopping() const;
    bool Needed(const VersionList::Entry& entry) const;
    void HandOff(const VersionList::Entry& entry, const QString& target, bool& found);
    void ReplaceUpdater(const QString& target, const QString& md5sum);
    void Report(const QString& type, const QString& version) const;

    Setup setup_;
    std::atomic<bool> stop_{false};
};
