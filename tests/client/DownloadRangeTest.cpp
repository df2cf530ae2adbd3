// The ranged download resumes a partial file only with an answer that starts
// where the file ends: a 206 whose Content-Range starts elsewhere is refused
// and nothing of it reaches the file.

#include "tests/client/ServiceFixture.h"

#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "tests/support/FileContents.h"
#include "tests/support/PatternData.h"

#include <QFile>

namespace {

class DownloadRangeTest : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        DownloadBitRate = 0;
    }

    void TearDown() override
    {
        service_.Faults().ClearAll();
        RequestObject.ResetTransfer();
        ServiceFixture::TearDown();
    }

    // A file on the service and its download address.
    QString Seed(const QString& path, const QByteArray& content)
    {
        EXPECT_TRUE(service_.State().SeedFile(UserId, path, content));
        const std::optional<FakeItem> item = service_.State().LiveFile(UserId, path);
        EXPECT_TRUE(item.has_value());
        return item ? QString::fromStdString(service_.DownloadUrl() + DownloadHost::PathFor(UserId, *item)) : QString();
    }
};

TEST_F(DownloadRangeTest, AnswerStartingElsewhereIsRefusedAndNothingAppended)
{
    const QByteArray content = PatternData(300000);
    const QString url = Seed(QStringLiteral("\\r.bin"), content);
    constexpr qint64 held = 100000;  // the partial file's length: the resume position
    struct Case {
        const char* what;
        std::size_t answerFrom;
        bool always;  // every attempt answered so, or only the first
    } const cases[] = {
        {"from the start, every time", 0, true},
        {"further on, every time", held + 5000, true},
        {"from the start, once", 0, false},
        {"further on, once", held + 5000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString target = dir_.filePath(QStringLiteral("r.bin"));
        ASSERT_TRUE(WriteFileBytes(target, content.left(held)));
        QFile::remove(target + QStringLiteral("_v"));
        if (c.always)
            service_.Faults().SetAlways(DownloadHost::Method, Fault::RangeFrom(c.answerFrom));
        else
            service_.Faults().SetNext(DownloadHost::Method, Fault::RangeFrom(c.answerFrom));
        const std::size_t before = service_.CallCount(DownloadHost::Method);
        TakeLog();

        const bool ok = api_->HTTPGetFile2(url, target, QStringLiteral("\\r.bin"), content.size());
        const QString log = TakeLog();
        EXPECT_TRUE(log.contains(QLatin1String("the answer does not fit the request"))) << log.toStdString();
        if (c.always) {
            // Four refused attempts; the partial file is kept as it was.
            EXPECT_FALSE(ok);
            EXPECT_EQ(service_.CallCount(DownloadHost::Method) - before, 4u);
            EXPECT_TRUE(ReadFileBytes(target) == content.left(held)) << ReadFileBytes(target).size() << " bytes";
        } else {
            // The next attempt asks from the same position and completes the file.
            EXPECT_TRUE(ok);
            EXPECT_EQ(service_.CallCount(DownloadHost::Method) - before, 2u);
            EXPECT_TRUE(ReadFileBytes(target) == content) << ReadFileBytes(target).size() << " bytes";
            EXPECT_EQ(log.count(QStringLiteral("GetFile2 start at:%1").arg(held)), 2);
        }
        EXPECT_FALSE(QFile::exists(target + QStringLiteral("_t")));
        service_.Faults().ClearAll();
    }
}

}  // namespace
