#pragma once

// The steps that drive one request row by its status: registration with the
// service (setSyncJournal), the transfer, and the commit (commitSyncJournal).
// The request worker owns one, takes the rows and calls Handle for each; a
// row passes from registration through transfer to commit in one go, since
// Handle asks for the row again while it has more to do at once.
//
// A row whose status has no handling for its action (for instance a
// folder's row at a transfer status) is ended (cancelled) with a log line,
// so it is never taken again without end.
//
// Runs on the worker's thread, on the worker's engine.

#include "foundation/db/PeltaRecSyncRequest.h"
#include "sync/engine/PeltaSync.h"

#include <QString>

#include <functional>

class RequestSteps {
public:
    // What one batch did, for the worker's end-of-batch notice and icons.
    struct Tally {
        PeltaSync::ActionCounts actionCounts{};
        QString lastPath;      // of the last row finished
        int unfinished = 0;    // rows left for a later attempt
        PeltaSync::ParentCounter parents;

        void Reset();
    };

    explicit RequestSteps(PeltaSync& sync);

    // Called after each commit the service accepted (the worker sends the
    // push notice there).
    void SetOnCommitted(std::function<void()> onCommitted);

    // Handles the row by its status; true when it is to be handled again at
    // once (it moved on to another status that has work now).
    bool Handle(PeltaRecSyncRequest& request, Tally& tally);
    // Handles the row until it has nothing more to do now.
    void Drive(PeltaRecSyncRequest& request, Tally& tally);

    // Registration. True when the row is to be committed next (status 3 in
    // memory); false otherwise - also when it moved on to its transfer
    // (status 5), which Handle takes as "again".
    bool SetSyncJournal(PeltaRecSyncRequest& request);
    // Commit; always false (the row is finished, counted or left).
    bool CommitSyncJournal(PeltaRecSyncRequest& request);

    // The upload method of a row's options ("upload_type"): putFile 0,
    // postFile2 2, anything else postFile 1.
    static int UploadMethodOf(const QString& opt);

private:
    // The upload's part of the registration: the local file checked, a fresh
    // snapshot taken and the options made to describe it. False when the row
    // is not to be registered now.
    bool PrepareUpload(PeltaRecSyncRequest& request);
    bool Transfer(PeltaRecSyncRequest& request, Tally& tally);
    void CommitAccepted(PeltaRecSyncRequest& request, const QString& reply);
    // Ends a row that the service needs nothing more for.
    void FinishSettled(PeltaRecSyncRequest& request);
    // After an add landed: the item gone here meanwhile is deleted there too.
    void FollowWithDeletion(const PeltaRecSyncRequest& request);
    void EndUnhandled(PeltaRecSyncRequest& request);
    void Finished(const PeltaRecSyncRequest& request, Tally& tally);

    PeltaSync& sync_;
    std::function<void()> onCommitted_;
};
