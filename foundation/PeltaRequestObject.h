#pragma once

// The shared status object: where the workers leave what the tray should show
// and what the directory monitor should ignore. It holds the running transfer
// and its progress, a plain status message, the syncing and quota-full flags,
// the self-change marks of the engine's own file operations, the marks of
// folders just added, the states of files in use and the cancel flags of the
// running transfers. It builds the tray status text on request and signals the
// tray event when that text may have changed.
//
// Every interval is measured on the steady clock handed to the constructor.
// One lock guards the maps and the transfer fields; it is never held while
// calling into another object, and the tray event is signalled after the
// change is made and the lock released. Any thread may call any operation.

#include "foundation/PeltaTrackConflict.h"
#include "foundation/ProcessState.h"
#include "platform/Event.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

// Raised to stop one running transfer. The HTTP client of that transfer reads
// it in its progress callback and aborts the request once it is up.
using TransferCancelFlag = std::atomic<bool>;

class PeltaRequestObject {
public:
    using Clock = std::function<SteadyTime()>;

    // Status kinds.
    static constexpr int StatusNone = 0;
    static constexpr int StatusMessage = 1;
    static constexpr int StatusTransfer = 2;

    // Transfer actions (2 and 3 are both uploads).
    static constexpr int ActionNone = 0;
    static constexpr int ActionDownload = 1;
    static constexpr int ActionUpload = 2;
    static constexpr int ActionUploadAlt = 3;

    // The engine's mark for a path it is about to change itself.
    static constexpr int SelfChangeMark = 65534;

    static constexpr std::chrono::seconds ProgressSignalInterval{3};
    static constexpr std::chrono::seconds SelfChangeLifetime{3};
    static constexpr std::chrono::seconds FolderAddLifetime{15};

    // The current transfer, as copied out by CurrentTransfer.
    struct TransferInfo {
        int action = ActionNone;
        QString fileName;  // the name part of the transferred path
        std::int64_t total = 0;
        std::int64_t done = 0;
        std::int64_t base = 0;
        int requestId = 0;
    };

    // conflicts is read (count and first key) for the status text; it must
    // outlive this object, as must trayEvent. An empty clock means the steady
    // clock.
    explicit PeltaRequestObject(PeltaTrackConflict& conflicts, Event& trayEvent = evtTrayIconMsn,
                                Clock clock = &SteadyClock::now);

    PeltaRequestObject(const PeltaRequestObject&) = delete;
    PeltaRequestObject& operator=(const PeltaRequestObject&) = delete;

    // ---- Transfer progress ------------------------------------------------
    // Resets the transfer, then records action, name part of path, request id
    // and total; the start and the last progress signal become now, the
    // status kind becomes StatusTransfer, the message is emptied and the tray
    // is signalled.
    void BeginTransfer(int action, const QString& path, int requestId, std::int64_t total);

    // Continuing from a stored position: when 0 <= offset < total, total
    // becomes total - offset and base becomes done, so that rate and remaining
    // time count only this run. Otherwise nothing changes.
    void ResumeAt(std::int64_t offset);

    // done = base + position. Signals the tray (and sets the transfer kind)
    // only when more than ProgressSignalInterval passed since the last signal.
    void UpdateTransferred(std::int64_t position);

    // A finished chunk of count bytes: base += count, done = base; the tray is
    // signalled at once.
    void AddTransferred(std::int64_t count);

    // Empties the name; action, total, done, base, start and request id become
    // zero; the last progress signal becomes now and a tray signal not yet
    // taken is dropped. Message and status kind stay.
    void ResetTransfer();

    // Action set and file name not empty.
    bool IsTransferring() const;

    TransferInfo CurrentTransfer() const;

    // ---- Message and flags ------------------------------------------------
    // A non-empty text becomes the message (kind StatusMessage) and signals
    // the tray; an empty text changes nothing.
    void SetMessage(const QString& text);
    QString Message() const;
    int StatusKind() const;

