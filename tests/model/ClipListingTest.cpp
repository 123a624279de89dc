#include "model/ClipListing.h"
#include "support/CardLayout.h"
#include "support/Clips.h"
#include "support/MdpmClips.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace testing_support;

TEST(ClipListingTest, OneLinePerClipInGridOrderWithTheCamerasTimeOrTheFileTime)
{
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    CardOptions camera;
    camera.clips = {"00000.MTS", "00002.MTS"};  // numbered by the camera's thumbnails; slot 1 empty
    const std::string stream = WriteCard(dir / "card", camera);
    MakeDatedClip(stream + "/00002.MTS", 0x0b, 2010, 2, 28, 18, 45, 59);  // 5:30 east of UTC
    const std::string odd = dir / "loose";
    for (const char* name : {"back\\slash.MTS", "new\nline.MTS", "tab\tname.MTS", "not\\ta tab\r.MTS"})
        WriteFile(odd + "/" + name, "no camera date");
    MakeDatedClip(odd + "/summer.MTS", 0x6a, 2009, 7, 4, 9, 5, 33);  // 5 hours west, on summer time
    for (const std::string& path : {stream + "/00000.MTS", stream + "/00002.MTS", odd + "/back\\slash.MTS",
                                    odd + "/new\nline.MTS", odd + "/tab\tname.MTS", odd + "/not\\ta tab\r.MTS"})
        SetModificationTime(path, 1236434709);
    const std::string clipSize = std::to_string(ReadFile(stream + "/00002.MTS").size());

    std::ostringstream out, errors;
    EXPECT_EQ(ListClips(dir.Path(), out, errors), 0);
    // The card's files have their durations from its playlist (a second each), the loose real
    // clip from its stream, and the rest none.
    EXPECT_EQ(out.str(), stream + "/00000.MTS\t" + std::to_string(ReadFile(stream + "/00000.MTS").size()) +
                             "\t2009-03-07T14:05:09Z\tfile\t1.000\t1/1\n" +
                             stream + "/00002.MTS\t" + clipSize + "\t2010-02-28T18:45:59+05:30\tstream\t1.000\t1/1\n" +
                             odd + "/back\\\\slash.MTS\t14\t2009-03-07T14:05:09Z\tfile\t-\t1/1\n" +
                             odd + "/new\\nline.MTS\t14\t2009-03-07T14:05:09Z\tfile\t-\t1/1\n" +
                             odd + "/not\\\\ta tab\\r.MTS\t14\t2009-03-07T14:05:09Z\tfile\t-\t1/1\n" + odd + "/summer.MTS\t" +
                             std::to_string(ReadFile(odd + "/summer.MTS").size()) +
                             "\t2009-07-04T09:05:33-04:00\tstream\t1.000\t1/1\n" +
                             odd + "/tab\\tname.MTS\t14\t2009-03-07T14:05:09Z\tfile\t-\t1/1\n");
    EXPECT_EQ(errors.str(), "");
}

TEST(ClipListingTest, AFolderThatCannotBeReadGivesStatus2AndOneLine)
{
    TempDir dir;
    WriteFile(dir / "file.MTS", "not a folder");
    for (const std::string& folder : {dir / "missing", dir / "file.MTS"}) {
        std::ostringstream out, errors;
        EXPECT_EQ(ListClips(folder, out, errors), 2);
        EXPECT_EQ(out.str(), "");
        const std::string told = errors.str();
        EXPECT_EQ(told.rfind("viewmere: cannot read folder " + folder + ": ", 0), 0u) << told;
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1);
    }
}

// A copy of a card where one clip was re-exported by another program: a plain transport stream
// of 188-byte packets before an M2TS stream of 192-byte packets, read one after the other on
// the same thread, each measured whole.
TEST(ClipListingTest, AFolderMixingStreamLayoutsGivesEachClipItsDuration)
{
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    const std::string folder = dir / "copied";
    Shell("mkdir -p " + ShellQuote(folder));
    const std::string encode = "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25:duration=";
    ASSERT_EQ(Shell(encode + "2 -c:v libx264 -preset ultrafast -f mpegts " + ShellQuote(folder + "/00000.MTS")), 0);
    ASSERT_EQ(Shell(encode + "3 -c:v libx264 -preset ultrafast -b:v 2M -f mpegts -mpegts_m2ts_mode 1 " +
                    ShellQuote(folder + "/00001.MTS")),
              0);
    ASSERT_GT(ReadFile(folder + "/00001.MTS").size(), 200u * 1024);
    std::ostringstream out, errors;
    ASSERT_EQ(ListClips(folder, out, errors), 0);
    std::vector<std::string> durations;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        durations.push_back(line.substr(line.rfind('\t', line.rfind('\t') - 1) + 1));
    EXPECT_EQ(durations, (std::vector<std::string>{"2.000\t1/1", "3.000\t1/1"}));
}
