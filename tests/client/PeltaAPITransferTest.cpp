// Uploads and downloads against the fake service: content arrives intact
// through cuts and resumes, faults of the hosts are survived or reported,
// and each transfer's key and cancel flag stay its own.

#include "tests/client/ServiceFixture.h"
#include "tests/support/FileContents.h"
#include "tests/support/PatternData.h"
#include "tests/support/WaitUntil.h"

#include "foundation/crypto/Crypto.h"
#include "foundation/db/PeltaRecSyncRequest.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <chrono>
#include <future>

namespace {

constexpr qint64 MiB = 1048576;

// The "p_size" values of the postFile2 calls, in order.
std::vector<qint64> PartSizes(const std::vector<FakeCall>& calls)
{
    static const QRegularExpression field(QStringLiteral("name=\"p_size\"[^\\r]*\\r\\n(?:[^\\r]+\\r\\n)*\\r\\n(\\d+)"));
    std::vector<qint64> sizes;
    for (const FakeCall& call : calls) {
        const auto match = field.match(QString::fromLatin1(call.body.data(), qsizetype(call.body.size())));
        if (call.method == "postFile2" && match.hasMatch())
            sizes.push_back(match.captured(1).toLongLong());
    }
    return sizes;
}

}  // namespace

class PeltaAPITransferTest : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        RegisterAgent();
        UploadUrl = QString::fromStdString(service_.UploadUrl());
        UploadPartSize = MiB;
        UploadBitRate = 0;
        DownloadBitRate = 0;
    }

    void TearDown() override
    {
        UploadBitRate = 0;
        DownloadBitRate = 0;
        UploadPartSize = MiB;
        RequestObject.ResetTransfer();
        ServiceFixture::TearDown();
    }

    QString WriteFile(const QString& name, const QByteArray& content)
    {
        const QString path = dir_.filePath(name);
        EXPECT_TRUE(WriteFileBytes(path, content));
        return path;
    }

    // A row with a fresh sync-journal key for adding a file of this size.
    PeltaRecSyncRequest RegisterUpload(const QString& path, qint64 size)
    {
        const QJsonObject desc{{"my_base64_full_path_name", PathToBase64Url(path)},
                               {"size", QString::number(size)},
                               {"local_mtime", "100"}};
        const auto registration = service_.State().RegisterSyncKey(
            UserId, AgentKey, QStringLiteral("add"), QStringLiteral("file"),
            QString::fromUtf8(QJsonDocument(desc).toJson(QJsonDocument::Compact)));
        EXPECT_TRUE(registration.message.isEmpty()) << registration.message.toStdString();
        PeltaRecSyncRequest row;
        row.path = path;
        row.sync_journal_key = registration.key.key;
        row.sync_journal_key_checksum = registration.key.checksum;
        return row;
    }

    QByteArray Buffered(const PeltaRecSyncRequest& row)
    {
        for (const FakeSyncKey& key : service_.State().SyncKeys(UserId)) {
            if (key.key == row.sync_journal_key)
                return key.upload.Bytes();
        }
        return QByteArray("<no key>");
    }

    bool PostFile2(const PeltaRecSyncRequest& row, const QString& file, std::int64_t start, QString& reply)
    {
        XMap fields;
        const QString url = api_->BuildPostFile2(row, 0, fields);
        return api_->PostFile2(url, file, row.path, reply, start, fields);
    }

    // The postFile2 size query as the engine sends it: the service's length.
    qint64 PostFile2Size(const PeltaRecSyncRequest& row)
    {
        XMap fields;
        const QString url = api_->BuildPostFile2(row, 1, fields);
        fields[QStringLiteral("p_size")] = QString();
        fields[QStringLiteral("p_checksum")] = QString();
        QString out;
        if (!api_->CallAgentAPIWithParams(url, fields, out))
            return -1;
        const XMap info = PeltaJSON::ObjectToMap(PeltaJSON::ParseFindObject(out, QStringLiteral("file_info")));
        const auto total = info.find(QStringLiteral("total_filesize"));
        return total == info.end() ? -1 : total->second.toLongLong();
    }

    // A file on the service and its download address.
    QString SeedDownload(const QString& path, const QByteArray& content)
    {
        EXPECT_TRUE(service_.State().SeedFile(UserId, path, content));
        const auto item = service_.State().LiveFile(UserId, path);
        EXPECT_TRUE(item.has_value());
        return QString::fromStdString(service_.DownloadUrl() + DownloadHost::PathFor(UserId, *item));
    }
};