    void SetSyncing(bool syncing) { syncing_ = syncing; }
    bool IsSyncing() const { return syncing_; }
    void SetQuotaFull(bool full) { quotaFull_ = full; }
    bool IsQuotaFull() const { return quotaFull_; }

    // The tray text, by priority: quota full; offline (AppState); the
    // message; the transfer progress; then the in-use and syncing texts.
    QString GetStatusText() const;

    // ---- Self-change marks ------------------------------------------------
    // Marks path (a leading backslash is added when missing) as changed by
    // the engine itself. n >= 1: with set or n >= SelfChangeMark the count
    // becomes n, otherwise n is added; the stamp becomes now. n < 0: added to
    // a known path's count, forgetting the path below 1; an unknown path is
    // left alone. n == 0: forgets the path. Writes a monitor log line first.
    void FileMon(const QString& path, int n, bool set);

    // True while the path holds a positive count stamped at most
    // SelfChangeLifetime ago; the mark is not consumed. An expired or empty
    // mark is forgotten and gives false.
    bool IsFileMonitored(const QString& path);

    // The count of the path's live mark, as IsFileMonitored sees it: 0 when
    // there is none (an expired or empty mark is forgotten). A count of at
    // least SelfChangeMark means the engine's own operation there is still
    // running; a lower one is the short settle mark it leaves afterwards.
    int FileMonCount(const QString& path);

    // ---- Per-file states --------------------------------------------------
    // state != 0 stores the state for the path and signals the tray; 0
    // forgets the path without signalling.
    void SetFileState(const QString& path, int state);
    // The state stored for the path; 0 when there is none.
    int FileState(const QString& path) const;

    // ---- Folder-add marks -------------------------------------------------
    // Marks folder as just added (a newer mark replaces an older one). Every
    // mark stays until TakeExpiredFolderAdds hands it over for a rescan, so a
    // new folder is always looked at again once its content has settled.
    void FolderAddMark(const QString& folder);

    int FolderAddCount() const;

    // Removes every mark older than FolderAddLifetime and returns the folders
    // in path order. The caller rescans them after this returns, never under
    // this object's lock.
    QStringList TakeExpiredFolderAdds();

    // ---- Running transfers ------------------------------------------------
    // Keyed by the file's relative path (e.g. "\docs\a.txt") for uploads and
    // downloads alike; each running transfer owns its cancel flag.

    // Registers a transfer under path and returns its fresh, lowered flag; an
    // earlier registration under the same path is replaced, and its flag is
    // no longer reachable through this object.
    std::shared_ptr<TransferCancelFlag> RegisterTransfer(const QString& path);
    bool HasTransfer(const QString& path) const;
    // Raises the flag of the transfer registered under path only; false when
    // no transfer is registered there.
    bool CancelTransfer(const QString& path);
    void RemoveTransfer(const QString& path);

private:
    struct SelfChange {
        int count = 0;
        SteadyTime stamp{};
    };

    PeltaTrackConflict& conflicts_;
    Event& trayEvent_;
    const Clock clock_;

    std::atomic<bool> syncing_{false};
    std::atomic<bool> quotaFull_{false};

    mutable std::mutex mutex_;
    // Guarded by mutex_:
    SteadyTime lastUpdate_{};
    int statusKind_ = StatusNone;
    QString message_;
    int action_ = ActionNone;
    QString fileName_;
    std::int64_t total_ = 0;
    std::int64_t done_ = 0;
    std::int64_t base_ = 0;
    SteadyTime transferStart_{};
    int requestId_ = 0;
    std::map<QString, SelfChange> selfChanges_;
    std::map<QString, QString> fileStates_;  // path -> state as decimal text
    std::map<QString, SteadyTime> folderAdds_;
    std::map<QString, std::shared_ptr<TransferCancelFlag>> transfers_;
};

// The process-wide status object; it reads TrackConflict for the status text.
extern PeltaRequestObject RequestObject;
