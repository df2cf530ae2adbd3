#pragma once

#include "foundation/Constants.h"
#include "foundation/db/PeltaRec.h"

#include <QString>

// One row of sync_request.
class PeltaRecSyncRequest : public PeltaRec {
public:
    void Clear();
    // The insert statement of the row, every text with its quotes doubled.
    QString GetInsertSQL() const;

    int rowid = 0;
    QString key;
    QString sn;
    QString path;        // for a move, the new path
    QString agent_key;
    int action = XSYNCNOP;
    int status = 0;
    QString path2;       // for a move, the old path
    QString opt;         // JSON options sent as the journal's request description
    int priority = 0;    // smaller values are taken first
    QString sync_journal_key;
    QString sync_journal_key_checksum;
    int sync_journal_key_expire = 0;
    int server_response = 0;
    int uploadMethod = UploadMethodPostFile;
    QString version;
    int err_count = 0;
    QString serverMsg;
};
