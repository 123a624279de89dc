#include "settings/RegistryFile.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::string kKeyLine = "[HKEY_CURRENT_USER\\Software\\Corvane\\Viewmere]";

// Each test gets its own configuration home.
class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() : env_("XDG_CONFIG_HOME", home_.Path() + "/config") {}

    std::string FilePath() const { return home_.Path() + "/config/Corvane/Viewmere/settings.reg"; }
    void WriteStore(const std::string& valueLines)
    {
        WriteFile(FilePath(), "Windows Registry Editor Version 5.00\r\n\r\n" + kKeyLine + "\r\n" + valueLines);
    }
    std::string ReadString(const char* name, const std::string& fallback = "DEFAULT")
    {
        std::string value = fallback;
        ReadStringSetting(name, value);
        return value;
    }
    bool ReadBool(const char* name, bool fallback)
    {
        bool flag = fallback;
        ReadBoolSetting(name, flag);
        return flag;
    }

    TempDir home_;
    ScopedEnv env_;
};

}  // namespace

TEST_F(SettingsTest, NoFileGivesDefaultsAndReadingCreatesNothing)
{
    EXPECT_EQ(settings::LastDirectory.Read(), "");
    EXPECT_FALSE(settings::GenerateThumbnails.Read());
    EXPECT_TRUE(GetWriteThumbnails());
    EXPECT_FALSE(settings::UseFFmpeg.Read());
    EXPECT_EQ(GetFFmpegExe(), "/usr/bin/ffmpeg");
    EXPECT_FALSE(settings::WriteToSubdir.Read());
    EXPECT_TRUE(settings::SplitDates.Read());
    EXPECT_TRUE(settings::ShareThumbnails.Read());
    EXPECT_EQ(GetFFmpegParams(), "-i \"%IN%\" -vframes 1 -s 416x234 -vcodec mjpeg %OUT%");
    EXPECT_EQ(GetFFmpegParams().size(), 51u);
    struct stat info {};
    EXPECT_NE(stat((home_.Path() + "/config").c_str(), &info), 0);
}

TEST_F(SettingsTest, TypeRulesOfReads)
{
    WriteStore(
        "\"GenerateThumbnails\"=\"1\"\r\n"          // a string where a number belongs
        "\"SplitDates\"=dword:00000002\r\n"         // any non-zero number is on
        "\"WriteThumbnails\"=dword:00000000\r\n"
        "\"UseFFmpeg\"=hex(4):01,00,00,00,00\r\n"   // a number of five bytes is unusable
        "\"WriteToSubdir\"=hex(4):01\r\n"           // a short number is zero-extended
        "\"LastDirectory\"=dword:00000001\r\n"      // a number where a string belongs
        "\"FFmpegExe\"=hex(2):25,48,4f,4d,45,25,2f,66,66,00\r\n"  // expandable, kept unexpanded
        "\"NoNul\"=hex(1):61,62,63\r\n"             // a string without its NUL
        "\"Empty\"=hex(1):\r\n"                     // a string of zero bytes
        "\"TwoParts\"=hex(1):61,00,62,00\r\n");     // cut at the first NUL
    EXPECT_FALSE(ReadBool("GenerateThumbnails", false));
    EXPECT_TRUE(ReadBool("SplitDates", false));
    EXPECT_FALSE(ReadBool("WriteThumbnails", true));
    EXPECT_FALSE(ReadBool("UseFFmpeg", false));
    EXPECT_TRUE(ReadBool("WriteToSubdir", false));
    EXPECT_EQ(ReadString("LastDirectory"), "DEFAULT");
    EXPECT_EQ(GetFFmpegExe(), "%HOME%/ff");
    EXPECT_EQ(ReadString("NoNul"), "DEFAULT");
    EXPECT_EQ(ReadString("Empty"), "");
    EXPECT_EQ(ReadString("TwoParts"), "a");
    EXPECT_EQ(ReadString("Missing"), "DEFAULT");
    EXPECT_TRUE(ReadBool("Missing", true));
}

TEST_F(SettingsTest, StringLengthLimitCountsTheNul)
{
    const std::string fits(1022, 'a');  // 1023 bytes with its NUL
    const std::string tooLong(1023, 'b');
    WriteStore("\"Fits\"=\"" + fits + "\"\r\n\"TooLong\"=\"" + tooLong + "\"\r\n");
    EXPECT_EQ(ReadString("Fits"), fits);
    EXPECT_EQ(ReadString("TooLong"), "DEFAULT");
}

