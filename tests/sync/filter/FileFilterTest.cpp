#include "sync/filter/FileFilter.h"

#include <gtest/gtest.h>

#include <QString>

namespace {

TEST(FileFilterTest, LockTemporaryPartialAndShellFilesAreIgnored)
{
    const char* ignored[] = {
        "~$Budget.xlsx",          // office lock file, whatever the extension
        "~$x",
        "~WRL0001.tmp",           // "~" before .tmp
        "PPT3A.TMP",              // "ppt" prefix, compared in lower case
        "ppt1.tmp",
        "Report.xlsx~RF2c4.TMP",  // office save temporaries
        "Book.XLS~1a.tmp",
        "Deck.ppt~2.tmp",
        "3fa2.tmp",               // hex digits, then any character, then "tmp"
        "A.tmp",
        ".tmp",
        "DEADBEEF.TMP",
        "movie.mp4.partial",
        "Movie.PARTIAL",
        "Desktop.INI",
        "desktop.ini",
        "THUMBS.DB",
        "DEADBEEF",               // eight hex digits, no extension
        "a1b2c3d4",
        "\\Docs\\~$letter.docx",  // only the last name counts
        "/home/user/tessaron/Thumbs.db",
        "\\Docs\\0badcafe",       // a folder is judged by the same rules
    };
    for (const char* name : ignored)
        EXPECT_TRUE(FileFilter::IsIgnored(QString::fromUtf8(name))) << name;
}

TEST(FileFilterTest, OrdinaryNamesAreKept)
{
    const char* kept[] = {
        "notes.tmp",          // not hex before the last four characters
        "ab.c.tmp",
        "movie.partial.mp4",  // .partial is not the extension
        "deadbeef.txt",       // twelve characters
        "1234567g",           // not hex
        "1234567",            // seven characters
        "DEADBEEF1",          // nine characters
        "report.docx",
        "desktop.ini.bak",
        "my thumbs.db",
        "\\~$Drafts\\plan.txt",
        "\\Docs",
        "",
    };
    for (const char* name : kept)
        EXPECT_FALSE(FileFilter::IsIgnored(QString::fromUtf8(name))) << name;
}

}  // namespace
