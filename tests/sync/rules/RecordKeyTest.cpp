#include "sync/rules/RecordKey.h"

#include <gtest/gtest.h>

#include <QString>

namespace {

// Digests computed with md5sum over the UTF-8 text "12345_" + path with "/".
TEST(RecordKeyTest, KeyIsTheDigestOfSerialAndSlashPath)
{
    const struct {
        const char* path;
        const char* key;
    } cases[] = {
        {"\\Docs\\a.txt", "c5fdd55a4fef28dfad882c9aa99e4be4"},
        {"\\a.txt", "ef8ec84e850c0d37862887c89b88f44e"},
        {"\\O'Brien\\it's.txt", "444c734a8ca8dc844a7b76a6b4f41169"},
        {"\\文件\\報告 2024.docx", "acb836f41a06fce3144c0c8f3fddad4c"},
        {"\\Café\\naïve.txt", "6606621693cc85e0499d43279666d94b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecordKey::Of(QStringLiteral("12345"), QString::fromUtf8(c.path)), QString::fromLatin1(c.key))
            << c.path;
}

TEST(RecordKeyTest, OnlyThirtyTwoHexDigitsAreKeys)
{
    EXPECT_TRUE(RecordKey::IsValid(QStringLiteral("c5fdd55a4fef28dfad882c9aa99e4be4")));
    EXPECT_TRUE(RecordKey::IsValid(QStringLiteral("C5FDD55A4FEF28DFAD882C9AA99E4BE4")));
    for (const char* bad : {"", "\\", "c5fdd55a4fef28dfad882c9aa99e4be", "c5fdd55a4fef28dfad882c9aa99e4be4a",
                            "g5fdd55a4fef28dfad882c9aa99e4be4", "c5fdd55a4fef28df' or '1'='1aa99e4"})
        EXPECT_FALSE(RecordKey::IsValid(QString::fromLatin1(bad))) << bad;
    EXPECT_TRUE(RecordKey::IsValidParent(QStringLiteral("\\")));
    EXPECT_FALSE(RecordKey::IsValidParent(QString()));
}

}  // namespace
