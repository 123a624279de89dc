#include "platform/FileSystem.h"
#include "platform/ReplacingFile.h"
#include "support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

using namespace testing_support;

namespace {

std::vector<std::string> Names(const std::vector<const platform::DirEntry*>& entries)
{
    std::vector<std::string> names;
    for (const auto* e : entries)
        names.push_back(e->name);
    return names;
}

}  // namespace

TEST(PatternTest, MatchesLikeTheListingPatterns)
{
    using platform::MatchesPattern;
    EXPECT_TRUE(MatchesPattern("00000.MTS", "*.MTS"));
    EXPECT_TRUE(MatchesPattern("00000.mts", "*.MTS"));
    EXPECT_TRUE(MatchesPattern("clip.M2TS", "*.m2ts"));
    EXPECT_TRUE(MatchesPattern(".MTS", "*.MTS"));
    EXPECT_FALSE(MatchesPattern("00000.MTS.bak", "*.MTS"));
    EXPECT_FALSE(MatchesPattern("00000.MTSX", "*.MTS"));
    EXPECT_FALSE(MatchesPattern("00000MTS", "*.MTS"));
    EXPECT_TRUE(MatchesPattern("no-extension", "*.*"));
    EXPECT_TRUE(MatchesPattern("a.b.c", "*.*"));
    EXPECT_TRUE(MatchesPattern("a.b.MTS", "*.mts"));
    EXPECT_TRUE(MatchesPattern("abc", "a?c"));
    EXPECT_FALSE(MatchesPattern("abbc", "a?c"));
    // Bytes outside ASCII are compared as they are, never folded.
    EXPECT_TRUE(MatchesPattern("\xe9t\xe9.MTS", "*.MTS"));
    EXPECT_FALSE(platform::EqualsIgnoreCase("\xc9", "\xe9"));
    EXPECT_TRUE(platform::EqualsIgnoreCase("PrIvAtE", "private"));
}

TEST(ListDirectoryTest, GivesNameOrderSizesTimesAndFolders)
{
    TempDir dir;
    for (const char* name : {"b.m2ts", "a.MTS", "z.txt", "c.mts", "D.M2TS", "sub"}) {
        if (std::string(name) == "sub")
            MakeDirs(dir / name);
        else
            WriteFile(dir / name, "xy");
    }
    SetFileSize(dir / "a.MTS", 5368709120ULL);  // sparse, above 4 GiB
    SetModificationTime(dir / "a.MTS", 1236434709);

    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(dir.Path(), entries));
    std::vector<std::string> names;
    for (const auto& e : entries)
        names.push_back(e.name);
    // Byte order, whatever the creation or readdir order: upper case before lower case.
    EXPECT_EQ(names, (std::vector<std::string>{"D.M2TS", "a.MTS", "b.m2ts", "c.mts", "sub", "z.txt"}));

    const platform::DirEntry* big = platform::FindEntryIgnoreCase(entries, "A.mts");
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->name, "a.MTS");
    EXPECT_EQ(big->size, 5368709120ULL);
    EXPECT_EQ(big->mtimeSeconds, 1236434709);
    EXPECT_FALSE(big->isDirectory);
    EXPECT_TRUE(platform::FindEntryIgnoreCase(entries, "SUB")->isDirectory);

    EXPECT_EQ(Names(platform::FilterEntries(entries, "*.MTS")), (std::vector<std::string>{"a.MTS", "c.mts"}));
    EXPECT_EQ(platform::FilterEntries(entries, "*.m2ts").size(), 2u);
    EXPECT_EQ(platform::FilterEntries(entries, "*.*").size(), 6u);
}

TEST(ListDirectoryTest, MissingOrUnreadableFolderGivesNothing)
{
    TempDir dir;
    std::vector<platform::DirEntry> entries{platform::DirEntry{}};
    EXPECT_FALSE(platform::ListDirectory(dir / "missing", entries));
    EXPECT_TRUE(entries.empty());

    MakeDirs(dir / "locked");
    WriteFile(dir / "locked/00000.MTS", "");
    chmod((dir / "locked").c_str(), 0);
    if (geteuid() != 0) {  // root reads anything
        EXPECT_FALSE(platform::ListDirectory(dir / "locked", entries));
        EXPECT_TRUE(entries.empty());
    }
}

TEST(ListDirectoryTest, DanglingLinkIsListedWithoutSize)
{
    TempDir dir;
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "gone.MTS").c_str()), 0);
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(dir.Path(), entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].statFailed);
    EXPECT_EQ(entries[0].size, 0u);
}

TEST(FindChildTest, FindsNamesWithoutRegardToCase)
{
    TempDir dir;
    MakeDirs(dir / "private/avchd");
    EXPECT_EQ(platform::FindChildIgnoreCase(dir.Path(), "PRIVATE"), dir / "private");
    EXPECT_EQ(platform::FindChildIgnoreCase(dir / "private", "AVCHD"), dir / "private/avchd");
    EXPECT_EQ(platform::FindChildIgnoreCase(dir.Path(), "private"), dir / "private");
    EXPECT_FALSE(platform::FindChildIgnoreCase(dir.Path(), "AVCHD").has_value());
    EXPECT_FALSE(platform::FindChildIgnoreCase(dir / "missing", "x").has_value());
}

TEST(JoinPathTest, NeverDoublesTheSeparator)
{
    EXPECT_EQ(platform::JoinPath("/card", "00001.MTS"), "/card/00001.MTS");
    EXPECT_EQ(platform::JoinPath("/", "00001.MTS"), "/00001.MTS");
    EXPECT_EQ(platform::JoinPath("", "x"), "x");
}

// Files written through a temporary name are created afresh and exclusively: a link planted at
// the target's name or at a temporary name an older version used is replaced or left alone,
// never followed, and a write the disk cannot hold leaves the old file and no temporary one.
TEST(ReplacingFileTest, NeverWritesThroughALinkAndLeavesNothingHalfWritten)
{
    TempDir dir;
    const std::string victim = dir / "home-file", target = dir / "card/00000.MTS.viewmere.jpg";
    WriteFile(victim, "the user's own file");
    MakeDirs(dir / "card");
    ASSERT_EQ(symlink(victim.c_str(), target.c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), (target + ".part").c_str()), 0);
    const std::string picture = "new picture";
    ASSERT_TRUE(platform::ReplaceFileWith(target, {reinterpret_cast<const std::uint8_t*>(picture.data()), picture.size()}));
    EXPECT_EQ(ReadFile(victim), "the user's own file");
    struct stat info {};
    ASSERT_EQ(lstat(target.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(ReadFile(target), picture);

    // Abandoned, the temporary file goes.
    {
        platform::ReplacingFile abandoned(target, 0600);
        ASSERT_TRUE(abandoned.Opened() && abandoned.Write(std::string_view("half")));
    }
    std::vector<platform::DirEntry> left;
    platform::ListDirectory(dir / "card", left);
    EXPECT_EQ(left.size(), 2u);  // the file and the link an older version could have followed

    const std::string card = "'" + dir / "card" + "'";  // the scratch folder's name needs no more quoting
    if (std::system(("mount -t tmpfs -o size=64k tmpfs " + card + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this machine does not let a small tmpfs be mounted";
    WriteFile(target, "old");
    const std::vector<std::uint8_t> large(256 * 1024, 7);
    EXPECT_FALSE(platform::ReplaceFileWith(target, large, 0644, true));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(ReadFile(target), "old");
    left.clear();
    platform::ListDirectory(dir / "card", left);
    EXPECT_EQ(left.size(), 1u);
    std::system(("umount " + card).c_str());
}
