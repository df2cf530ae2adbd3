#include "shell/update/VersionList.h"

#include <gtest/gtest.h>

namespace {

const char* const Digest = "0123456789ABCDEF0123456789abcdef";

QByteArray Entry(const char* version, const char* url = "https://h/f", const char* md5 = Digest)
{
    return QStringLiteral("{\"version\":\"%1\",\"url\":\"%2\",\"md5sum\":\"%3\"}")
        .arg(QString::fromLatin1(version), QString::fromLatin1(url), QString::fromLatin1(md5))
        .toUtf8();
}

TEST(VersionListTest, EntriesComeInNameOrderWithTheDigestInLowerCase)
{
    const QByteArray text = "{\"baseinstall\":" + Entry("0.8.120") + ",\"Updater.exe\":" + Entry("1.2.3") +
                            ",\"Tessaron.exe\":" + Entry("1.0.1") + "}";
    std::vector<VersionList::Entry> entries;
    QString error;
    ASSERT_TRUE(VersionList::Parse(text, entries, error)) << error.toStdString();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, QStringLiteral("Tessaron.exe"));
    EXPECT_EQ(entries[1].name, QStringLiteral("Updater.exe"));
    EXPECT_EQ(entries[2].name, QStringLiteral("baseinstall"));
    EXPECT_EQ(entries[1].version, QStringLiteral("1.2.3"));
    EXPECT_EQ(entries[1].md5sum, QString::fromLatin1(Digest).toLower());
}

TEST(VersionListTest, AListOfAnotherShapeIsRefusedWhole)
{
    const QByteArray refused[] = {
        "not json",
        "[1, 2]",
        "{\"a\": 1}",
        "{\"a\": {\"version\": 1, \"url\": \"https://h/f\", \"md5sum\": \"0123456789abcdef0123456789abcdef\"}}",
        "{\"a\": {\"version\": \"1.0\", \"md5sum\": \"0123456789abcdef0123456789abcdef\"}}",
        "{\"ok\":" + Entry("1.0") + ",\"bad\":" + Entry("1.2b") + "}",
        "{\"a\":" + Entry("1.0", "https://h/f", "abc") + "}",
    };
    for (const QByteArray& text : refused) {
        std::vector<VersionList::Entry> entries;
        QString error;
        EXPECT_FALSE(VersionList::Parse(text, entries, error)) << text.toStdString();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(entries.empty());
    }
}

TEST(VersionListTest, OnlyPlainFileNamesAreSafe)
{
    for (const char* good : {"Updater.exe", "tessaron.dev.exe", "baseinstall", "a b"})
        EXPECT_TRUE(VersionList::SafeName(QString::fromLatin1(good))) << good;
    for (const char* bad : {"", ".", "..", "../evil", "a/b", "/abs", "sub\\x", "x..y", "bad\x01", "tab\tname"})
        EXPECT_FALSE(VersionList::SafeName(QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(VersionList::SafeName(QString(256, u'a')));
}

TEST(VersionListTest, CodeIsFetchedOnlyFromHttpsAddresses)
{
    EXPECT_EQ(VersionList::SecureUrl(QStringLiteral("https://up.example/f.exe")), QStringLiteral("https://up.example/f.exe"));
    EXPECT_EQ(VersionList::SecureUrl(QStringLiteral("http://up.example/f.exe")), QStringLiteral("https://up.example/f.exe"));
    EXPECT_EQ(VersionList::SecureUrl(QStringLiteral("http://up.example:80/f")), QStringLiteral("https://up.example/f"));
    EXPECT_EQ(VersionList::SecureUrl(QStringLiteral("HTTP://up.example/f")), QStringLiteral("https://up.example/f"));
    for (const char* bad : {"ftp://up.example/f", "file:///etc/passwd", "not an address", ""})
        EXPECT_TRUE(VersionList::SecureUrl(QString::fromLatin1(bad)).isEmpty()) << bad;
}

}  // namespace