// ---- Uploads -------------------------------------------------------------

TEST_F(PeltaAPITransferTest, EachUploadMethodDeliversTheFileByteForByte)
{
    enum class Method { Post, Post2, Put };
    struct Case {
        const char* name;
        Method method;
        qint64 size;
    } const cases[] = {
        {"postFile", Method::Post, 3 * MiB + 12345},  {"postFile empty", Method::Post, 0},
        {"postFile2", Method::Post2, 3 * MiB + 12345}, {"postFile2 empty", Method::Post2, 0},
        {"putFile", Method::Put, 2 * MiB + MiB / 2},   {"putFile one byte", Method::Put, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UploadPartSize = MiB;
        const QByteArray content = PatternData(c.size, int(c.size));
        const QString file = WriteFile(QStringLiteral("up.bin"), content);
        const PeltaRecSyncRequest row = RegisterUpload(QStringLiteral("\\up.bin"), c.size);
        QString reply;
        bool ok = false;
        XMap fields;
        switch (c.method) {
        case Method::Post:
            ok = api_->HTTPPost(api_->BuildPostFile(row, fields), file, reply, fields);
            break;
        case Method::Post2:
            ok = PostFile2(row, file, 0, reply);
            break;
        case Method::Put:
            ok = api_->PutFile(api_->BuildPutFile(row, 0), file, reply, 0);
            break;
        }
        EXPECT_TRUE(ok) << reply.toStdString();
        EXPECT_EQ(Buffered(row), content);
        EXPECT_TRUE(service_.UnknownTargets().empty());
    }
}

TEST_F(PeltaAPITransferTest, PartsGrowByOneChunkUpToSixteenAndShrinkOnABreak)
{
    // 3.5 MiB from a part size of one chunk: parts of 1, 2 and 0.5 MiB.
    const QByteArray content = PatternData(3 * MiB + MiB / 2);
    const QString file = WriteFile(QStringLiteral("p.bin"), content);
    const PeltaRecSyncRequest row = RegisterUpload(QStringLiteral("\\p.bin"), content.size());
    QString reply;
    ASSERT_TRUE(PostFile2(row, file, 0, reply));
    EXPECT_EQ(PartSizes(service_.Calls()), (std::vector<qint64>{MiB, 2 * MiB, MiB / 2}));
    EXPECT_EQ(UploadPartSize.load(), 4 * MiB);

    struct Step {
        std::int64_t partSize;
        std::int64_t chunks, grown, shrunk;
    } const steps[] = {
        {0, 1, MiB, MiB},
        {MiB, 1, 2 * MiB, 0},
        {3 * MiB, 3, 4 * MiB, 2 * MiB},
        {16 * MiB, 16, 16 * MiB, 15 * MiB},
        {40 * MiB, 16, 16 * MiB, 39 * MiB},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.partSize);
        EXPECT_EQ(PeltaAPI::ChunksPerPart(s.partSize), s.chunks);
        EXPECT_EQ(PeltaAPI::GrownPartSize(s.partSize), s.grown);
        EXPECT_EQ(PeltaAPI::ShrunkPartSize(s.partSize), s.shrunk);
    }
    // With 64 KiB chunks a part stays within 16 of them.
    EXPECT_EQ(PeltaAPI::ChunksPerPart(16 * MiB, 65536) * 65536, MiB);
}

TEST_F(PeltaAPITransferTest, PartCutMidwayResumesFromTheServiceLengthToIdenticalContent)
{
    const QByteArray content = PatternData(5 * MiB + 777);
    const QString file = WriteFile(QStringLiteral("r.bin"), content);
    const PeltaRecSyncRequest row = RegisterUpload(QStringLiteral("\\r.bin"), content.size());
    // The first part goes through; the second (2 MiB) is cut after 1.5 MiB.
    service_.Faults().SetNext("postFile2", Fault::Delay(std::chrono::milliseconds(0)));
    Fault cut = Fault::DropAfterRequestBytes(std::size_t(MiB + MiB / 2));
    cut.processed = false;
    service_.Faults().SetNext("postFile2", cut);

    QString reply = QStringLiteral("left from before");
    EXPECT_FALSE(PostFile2(row, file, 0, reply));
    EXPECT_EQ(UploadPartSize.load(), MiB);  // grown to 2 chunks, then shrunk by the break

    const qint64 held = PostFile2Size(row);
    ASSERT_EQ(held, MiB);
    EXPECT_TRUE(PostFile2(row, file, held, reply)) << reply.toStdString();
    EXPECT_EQ(Buffered(row), content);
}