TEST_F(SettingsTest, ReaderAcceptsFilesWithoutHeaderAndIgnoresOtherKeysAndJunk)
{
    WriteFile(FilePath(),
              "[HKEY_CURRENT_USER\\Software\\Other]\n"
              "\"LastDirectory\"=\"/other\"\n"
              "[hkey_current_user\\software\\corvane\\viewmere]\n"
              "garbage line\n"
              "\"lastdirectory\"=\"/mine \\\"quoted\\\" \\\\ back\"\n"
              "\"Bad\"=dword:xyz\n"
              "\"Long\"=hex(1):61,\\\n"
              "  62,00\n");
    EXPECT_EQ(ReadString("LastDirectory"), "/mine \"quoted\" \\ back");
    EXPECT_EQ(ReadString("Long"), "ab");
    EXPECT_TRUE(ReadBool("Bad", true));
}

TEST_F(SettingsTest, DamagedFilesReadAsDefaults)
{
    for (const std::string& junk : {std::string("\x00\xff\x01", 3), std::string("\"LastDirectory\"=\"/x\"\n"),
                                    kKeyLine + "\n\"LastDirectory\"=\"/unterminated\n", kKeyLine + "\n\"Flag\"=hex(4):0"}) {
        WriteFile(FilePath(), junk);
        EXPECT_EQ(ReadString("LastDirectory"), "DEFAULT");
        EXPECT_TRUE(ReadBool("Flag", true));
    }
}

TEST_F(SettingsTest, RoundTripsKeepEveryOtherLine)
{
    WriteFile(FilePath(),
              "; a comment the user wrote\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\n"
              "\"Keep\"=\"me\"\n"
              "\n" + kKeyLine + "\n"
              "unknown stuff\n"
              "\"SplitDates\"=dword:00000002\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Third]\n"
              "\"Also\"=dword:00000001");
    WriteBoolSetting("SplitDates", true);
    WriteStringSetting("LastDirectory", "/media/card \"one\"\\two");
    const std::string weird = std::string("line\nbreak\rand\xff bytes");
    WriteStringSetting("Weird", weird);
    WriteBoolSetting("GenerateThumbnails", false);

    EXPECT_TRUE(settings::SplitDates.Read());
    EXPECT_EQ(settings::LastDirectory.Read(), "/media/card \"one\"\\two");
    EXPECT_EQ(ReadString("Weird"), weird);
    EXPECT_FALSE(ReadBool("GenerateThumbnails", true));

    const std::string text = ReadFile(FilePath());
    EXPECT_EQ(text,
              "; a comment the user wrote\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\n"
              "\"Keep\"=\"me\"\n"
              "\n" + kKeyLine + "\n"
              "unknown stuff\n"
              "\"SplitDates\"=dword:00000001\n"
              "\"LastDirectory\"=\"/media/card \\\"one\\\"\\\\two\"\n"
              "\"Weird\"=hex(1):6c,69,6e,65,0a,62,72,65,61,6b,0d,61,6e,64,ff,20,62,79,74,65,73,00\n"
              "\"GenerateThumbnails\"=dword:00000000\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Third]\n"
              "\"Also\"=dword:00000001\n");
}

