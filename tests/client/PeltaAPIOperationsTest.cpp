// The agent interface's operations: what each builder sends, and one round
// trip per operation against the fake service.

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/PeltaRecSyncRequest.h"
#include "foundation/ProcessState.h"
#include "foundation/text/TimeHelpers.h"
#include "tests/client/ServiceFixture.h"

#include <gtest/gtest.h>

namespace {

class PeltaAPIOperationsTest : public ServiceFixture {
protected:
    QString KeyFields() const
    {
        return QStringLiteral("access_key=%1&access_key_checksum=%2").arg(AccessKey, AccessChecksum);
    }

    static PeltaRecSyncRequest Row(int action, const QString& path, const XMap& opt)
    {
        PeltaRecSyncRequest row;
        row.action = action;
        row.path = path;
        row.opt = PeltaJSON::MapToJson(opt);
        return row;
    }

    // setSyncJournal then commitSyncJournal of the row; the commit's reply.
    QString RegisterAndCommit(PeltaRecSyncRequest& row)
    {
        QString url;
        QString body;
        QString out;
        EXPECT_TRUE(api_->BuildSetSyncJournal(row, url, body));
        EXPECT_TRUE(api_->CallAgentAPI(url, body, true, out)) << out.toStdString();
        const XMap key = PeltaJSON::ObjectToMap(PeltaJSON::ParseFindObject(out, QStringLiteral("sync_journal")));
        row.sync_journal_key = key.at(QStringLiteral("key"));
        row.sync_journal_key_checksum = key.at(QStringLiteral("checksum"));

        EXPECT_TRUE(api_->BuildCommitSyncJournal(row, url, body));
        EXPECT_TRUE(api_->CallAgentAPI(url, body, true, out)) << out.toStdString();
        return out;
    }
};

TEST_F(PeltaAPIOperationsTest, UrlsCarryTheUserAndTheTime)
{
    QString url;
    QString body;
    const std::int32_t before = UnixTimeNow();
    api_->BuildGetAgentInfo(url, body);
    const QString prefix = ServiceUrl + QStringLiteral("/v1/getAgentInfo?u=100001&t=");
    ASSERT_TRUE(url.startsWith(prefix)) << url.toStdString();
    const int time = url.mid(prefix.size()).toInt();
    EXPECT_GE(time, before);
    EXPECT_LE(time, UnixTimeNow());
    EXPECT_EQ(body, KeyFields() + QStringLiteral("&agent_key=%1&agent_ver=%2").arg(AgentKey, reg_->AgentVer()));
}

TEST_F(PeltaAPIOperationsTest, JournalRowsChooseTheirTypeAndAction)
{
    const struct {
        int action;
        const char* objType;
        const char* word;
    } cases[] = {
        {XSYNCFileAdd, "file", "add"},       {XSYNCFileMod, "file", "edit"},       {XSYNCFileDel, "file", "recycle"},
        {XSYNCFileMove, "file", "move"},     {XSYNCFileGet, "file", "get"},        {XSYNCFolderAdd, "folder", "add"},
        {XSYNCFolderMod, "folder", "mod"},   {XSYNCFolderDel, "folder", "recycle"}, {XSYNCFolderMove, "folder", "move"},
        {XSYNCFolderGet, "folder", "get"},   {XSYNCNOP, "file", "add"},            {XSYNCFolderMoveDst, "file", "add"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.action);
        PeltaRecSyncRequest request;
        request.action = row.action;
        request.opt = QStringLiteral("{}");
        QString url;
        QString body;
        ASSERT_TRUE(api_->BuildSetSyncJournal(request, url, body));
        EXPECT_EQ(body, KeyFields() + QStringLiteral("&action=%1&agent_key=%2&obj_type=%3&req_desc={}")
                                          .arg(QLatin1String(row.word), AgentKey, QLatin1String(row.objType)));
    }
}

TEST_F(PeltaAPIOperationsTest, BodiesOfTheQueries)
{
    QString url;
    QString body;
    api_->BuildGetMetadata(3, QStringLiteral("\\docs\\a.txt"), 1, false, url, body);
    EXPECT_EQ(body, KeyFields() + QStringLiteral("&obj_type=version&my_base64_full_path_name=")
                        + Base64UrlEncodeText(QStringLiteral("/docs/a.txt")) + QStringLiteral("&recursive=1&recycle=0"));

    const struct {
        int resultType;
        const char* word;
    } journalCases[] = {{0, "all"}, {1, "all"}, {2, "count"}, {3, "journal"}, {7, "all"}};
    for (const auto& row : journalCases) {
        api_->BuildGetSyncJournal(QStringLiteral("1000.05"), row.resultType, url, body);
        EXPECT_EQ(body, KeyFields() + QStringLiteral("&last_commit_time=1000.05&result_type=")
                            + QLatin1String(row.word));
    }

    PeltaRecSyncRequest row;
    row.path = QStringLiteral("\\docs\\a.txt");
    api_->BuildGetFileCheck(row, url, body);
    EXPECT_EQ(body, KeyFields() + QStringLiteral("&agent_key=") + AgentKey + QStringLiteral("&my_base64_full_path_name=")
                        + Base64UrlEncodeText(QStringLiteral("/docs/a.txt")));
}

TEST_F(PeltaAPIOperationsTest, UploadAddresses)
{
    PeltaRecSyncRequest row;
    row.sync_journal_key = QStringLiteral("JK");
    row.sync_journal_key_checksum = QStringLiteral("JC");
    EXPECT_EQ(api_->BuildPutFile(row, TransferActionSize),
              UploadUrl + QStringLiteral("/v1/putFile?u=100001&size&%1&%2&JK&JC").arg(AccessKey, AccessChecksum));

    XMap fields{{QStringLiteral("p_size"), QStringLiteral("12")}, {QStringLiteral("access_key"), QStringLiteral("old")}};
    const QString url = api_->BuildPostFile2(row, TransferActionTransfer, fields);
    EXPECT_TRUE(url.startsWith(UploadUrl + QStringLiteral("/v1/postFile2?u=100001&t=")));
    const XMap expected{{QStringLiteral("access_key"), AccessKey},
                        {QStringLiteral("access_key_checksum"), AccessChecksum},
                        {QStringLiteral("action"), QStringLiteral("transfer")},
                        {QStringLiteral("p_size"), QStringLiteral("12")},
                        {QStringLiteral("sync_journal_key"), QStringLiteral("JK")},
                        {QStringLiteral("sync_journal_key_checksum"), QStringLiteral("JC")}};
    EXPECT_EQ(fields, expected);
}

TEST_F(PeltaAPIOperationsTest, RefusesARowWhoseDescriptionWouldBeSplit)
{
    PeltaRecSyncRequest row = Row(XSYNCFileAdd, QStringLiteral("\\a.txt"), {{QStringLiteral("note"), QStringLiteral("a&b=c")}});
    QString url;
    QString body = QStringLiteral("stale");
    TakeLog();
    EXPECT_FALSE(api_->BuildSetSyncJournal(row, url, body));
    EXPECT_EQ(body, QString());
    EXPECT_TRUE(TakeLog().contains(QLatin1String("PeltaAPI:BuildSetSyncJournal:refused: the field req_desc")));
}

TEST_F(PeltaAPIOperationsTest, RegistersAndReadsTheAgent)
{
    QString url;
    QString body;
    QString out;
    ASSERT_TRUE(api_->BuildGetAgentInfo(url, body));
    EXPECT_FALSE(api_->CallAgentAPI(url, body, true, out));
    EXPECT_EQ(out, QStringLiteral("user agent not register"));

    ASSERT_TRUE(api_->BuildSetAgentInfo(url, body));
    ASSERT_TRUE(api_->CallAgentAPI(url, body, true, out)) << out.toStdString();
    const std::optional<FakeAgent> agent = service_.State().Agent(UserId, AgentKey);
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->nameBase64, QStringLiteral("bGFwdG9w"));
    EXPECT_EQ(agent->folderMd5, FolderMd5);
    EXPECT_EQ(agent->version, reg_->AgentVer());

