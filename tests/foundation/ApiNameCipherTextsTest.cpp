#include "foundation/ApiNameCipherTexts.h"
#include "foundation/settings/StoredSecret.h"
#include "fakeservice/ApiMethodTable.h"

#include <gtest/gtest.h>

#include <QString>

#include <cstring>
#include <string>

namespace {

constexpr int kLoginCipherLength = 22;  // 16-byte ciphertext, Base64 without "=="
constexpr int kOtherCipherLength = 43;  // 32-byte ciphertext, Base64 without "="

QString StrippedCipherText(const char* plainPath)
{
    QString text = EncryptStoredText(QString::fromUtf8(plainPath));
    while (text.endsWith(QChar(u'=')))
        text.chop(1);
    return text;
}

// The body of ApiNameCipherTexts as it should read for the plain table.
std::string ExpectedCipherTable()
{
    std::string table = "const std::array<const char*, 14> ApiNameCipherTexts = {\n";
    for (const ApiMethodPath& entry : ApiMethodPlainTable)
        table += "    \"" + StrippedCipherText(entry.path).toStdString() + "\",  // " + entry.key + "\n";
    return table + "};\n";
}

TEST(ApiNameCipherTexts, DecipherToThePlainPathsWithTheirLengths)
{
    bool allMatch = true;
    for (size_t i = 0; i < ApiMethodPlainTable.size(); ++i) {
        const ApiMethodPath& plain = ApiMethodPlainTable[i];
        SCOPED_TRACE(plain.key);
        EXPECT_STREQ(ApiMethodKeys[i], plain.key);
        const std::optional<QString> path = DecryptStoredText(QString::fromLatin1(ApiNameCipherTexts[i]));
        const bool matches = path && *path == QString::fromUtf8(plain.path);
        EXPECT_TRUE(matches) << "deciphers to " << (path ? path->toStdString() : "<nothing>");
        const size_t expectedLength = i == 0 ? kLoginCipherLength : kOtherCipherLength;
        EXPECT_EQ(std::strlen(ApiNameCipherTexts[i]), expectedLength);
        EXPECT_EQ(StrippedCipherText(plain.path).size(), static_cast<qsizetype>(expectedLength))
            << "the plain path is too long or too short for its slot";
        allMatch = allMatch && matches && std::strlen(ApiNameCipherTexts[i]) == expectedLength;
    }
    if (!allMatch)
        ADD_FAILURE() << "Replace the table in foundation/ApiNameCipherTexts.cpp with:\n"
                      << ExpectedCipherTable();
}

// The conversions of a format text in order, e.g. "sd" for "?u=%s&t=%d".
std::string Conversions(const std::string& format)
{
    std::string letters;
    for (size_t at = format.find('%'); at != std::string::npos && at + 1 < format.size();
         at = format.find('%', at + 2))
        letters += format[at + 1];
    return letters;
}

// The request builders format the paths with (user_id, Unix time), putFile's
// with user_id alone and append its values directly; the agreement page is
// opened as it is.
TEST(ApiNameCipherTexts, PlainPathsTakeTheirFormatArguments)
{
    for (const ApiMethodPath& entry : ApiMethodPlainTable) {
        SCOPED_TRACE(entry.key);
        const std::string key = entry.key;
        const std::string path = entry.path;
        EXPECT_EQ(path.front(), '/');
        if (key == "APIagreement") {
            EXPECT_EQ(Conversions(path), "");
        } else if (key == "APIputFile") {
            EXPECT_EQ(Conversions(path), "s");
            EXPECT_TRUE(path.ends_with('&') || path.ends_with('?'));
        } else {
            EXPECT_EQ(Conversions(path), "sd");
        }
    }
}

}  // namespace
