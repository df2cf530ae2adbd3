#include "foundation/db/PeltaRecSyncRequest.h"
#include "foundation/db/PeltaRecVfsSyncFile.h"

#include <gtest/gtest.h>

TEST(PeltaRec, InsertSqlDoublesQuotesInEveryText)
{
    PeltaRecSyncRequest request;
    request.key = QStringLiteral("k'1");
    request.sn = QStringLiteral("sn");
    request.path = QStringLiteral("\\it's");
    request.path2 = QStringLiteral("\\old'");
    request.agent_key = QStringLiteral("ag");
    request.action = XSYNCFileMove;
    request.opt = QStringLiteral("{\"a\":\"'\"}");
    request.status = 1;
    request.priority = 1;
    EXPECT_EQ(request.GetInsertSQL(),
              QStringLiteral("insert into sync_request (key, sn, path, path2, agent_key, action, opt, status, priority) "
                             "values ('k''1', 'sn', '\\it''s', '\\old''', 'ag', 4, '{\"a\":\"''\"}', 1, 1)"));
}

TEST(PeltaRec, ClearAndAssign)
{
    PeltaRecSyncRequest request;
    request.rowid = 7;
    request.serverMsg = QStringLiteral("x");
    request.uploadMethod = UploadMethodPostFile2;
    request.Clear();
    EXPECT_EQ(request.rowid, 0);
    EXPECT_TRUE(request.serverMsg.isEmpty());
    EXPECT_EQ(request.uploadMethod, UploadMethodPostFile);

    PeltaRecVfsSyncFile source;
    source.path = QStringLiteral("\\a");
    source.size = 5LL << 30;
    source.kind = XFSFile;
    source.found = true;
    source.error = true;
    PeltaRecVfsSyncFile copy;
    copy.Assign(&source);
    EXPECT_EQ(copy.path, source.path);
    EXPECT_EQ(copy.size, 5LL << 30);
    EXPECT_TRUE(copy.found && copy.error) << "the flags travel with the data";

    copy.Assign(nullptr);
    EXPECT_TRUE(copy.path.isEmpty());
    EXPECT_EQ(copy.kind, XFSNone);
    EXPECT_FALSE(copy.found || copy.error);
}