    ASSERT_TRUE(api_->BuildGetAgentInfo(url, body));
    ASSERT_TRUE(api_->CallAgentAPI(url, body, true, out)) << out.toStdString();
    EXPECT_EQ(PeltaJSON::ParseToMap(out)[QStringLiteral("sync_folder_md5sum")], FolderMd5);
}

TEST_F(PeltaAPIOperationsTest, ListsAFolder)
{
    ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/docs/a b.txt"), "hello", 1700000000));
    QString url;
    QString body;
    QString out;
    ASSERT_TRUE(api_->BuildGetMetadata(1, QStringLiteral("\\docs"), 1, false, url, body));
    ASSERT_TRUE(api_->CallAgentAPI(url, body, true, out)) << out.toStdString();
    const JsonValue metadata = PeltaJSON::ParseFindObject(out, QStringLiteral("metadata"));
    const std::optional<JsonValue> files = PeltaJSON::FindArray(metadata, QStringLiteral("file"));
    ASSERT_TRUE(files);
    ASSERT_EQ(files->Size(), 1u);
    const XMap file = files->At(0).ObjectToMap();
    EXPECT_EQ(file.at(QStringLiteral("name")), QStringLiteral("a b.txt"));
    EXPECT_EQ(file.at(QStringLiteral("path")), QStringLiteral("/docs"));
    EXPECT_EQ(file.at(QStringLiteral("size")), QStringLiteral("5"));
}