TEST_F(SettingsTest, FirstWriteCreatesFoldersAndAnImportableFile)
{
    WriteBoolSetting("SplitDates", false);
    EXPECT_EQ(ReadFile(FilePath()), "Windows Registry Editor Version 5.00\r\n\r\n" + kKeyLine +
                                        "\r\n\"SplitDates\"=dword:00000000\r\n");
    struct stat info {};
    ASSERT_EQ(stat((home_.Path() + "/config/Corvane/Viewmere").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(SettingsTest, UnwritableFolderLosesTheWriteSilently)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    MakeDirs(home_.Path() + "/config");
    chmod((home_.Path() + "/config").c_str(), 0500);
    WriteStringSetting("LastDirectory", "/x");
    EXPECT_EQ(settings::LastDirectory.Read(), "");
}

TEST_F(SettingsTest, ConfigHomeThatIsAFileLosesTheWriteSilently)
{
    WriteFile(home_.Path() + "/config", "not a folder");
    WriteStringSetting("LastDirectory", "/x");
    EXPECT_EQ(settings::LastDirectory.Read(), "");
    EXPECT_EQ(ReadFile(home_.Path() + "/config"), "not a folder");
}

TEST_F(SettingsTest, ExistingFileThatCannotBeReadIsNeverReplaced)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads unreadable files";
    WriteStore("\"Keep\"=\"me\"\r\n");
    chmod(FilePath().c_str(), 0200);
    WriteStringSetting("LastDirectory", "/x");
    chmod(FilePath().c_str(), 0600);
    EXPECT_EQ(ReadString("Keep"), "me");
}

TEST_F(SettingsTest, ConcurrentWritersLoseNothingAndReadersSeeWholeFiles)
{
    WriteStringSetting("Fixed", "always here");
    constexpr int kWrites = 300;
    auto writer = [](char tag) {
        for (int i = 0; i < kWrites; ++i) {
            WriteStringSetting((std::string(1, tag) + std::to_string(i)).c_str(), std::to_string(i));
            WriteBoolSetting((std::string(1, tag) + "Flag").c_str(), i % 2 == 0);
        }
        _exit(0);
    };
    pid_t a = fork();
    if (a == 0)
        writer('A');
    pid_t b = fork();
    if (b == 0)
        writer('B');
    pid_t reader = fork();
    if (reader == 0) {
        for (int i = 0; i < 2000; ++i) {
            std::string value = "missing";
            ReadStringSetting("Fixed", value);
            if (value != "always here")
                _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    for (pid_t child : {a, b, reader}) {
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << child;
    }
    for (char tag : {'A', 'B'}) {
        for (int i = 0; i < kWrites; ++i)
            EXPECT_EQ(ReadString((std::string(1, tag) + std::to_string(i)).c_str()), std::to_string(i));
        EXPECT_FALSE(ReadBool((std::string(1, tag) + "Flag").c_str(), true));
    }
}

TEST(RegistryFileTest, FormatsEachKindOfValue)
{
    using settings::RegistryValue;
    EXPECT_EQ(settings::FormatRegistryValueLine("A", RegistryValue{settings::kRegString, std::string("x\0", 2)}),
              "\"A\"=\"x\"");
    EXPECT_EQ(settings::FormatRegistryValueLine("A", RegistryValue{settings::kRegString, std::string("x")}),
              "\"A\"=hex(1):78");
    EXPECT_EQ(settings::FormatRegistryValueLine("A", RegistryValue{settings::kRegDword, std::string("\x01\x02\x00\x80", 4)}),
              "\"A\"=dword:80000201");
    EXPECT_EQ(settings::FormatRegistryValueLine("A", RegistryValue{settings::kRegExpandString, std::string("%\0", 2)}),
              "\"A\"=hex(2):25,00");
    EXPECT_EQ(settings::FormatRegistryValueLine("A\"", RegistryValue{settings::kRegBinary, ""}), "\"A\\\"\"=hex:");
    // Types are written in hex as they are read: type 11 is "b", and reads back as 11.
    const std::string line = settings::FormatRegistryValueLine("A", RegistryValue{11, std::string("\x01", 1)});
    EXPECT_EQ(line, "\"A\"=hex(b):01");
    RegistryValue back;
    ASSERT_TRUE(settings::FindRegistryValue(kKeyLine + "\n" + line + "\n", "A", back));
    EXPECT_EQ(back.type, 11u);
}

TEST(RegistryFileTest, AValueSetAfterADanglingContinuationReadsBack)
{
    const std::string text = kKeyLine + "\n\"B\"=hex:01,\\";  // the file ends inside a continued line
    settings::RegistryValue before;
    ASSERT_TRUE(settings::FindRegistryValue(text, "B", before));  // continued onto nothing
    EXPECT_EQ(before.data, "\x01");
    const std::string written = settings::SetRegistryValue(text, "SplitDates", settings::RegistryValue{settings::kRegDword, std::string("\x01\0\0\0", 4)});
    settings::RegistryValue value;
    ASSERT_TRUE(settings::FindRegistryValue(written, "SplitDates", value)) << written;
    EXPECT_EQ(value.data, std::string("\x01\0\0\0", 4));
    ASSERT_TRUE(settings::FindRegistryValue(written, "B", value));
    EXPECT_EQ(value.data, "\x01");
}