TEST_F(PeltaAPITransferTest, StartAtTheEndSendsNothingAndBeyondItAsksForAFreshKey)
{
    // The service holds the whole file (the reply to the last piece was
    // lost), or more than the file: the start comes from its size query.
    const QByteArray content = PatternData(MiB + 10);
    const QString file = WriteFile(QStringLiteral("s.bin"), content);
    service_.State().SetRefuseSizeMismatch(true);
    const struct {
        const char* method;
        qint64 extra;  // held beyond the file
        bool ok;
    } cases[] = {
        {"postFile2", 0, true},
        {"postFile2", 5, false},
        {"putFile", 0, true},
        {"putFile", 5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.method << " +" << c.extra);
        const bool put = std::string(c.method) == "putFile";
        const PeltaRecSyncRequest row = RegisterUpload(QStringLiteral("\\s.bin"), content.size());
        const QByteArray held = content + PatternData(c.extra, 7);
        ASSERT_TRUE(service_.State().AppendUpload(UserId, row.sync_journal_key, held));
        QString reply;
        if (put) {
            ASSERT_TRUE(api_->HTTPPut(api_->BuildPutFile(row, 1), reply));
        } else {
            XMap fields;
            const QString url = api_->BuildPostFile2(row, 1, fields);
            fields[QStringLiteral("p_size")] = QString();
            fields[QStringLiteral("p_checksum")] = QString();
            ASSERT_TRUE(api_->CallAgentAPIWithParams(url, fields, reply)) << reply.toStdString();
        }
        const QString query = reply;
        const qint64 start =
            PeltaJSON::ObjectToMap(PeltaJSON::ParseFindObject(query, QStringLiteral("file_info")))
                .at(QStringLiteral("total_filesize"))
                .toLongLong();
        ASSERT_EQ(start, held.size());
        const std::size_t calls = service_.Calls().size();
        TakeLog();

        const bool ok = put ? api_->PutFile(api_->BuildPutFile(row, 0), file, reply, start, row.path)
                            : PostFile2(row, file, start, reply);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(service_.Calls().size(), calls);
        EXPECT_EQ(Buffered(row), held);
        EXPECT_FALSE(RequestObject.HasTransfer(row.path));
        if (c.ok) {
            EXPECT_EQ(reply, query);
            QString url;
            QString body;
            QString out;
            ASSERT_TRUE(api_->BuildCommitSyncJournal(row, url, body));
            EXPECT_TRUE(api_->CallAgentAPI(url, body, false, out)) << out.toStdString();
        } else {
            EXPECT_EQ(reply, PeltaAPI::FreshKeyNeededText);
            EXPECT_TRUE(TakeLog().contains(QStringLiteral("the upload needs a fresh journal key")));
        }
    }
}

TEST_F(PeltaAPITransferTest, APieceThatLostItsConnectionIsNotSentAgain)
{
    // The service appends the second piece, then the connection that the
    // first one used closes before any byte of the reply: sending the piece
    // again would store it twice.
    const QByteArray content = PatternData(4 * MiB);
    const QString file = WriteFile(QStringLiteral("o.bin"), content);
    const struct {
        const char* method;
        qint64 held;  // after the first two pieces
    } cases[] = {{"postFile2", 3 * MiB}, {"putFile", 2 * MiB}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        UploadPartSize = MiB;
        const PeltaRecSyncRequest row = RegisterUpload(QStringLiteral("\\o.bin"), content.size());
        service_.Faults().SetNext(c.method, Fault::Delay(std::chrono::milliseconds(0)));
        service_.Faults().SetNext(c.method, Fault::DropBeforeReply());
        const std::size_t before = service_.CallCount(c.method);
        QString reply;
        const bool ok = std::string(c.method) == "putFile" ? api_->PutFile(api_->BuildPutFile(row, 0), file, reply, 0)
                                                           : PostFile2(row, file, 0, reply);
        EXPECT_FALSE(ok);
        EXPECT_EQ(service_.CallCount(c.method) - before, 2u);
        EXPECT_EQ(Buffered(row), content.left(c.held));
    }
}

