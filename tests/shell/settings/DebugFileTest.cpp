#include "shell/settings/DebugFile.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

const QStringList FiveLines = {QStringLiteral("http://127.0.0.1:8080/"), QStringLiteral("unused"),
                               QStringLiteral(" http://127.0.0.1:8081 "), QStringLiteral("http://127.0.0.1:8082/0/?"),
                               QStringLiteral("DEV")};

}  // namespace

TEST(DebugFileTest, MissingFileLeavesDebugModeOff)
{
    QTemporaryDir dir;
    EXPECT_FALSE(DebugFile::Read(dir.filePath(DebugFile::FileName)).present);
}

TEST(DebugFileTest, FiveLinesReplaceTheEndpointsAndTheProfile)
{
    const DebugFile file = DebugFile::Parse(FiveLines);
    EXPECT_TRUE(file.present);
    EXPECT_TRUE(file.endpointsReplaced);
    EXPECT_EQ(file.serviceUrl, QStringLiteral("http://127.0.0.1:8080"));
    EXPECT_EQ(file.uploadUrl, QStringLiteral("http://127.0.0.1:8081"));
    EXPECT_EQ(file.apeHostSuffix, QStringLiteral("http://127.0.0.1:8082/0/? "));
    EXPECT_EQ(file.profile, std::optional<QString>(QStringLiteral("DEV")));
    EXPECT_TRUE(file.problems.isEmpty());
}

TEST(DebugFileTest, FilesThatChangeNoEndpointStillTurnOnDebugMode)
{
    const struct {
        const char* name;
        QStringList lines;
        bool problem;
    } cases[] = {
        {"empty", {}, false},
        {"three lines", FiveLines.mid(0, 3), false},
        {"commented first line", QStringList{QStringLiteral("# http://127.0.0.1:8080")} + FiveLines.mid(1), false},
        {"empty first line", QStringList{QString()} + FiveLines.mid(1), false},
        {"no address on line 1", QStringList{QStringLiteral("\x01\x7f garbage")} + FiveLines.mid(1), true},
        {"no address on line 3", FiveLines.mid(0, 2) + QStringList{QStringLiteral("ftp://x")} + FiveLines.mid(3), true},
        {"empty push suffix", FiveLines.mid(0, 3) + QStringList{QString()}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DebugFile file = DebugFile::Parse(c.lines);
        EXPECT_TRUE(file.present);
        EXPECT_FALSE(file.endpointsReplaced);
        EXPECT_FALSE(file.profile);
        EXPECT_EQ(!file.problems.isEmpty(), c.problem);
    }
}

TEST(DebugFileTest, KeyValueLinesNameTheOtherHosts)
{
    const DebugFile file = DebugFile::Parse(FiveLines + QStringList{
                                                            QStringLiteral("account_server = http://127.0.0.1:9000/"),
                                                            QStringLiteral("signed_api=http://127.0.0.1:8080/api.php"),
                                                            QStringLiteral("update_server=http://127.0.0.1:9100"),
                                                            QStringLiteral("# a comment"),
                                                            QStringLiteral("colour=blue"),
                                                            QStringLiteral("update_server=not an address"),
                                                        });
    EXPECT_EQ(file.accountServer, QStringLiteral("http://127.0.0.1:9000"));
    EXPECT_EQ(file.MemberTokenUrl(), QStringLiteral("http://127.0.0.1:9000/service/account/QVNMbrToken.php"));
    EXPECT_EQ(file.ClientAuthUrl(), QStringLiteral("http://127.0.0.1:9000/ZuReg/ClientAuthentication"));
    EXPECT_EQ(file.signedApiUrl, QStringLiteral("http://127.0.0.1:8080/api.php"));
    EXPECT_EQ(file.updateServer, QStringLiteral("http://127.0.0.1:9100"));
    EXPECT_EQ(file.problems.size(), 2);

    // Without a profile line, key=value lines may follow the four endpoints.
    const DebugFile four = DebugFile::Parse(FiveLines.mid(0, 4) + QStringList{QStringLiteral("signed_api=http://h/api.php")});
    EXPECT_FALSE(four.profile);
    EXPECT_EQ(four.signedApiUrl, QStringLiteral("http://h/api.php"));
}

TEST(DebugFileTest, AppliedToTheProcess)
{
    InitProcessState();
    DebugFile::Parse(FiveLines + QStringList{QStringLiteral("signed_api=http://127.0.0.1:8080/api.php")})
        .ApplyToProcess();
    EXPECT_EQ(ServiceUrl, QStringLiteral("http://127.0.0.1:8080"));
    EXPECT_EQ(UploadUrl, QStringLiteral("http://127.0.0.1:8081"));
    EXPECT_EQ(ApeHostSuffix, QStringLiteral("http://127.0.0.1:8082/0/? "));
    EXPECT_EQ(ServerProfile, QStringLiteral("DEV"));
    EXPECT_EQ(SignedApiUrl, QStringLiteral("http://127.0.0.1:8080/api.php"));

    InitProcessState();
    DebugFile::Parse({QStringLiteral("#")}).ApplyToProcess();
    EXPECT_EQ(ServiceUrl, ReleaseServiceUrl);
    EXPECT_EQ(ServerProfile, QStringLiteral("RELEASE"));
}

TEST(DebugFileTest, ReadsTheFileAndOnlyItsFirstBytesOfALargeOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(DebugFile::FileName);
    ASSERT_TRUE(WriteFileBytes(path, FiveLines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n"));
    const DebugFile file = DebugFile::Read(path);
    EXPECT_TRUE(file.endpointsReplaced);
    EXPECT_EQ(file.profile, std::optional<QString>(QStringLiteral("DEV")));

    ASSERT_TRUE(WriteFileBytes(path, FiveLines.join(u'\n').toUtf8() + '\n' + QByteArray(DebugFile::MaxBytes, '#')));
    const DebugFile large = DebugFile::Read(path);
    EXPECT_TRUE(large.endpointsReplaced);
    EXPECT_EQ(large.problems.size(), 1);
}