TEST_F(PeltaAPIOperationsTest, RegistersCommitsAndReadsTheJournal)
{
    RegisterAgent();
    PeltaRecSyncRequest row = Row(XSYNCFolderAdd, QStringLiteral("\\new"),
                                  {{QStringLiteral("local_mtime"), QStringLiteral("1700000000")},
                                   {QStringLiteral("my_base64_full_path_name"), PathToBase64Url(QStringLiteral("\\new"))},
                                   {QStringLiteral("size"), QStringLiteral("0")}});
    const QString commit = RegisterAndCommit(row);
    EXPECT_EQ(PeltaJSON::ParseToMap(commit)[QStringLiteral("conflict")], QStringLiteral("0"));
    ASSERT_TRUE(service_.State().FindItem(UserId, QStringLiteral("/new")));

    QString url;
    QString body;
    QString out;
    ASSERT_TRUE(api_->BuildGetSyncJournal(QStringLiteral("0"), 0, url, body));
    ASSERT_TRUE(api_->CallAgentAPI(url, body, true, out)) << out.toStdString();
    const std::optional<JsonValue> journal = PeltaJSON::ParseFindArray(out, QStringLiteral("commit_journal"));
    ASSERT_TRUE(journal);
    ASSERT_EQ(journal->Size(), 1u);
    const XMap entry = journal->At(0).ObjectToMap();
    EXPECT_EQ(entry.at(QStringLiteral("agent_key")), AgentKey);
    EXPECT_EQ(entry.at(QStringLiteral("action")), QStringLiteral("add"));

    ASSERT_TRUE(api_->BuildGetSyncJournal(QStringLiteral("0"), 2, url, body));
    ASSERT_TRUE(api_->CallAgentAPI(url, body, true, out)) << out.toStdString();
    EXPECT_EQ(PeltaJSON::ParseToMap(out)[QStringLiteral("commit_journal_count")], QStringLiteral("1"));
    EXPECT_FALSE(PeltaJSON::ParseFindArray(out, QStringLiteral("commit_journal"))->Size());
}

TEST_F(PeltaAPIOperationsTest, ChecksAFile)
{
    ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/docs/a.txt"), "hello", 1700000000));
    PeltaRecSyncRequest row;
    row.path = QStringLiteral("\\docs\\a.txt");
    QString url;
    QString body;
    ASSERT_TRUE(api_->BuildGetFileCheck(row, url, body));
    QString reply = api_->HTTPPostForm(url, body, true);
    QString msg;
    ASSERT_TRUE(PeltaJSON::CheckStatus(reply, msg)) << reply.toStdString();
    const XMap fields = PeltaJSON::ParseToMap(reply);
    EXPECT_TRUE(fields.at(QStringLiteral("get_url")).startsWith(QString::fromStdString(service_.DownloadUrl())));
    EXPECT_EQ(fields.at(QStringLiteral("size")), QStringLiteral("5"));

    row.path = QStringLiteral("\\docs\\missing.txt");
    ASSERT_TRUE(api_->BuildGetFileCheck(row, url, body));
    reply = api_->HTTPPostForm(url, body, true);
    EXPECT_FALSE(PeltaJSON::CheckStatus(reply, msg));
    EXPECT_EQ(msg, QStringLiteral("file not found in metadata"));
}

}  // namespace