TEST_F(PeltaAPITransferTest, PutStopsAtTheFirstRefusedChunk)
{
    const QByteArray content = PatternData(3 * MiB);
    const QString file = WriteFile(QStringLiteral("u.bin"), content);
    const PeltaRecSyncRequest row = RegisterUpload(QStringLiteral("\\u.bin"), content.size());
    service_.Faults().SetNext("putFile", Fault::Delay(std::chrono::milliseconds(0)));
    Fault refusal = Fault::Message(QStringLiteral("refused"));
    refusal.processed = false;
    service_.Faults().SetNext("putFile", refusal);
    QString reply;
    EXPECT_FALSE(api_->PutFile(api_->BuildPutFile(row, 0), file, reply, 0));
    EXPECT_EQ(service_.CallCount("putFile"), 2u);
    EXPECT_EQ(Buffered(row), content.left(MiB));
    EXPECT_TRUE(reply.contains(QStringLiteral("refused")));
}

TEST_F(PeltaAPITransferTest, FileShrinkingDuringAnUploadFailsClearly)
{
    const QByteArray content = PatternData(4 * MiB);
    const QString file = WriteFile(QStringLiteral("v.bin"), content);
    const PeltaRecSyncRequest row = RegisterUpload(QStringLiteral("\\v.bin"), content.size());
    // The second part's answer is held while the file is cut short.
    service_.Faults().SetNext("postFile2", Fault::Delay(std::chrono::milliseconds(0)));
    service_.Faults().SetNext("postFile2", Fault::Delay(std::chrono::milliseconds(1500)));
    auto upload = std::async(std::launch::async, [&] {
        QString reply;
        return PostFile2(row, file, 0, reply);
    });
    // The second part has arrived; its answer is held.
    ASSERT_TRUE(WaitUntil([&] { return service_.CallCount("postFile2") == 2; }));
    QFile::resize(file, MiB / 2);
    EXPECT_FALSE(upload.get());
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("changed while it was sent")));
    EXPECT_FALSE(RequestObject.HasTransfer(row.path));
}

TEST_F(PeltaAPITransferTest, EveryFailedUploadRemovesItsRunningKey)
{
    const QString file = WriteFile(QStringLiteral("k.bin"), PatternData(2 * MiB));
    const PeltaRecSyncRequest row = RegisterUpload(QStringLiteral("\\k.bin"), 2 * MiB);
    struct Case {
        const char* name;
        std::function<void()> arrange;
        QString file;
    } const cases[] = {
        {"missing file", [] {}, dir_.filePath(QStringLiteral("none.bin"))},
        {"refused part", [this] { service_.Faults().SetNext("postFile2", Fault::Message(QStringLiteral("no"))); },
         file},
        {"broken part", [this] { service_.Faults().SetNext("postFile2", Fault::Http500()); }, file},
        {"exiting", [] { AppState = XAPPExit; }, file},
        {"offline", [] { AppState = XAPPOffline; }, file},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        QString reply;
        EXPECT_FALSE(PostFile2(row, c.file, 0, reply));
        EXPECT_FALSE(RequestObject.HasTransfer(row.path));
        AppState = XAPPOnline;
        service_.Faults().ClearAll();
    }
}

// ---- Downloads -----------------------------------------------------------

TEST_F(PeltaAPITransferTest, RangedDownloadSurvivesTheDownloadHostFaults)
{
    const QByteArray content = PatternData(MiB + 4321);
    const QString url = SeedDownload(QStringLiteral("\\d.bin"), content);
    struct Case {
        const char* name;
        std::vector<Fault> next;
        std::optional<Fault> always;
        qint64 partial;  // bytes in the target before the call, of the content unless wrongPartial
        bool wrongPartial;
        bool ok;
        qint64 heldAfter;  // target length after the call
        std::size_t requests;
        const char* logged;
    } const cases[] = {
        {"cut once", {Fault::DropAfterBytes(300000)}, {}, 0, false, true, content.size(), 2,
         "GetFile2 start at:95200"},
        {"500 once", {Fault::Http500()}, {}, 1000, false, true, content.size(), 2, "HTTP status 500"},
        {"short error body", {Fault::NonJson()}, {}, 0, false, true, content.size(), 2, "donwload size("},
        {"range ignored", {Fault::IgnoreRange()}, {}, 5000, true, true, content.size(), 1, "GetFile2 finish"},
        {"500 always", {}, Fault::Http500(), 0, false, false, 0, 4, "HTTP status 500"},
        {"cut always", {}, Fault::DropAfterBytes(300000), 0, false, false, 4 * 95200, 4,
         "GetFile2 start at:285600"},
        {"already whole", {}, {}, content.size(), false, true, content.size(), 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString target =
            WriteFile(QStringLiteral("d.bin"), c.wrongPartial ? PatternData(c.partial, 9) : content.left(c.partial));
        for (const Fault& fault : c.next)
            service_.Faults().SetNext("download", fault);
        if (c.always)
            service_.Faults().SetAlways("download", *c.always);
        const std::size_t before = service_.CallCount("download");
        TakeLog();

        EXPECT_EQ(api_->HTTPGetFile2(url, target, QStringLiteral("\\d.bin"), content.size()), c.ok);
        const QString log = TakeLog();
        EXPECT_TRUE(log.contains(QLatin1String(c.logged))) << log.toStdString();
        EXPECT_EQ(service_.CallCount("download") - before, c.requests);
        EXPECT_EQ(ReadFileBytes(target), content.left(c.heldAfter));
        EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("_t")));
        EXPECT_FALSE(RequestObject.HasTransfer(QStringLiteral("\\d.bin")));
        service_.Faults().ClearAll();
        QFile::remove(target);
        QFile::remove(target + QStringLiteral("_v"));
    }
}

