#include "platform/CalendarTime.h"
#include "platform/DeviceBitmap.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/TempDirectory.h"
#include "platform/Ticks.h"
#include "platform/Utf8.h"
#include "platform/VolumeMonitor.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <thread>

using namespace testing_support;

TEST(TicksTest, CountsMillisecondsOfTheMonotonicClock)
{
    const std::uint32_t start = platform::GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const std::uint32_t elapsed = platform::GetTickCount() - start;  // unsigned: right across a wrap
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(CalendarTimeTest, ConvertsUnixTimesToUtcFields)
{
    const platform::FileTime t = platform::FileTimeFromUnix(1236434709, 0);  // 2009-03-07 14:05:09 UTC
    EXPECT_EQ(t, (1236434709ULL + 11644473600ULL) * 10000000ULL);
    platform::CalendarFields f;
    ASSERT_TRUE(platform::FileTimeToCalendar(t, f));
    EXPECT_EQ(f.year, 2009);
    EXPECT_EQ(f.month, 3);
    EXPECT_EQ(f.day, 7);
    EXPECT_EQ(f.hour, 14);
    EXPECT_EQ(f.minute, 5);
    EXPECT_EQ(f.second, 9);

    ASSERT_TRUE(platform::FileTimeToCalendar(0, f));
    EXPECT_EQ(f.year, 1601);
    EXPECT_EQ(f.month, 1);
    EXPECT_EQ(f.day, 1);

    platform::CalendarFields untouched;
    EXPECT_FALSE(platform::FileTimeToCalendar(platform::FileTime{1} << 63, untouched));
    EXPECT_EQ(untouched.year, 0);
    EXPECT_EQ(platform::FileTimeFromUnix(-11644473601LL, 0), platform::UnconvertibleFileTime);
}

TEST(TempDirectoryTest, IsPrivateAndRefusesLinksAndStrangers)
{
    TempDir dir;
    ScopedEnv tmp("TMPDIR", dir.Path());
    std::string path;
    ASSERT_TRUE(platform::PrivateTempDirectory(path));
    EXPECT_EQ(path, dir.Path() + "/viewmere-" + std::to_string(getuid()) + "/");
    struct stat info {};
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    std::string again;
    ASSERT_TRUE(platform::PrivateTempDirectory(again));
    EXPECT_EQ(again, path);

    // A link planted at the name must never be used.
    TempDir other;
    ScopedEnv tmp2("TMPDIR", other.Path() + "/");
    MakeDirs(other / "target");
    ASSERT_EQ(symlink((other / "target").c_str(), (other / ("viewmere-" + std::to_string(getuid()))).c_str()), 0);
    std::string refused = "unchanged";
    EXPECT_FALSE(platform::PrivateTempDirectory(refused));
    EXPECT_EQ(refused, "unchanged");
}

TEST(FormatTest, FormatsShortLongAndRefusesEncodingErrors)
{
    EXPECT_EQ(platform::FormatString("Opened directory [%s] in %.3f seconds", "/card", 0.25),
              "Opened directory [/card] in 0.250 seconds");
    const std::string longText(5000, 'x');
    EXPECT_EQ(platform::FormatString("[%s]", longText.c_str()), "[" + longText + "]");
    std::setlocale(LC_ALL, "C");
    const wchar_t bad[] = {static_cast<wchar_t>(0xD800), 0};  // not encodable in the C locale
    EXPECT_THROW(platform::FormatString("%ls", bad), std::invalid_argument);
}

TEST(MessageBoxTest, HookReceivesBoxesAndCanBeRestored)
{
    struct Box {
        std::string text, caption;
        platform::MessageBoxIcon icon;
    };
    std::vector<Box> boxes;
    auto previous = platform::SetMessageBoxHandler(
        [&](const std::string& text, const std::string& caption, platform::MessageBoxIcon icon) {
            boxes.push_back({text, caption, icon});
        });
    platform::ShowMessageBox("text", "JPEG Error", platform::MessageBoxIcon::None);
    platform::ShowMessageBox("warn", "Viewmere", platform::MessageBoxIcon::Warning);
    platform::SetMessageBoxHandler(previous);
    platform::ShowMessageBox("to stderr", "x", platform::MessageBoxIcon::None);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "JPEG Error");
    EXPECT_EQ(boxes[1].icon, platform::MessageBoxIcon::Warning);
}

TEST(DeviceBitmapTest, SizesAndMissingRows)
{
    platform::DeviceBitmap bitmap = platform::MakeDeviceBitmap32(5, 3);
    EXPECT_EQ(bitmap.Stride(), 20u);
    EXPECT_EQ(bitmap.bits.size(), 60u);
    EXPECT_EQ(bitmap.RowsAvailable(), 3);
    bitmap.bits.resize(45);
    EXPECT_EQ(bitmap.RowsAvailable(), 2);
    EXPECT_TRUE(platform::MakeDeviceBitmap32(0, 10).bits.empty());
    EXPECT_TRUE(platform::MakeDeviceBitmap32(100000, 100000).bits.empty());
    platform::DeviceBitmap rgb24{5, 1, 24, {}};
    EXPECT_EQ(rgb24.Stride(), 16u);
}

TEST(Utf8Test, InvalidBytesBecomeReplacementCharactersForDisplayOnly)
{
    EXPECT_EQ(platform::DisplayUtf8("plain / caf\xc3\xa9 \xe2\x82\xac"), "plain / caf\xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(platform::DisplayUtf8("bad\xff\xfe."), "bad\xef\xbf\xbd\xef\xbf\xbd.");
    EXPECT_EQ(platform::DisplayUtf8("cut \xe2\x82"), "cut \xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(platform::DisplayUtf8("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");  // a surrogate
}

TEST(VolumeMonitorTest, OnlyLocalDisksAreReportedSoNoMountThatStoppedAnsweringIsLookedInto)
{
    // In a mount namespace of this thread's own, under a /media of its own: a disk image (a loop
    // device) and a FUSE file system whose server never answers, as a share that went away.
    TempDir dir;
    const std::string image = dir / "card.img";
    const int connection = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    const std::string fuse = "fd=" + std::to_string(connection) + ",rootmode=40000,user_id=0,group_id=0";
    if (connection < 0 || unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("media", "/media", "tmpfs", 0, nullptr) != 0 || mkdir("/media/card", 0755) != 0 ||
        mkdir("/media/unanswered", 0755) != 0 ||
        std::system(("truncate -s 8M " + image + " && mkfs.ext4 -q " + image + " && mount -o loop " + image +
                     " /media/card").c_str()) != 0 ||
        mount("unanswered", "/media/unanswered", "fuse", 0, fuse.c_str()) != 0)
        GTEST_SKIP() << "this machine does not let a disk image and a FUSE file system be mounted";
    std::vector<std::string> reported;
    for (const platform::MountPoint& volume : platform::VolumeMonitor({}, {}).Mounts())
        if (volume.root.rfind("/media/", 0) == 0)
            reported.push_back(volume.root);
    for (const char* mounted : {"/media/unanswered", "/media/card", "/media"})
        umount2(mounted, MNT_DETACH);
    close(connection);
    EXPECT_EQ(reported, std::vector<std::string>{"/media/card"});
}
