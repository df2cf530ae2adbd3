#include "sync/rules/PathGuard.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

namespace {

QString Repeated(const QString& text, int times)
{
    QString result;
    for (int n = 0; n < times; ++n)
        result += text;
    return result;
}

TEST(PathGuardTest, RelativePathsInsideTheFolderAreAccepted)
{
    const QString accepted[] = {
        QStringLiteral("\\"),
        QStringLiteral("\\a.txt"),
        QStringLiteral("\\Docs\\a b.txt"),
        QStringLiteral("\\O'Brien\\it's.txt"),
        QStringLiteral("\\文件\\報告 2024.docx"),
        QStringLiteral("\\.hidden\\..name\\name.."),
        QStringLiteral("\\") + Repeated(QStringLiteral("a"), 255),
        QStringLiteral("\\") + Repeated(QStringLiteral("é"), 127),  // 254 bytes
    };
    for (const QString& path : accepted)
        EXPECT_EQ(PathGuard::CheckRelative(path), QString()) << path.toStdString();
}

TEST(PathGuardTest, PathsThatWouldLeaveTheFolderOrCannotBeNamedAreRefused)
{
    const QString refused[] = {
        QString(),
        QStringLiteral("a.txt"),
        QStringLiteral("/a.txt"),
        QStringLiteral("\\a\\"),
        QStringLiteral("\\a\\\\b"),
        QStringLiteral("\\.."),
        QStringLiteral("\\."),
        QStringLiteral("\\a\\..\\..\\etc"),
        QStringLiteral("\\a/b"),
        QStringLiteral("\\a") + QChar(0) + QStringLiteral("b"),
        QStringLiteral("\\a\nb"),
        QStringLiteral("\\a\x7f"),
        QStringLiteral("\\") + Repeated(QStringLiteral("a"), 256),
        QStringLiteral("\\") + Repeated(QStringLiteral("é"), 128),  // 256 bytes
        QStringLiteral("\\a") + QChar(0xD800),                      // half a surrogate pair
    };
    for (const QString& path : refused)
        EXPECT_NE(PathGuard::CheckRelative(path), QString()) << path.toStdString();
}

TEST(PathGuardTest, DiskNamesMustBeUtf8WithoutSeparators)
{
    EXPECT_EQ(PathGuard::CheckDiskName(QByteArray("report.txt")), QString());
    EXPECT_EQ(PathGuard::CheckDiskName(QStringLiteral("報告").toUtf8()), QString());
    EXPECT_NE(PathGuard::CheckDiskName(QByteArray("caf\xe9.txt")), QString());
    EXPECT_NE(PathGuard::CheckDiskName(QByteArray("a\\b.txt")), QString());
    EXPECT_NE(PathGuard::CheckDiskName(QByteArray("..")), QString());
}

TEST(PathGuardTest, ServicePathsBecomeRelativePathsOrAreRefused)
{
    const struct {
        const char* service;
        const char* relative;  // nullptr: refused
    } cases[] = {
        {"/", "\\"},
        {"/Docs/a.txt", "\\Docs\\a.txt"},
        {"/O'Brien", "\\O'Brien"},
        {"/a\\b", nullptr},
        {"Docs/a.txt", nullptr},
        {"/a/../../etc/passwd", nullptr},
        {"/a//b", nullptr},
        {"/a/", nullptr},
        {"/a/\tb", nullptr},
    };
    for (const auto& c : cases) {
        QString reason;
        const QString relative = PathGuard::FromServicePath(QString::fromUtf8(c.service), reason);
        if (c.relative) {
            EXPECT_EQ(relative, QString::fromUtf8(c.relative)) << c.service;
            EXPECT_EQ(reason, QString()) << c.service;
        } else {
            EXPECT_EQ(relative, QString()) << c.service;
            EXPECT_NE(reason, QString()) << c.service;
        }
    }
}

TEST(PathGuardTest, InsideMeansTheFolderOrBelowItNeverABarePrefix)
{
    const struct {
        const char* folder;
        const char* full;
        bool inside;
    } cases[] = {
        {"/data", "/data", true},
        {"/data", "/data/", true},
        {"/data", "/data/a.txt", true},
        {"/data/", "/data/a.txt", true},
        {"/data", "/database.txt", false},
        {"/data", "/data2/a.txt", false},
        {"/data", "/DATA/a.txt", false},
        {"/data", "/dat", false},
        {"/data", "data/a.txt", false},
        {"data", "data/a.txt", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PathGuard::IsInside(QString::fromUtf8(c.folder), QString::fromUtf8(c.full)), c.inside)
            << c.folder << " " << c.full;
}

}  // namespace