TEST_F(PeltaAPITransferTest, PartialOfAnOlderVersionIsDiscardedNotCompleted)
{
    const QByteArray first = PatternData(MiB, 1);
    const QString url = SeedDownload(QStringLiteral("\\w.bin"), first);
    const QString target = dir_.filePath(QStringLiteral("w.bin"));
    const auto version = [this] {
        return QString::number(service_.State().LiveFile(UserId, QStringLiteral("\\w.bin"))->version);
    };
    service_.Faults().SetAlways("download", Fault::DropAfterBytes(300000));
    EXPECT_FALSE(api_->HTTPGetFile2(url, target, QStringLiteral("\\w.bin"), first.size(), version()));
    service_.Faults().ClearAll();
    ASSERT_GT(QFileInfo(target).size(), 0);

    // Same size, new content: the partial of the old one must not be resumed.
    const QByteArray second = PatternData(MiB, 2);
    FakeChange edit;
    edit.action = FakeAction::Edit;
    edit.path = QStringLiteral("\\w.bin");
    edit.size = second.size();
    edit.baseVersion = version();
    ASSERT_TRUE(service_.State().CommitChange(UserId, QStringLiteral("other-agent"), edit, second).message.isEmpty());
    EXPECT_TRUE(api_->HTTPGetFile2(url, target, QStringLiteral("\\w.bin"), second.size(), version()));
    EXPECT_EQ(ReadFileBytes(target), second);

    // A change of size within a call: the partial is dropped, not completed.
    service_.Faults().SetAlways("download", Fault::DropAfterBytes(300000));
    const QString other = dir_.filePath(QStringLiteral("w2.bin"));
    EXPECT_FALSE(api_->HTTPGetFile2(url, other, QStringLiteral("\\w.bin"), second.size(), version()));
    service_.Faults().ClearAll();
    service_.Faults().SetNext("download", Fault::ChangeContent(PatternData(MiB + 5, 3)));
    EXPECT_FALSE(api_->HTTPGetFile2(url, other, QStringLiteral("\\w.bin"), second.size(), version()));
    EXPECT_EQ(QFileInfo(other).size(), 0);
}

TEST_F(PeltaAPITransferTest, CancellingOneDownloadLeavesTheOtherRunning)
{
    const QByteArray a = PatternData(3 * MiB, 4);
    const QByteArray b = PatternData(3 * MiB, 5);
    const QString urlA = SeedDownload(QStringLiteral("\\a.bin"), a);
    const QString urlB = SeedDownload(QStringLiteral("\\b.bin"), b);
    const QString targetA = dir_.filePath(QStringLiteral("a.bin"));
    const QString targetB = dir_.filePath(QStringLiteral("b.bin"));
    DownloadBitRate = 8 * 4 * MiB;  // 4 MiB/s: each download takes most of a second
    auto runA = std::async(std::launch::async,
                           [&] { return api_->HTTPGetFile2(urlA, targetA, QStringLiteral("\\a.bin"), a.size()); });
    auto runB = std::async(std::launch::async,
                           [&] { return api_->HTTPGetFile2(urlB, targetB, QStringLiteral("\\b.bin"), b.size()); });
    ASSERT_TRUE(WaitUntil([] { return RequestObject.HasTransfer(QStringLiteral("\\a.bin")); }));
    EXPECT_TRUE(RequestObject.CancelTransfer(QStringLiteral("\\a.bin")));
    EXPECT_FALSE(runA.get());
    EXPECT_TRUE(runB.get());
    EXPECT_FALSE(QFileInfo::exists(targetA));
    EXPECT_EQ(ReadFileBytes(targetB), b);
    EXPECT_FALSE(RequestObject.HasTransfer(QStringLiteral("\\a.bin")));
    EXPECT_FALSE(RequestObject.HasTransfer(QStringLiteral("\\b.bin")));
}

TEST_F(PeltaAPITransferTest, ProgressCountsKeptBytesAndResetsOnSuccess)
{
    const QByteArray content = PatternData(MiB);
    const QString url = SeedDownload(QStringLiteral("\\g.bin"), content);
    const QString target = dir_.filePath(QStringLiteral("g.bin"));
    RequestObject.BeginTransfer(PeltaRequestObject::ActionDownload, QStringLiteral("\\g.bin"), 1, content.size());
    service_.Faults().SetAlways("download", Fault::DropAfterBytes(300000));
    EXPECT_FALSE(api_->HTTPGetFile2(url, target, QStringLiteral("\\g.bin"), content.size()));
    EXPECT_EQ(RequestObject.CurrentTransfer().done, 4 * 95200);
    EXPECT_TRUE(RequestObject.IsTransferring());

    service_.Faults().ClearAll();
    EXPECT_TRUE(api_->HTTPGetFile2(url, target, QStringLiteral("\\g.bin"), content.size()));
    EXPECT_FALSE(RequestObject.IsTransferring());
    EXPECT_EQ(ReadFileBytes(target), content);
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("_v")));
}

TEST_F(PeltaAPITransferTest, PlainGetKeepsNothingOfAFailure)
{
    const QByteArray content = PatternData(MiB + 1);
    const QString url = SeedDownload(QStringLiteral("\\h.bin"), content);
    const QString target = WriteFile(QStringLiteral("h.bin"), "old");
    EXPECT_TRUE(api_->GetFile(url, target));
    EXPECT_EQ(ReadFileBytes(target), content);
    for (const Fault& fault : {Fault::Http500(), Fault::DropAfterBytes(1000)}) {
        service_.Faults().SetNext("download", fault);
        EXPECT_FALSE(api_->GetFile(url, target));
        EXPECT_FALSE(QFileInfo::exists(target));
    }
}

// Abort ends a transfer whose host holds its reply as promptly as it ends a
// form post, whichever way the file travels; the transfer fails.
TEST_F(PeltaAPITransferTest, AbortStopsEveryKindOfTransferPromptly)
{
    using namespace std::chrono_literals;
    const QByteArray content = PatternData(64 * 1024, 7);
    const QString file = WriteFile(QStringLiteral("up.bin"), content);
    const QString url = SeedDownload(QStringLiteral("\\d.bin"), content);
    const QString target = dir_.filePath(QStringLiteral("d.bin"));
    const struct {
        const char* method;
        std::function<bool()> run;
    } cases[] = {
        {"postFile",
         [&] {
             XMap fields;
             QString reply;
             const PeltaRecSyncRequest row = RegisterUpload(QStringLiteral("\\up.bin"), content.size());
             return api_->HTTPPost(api_->BuildPostFile(row, fields), file, reply, fields);
         }},
        {"postFile2",
         [&] {
             QString reply;
             return PostFile2(RegisterUpload(QStringLiteral("\\up.bin"), content.size()), file, 0, reply);
         }},
        {"putFile",
         [&] {
             QString reply;
             const PeltaRecSyncRequest row = RegisterUpload(QStringLiteral("\\up.bin"), content.size());
             return api_->PutFile(api_->BuildPutFile(row, 0), file, reply, 0);
         }},
        {"download", [&] { return api_->HTTPGetFile2(url, target, QStringLiteral("\\d.bin"), content.size()); }},
        {"download", [&] { return api_->GetFile(url, target); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        service_.Faults().SetAlways(c.method, Fault::Delay(20s));
        const std::size_t before = service_.CallCount(c.method);
        auto transfer = std::async(std::launch::async, c.run);
        ASSERT_TRUE(WaitUntil([&] { return service_.CallCount(c.method) > before; }));

        const auto aborted = std::chrono::steady_clock::now();
        api_->Abort();
        ASSERT_EQ(transfer.wait_for(2s), std::future_status::ready);
        EXPECT_LT(std::chrono::steady_clock::now() - aborted, 1s);
        EXPECT_FALSE(transfer.get());
        api_->ClearAbort();
        service_.Faults().ClearAll();
    }
}
