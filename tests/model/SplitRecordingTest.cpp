// Recordings the camera split across stream files, joined by the card's playlist; durations from
// the playlist or from the stream.
#include "model/AVCHDDoc.h"
#include "model/CardPlaylist.h"
#include "model/ClipListing.h"
#include "settings/Settings.h"
#include "support/CardPlaylists.h"
#include "support/Clips.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>
#include <thread>

using namespace testing_support;

namespace {

std::span<const std::uint8_t> AsBytes(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Whether libbluray, an independent reader of the format, takes a playlist file.
bool LibblurayReads(const std::string& file)
{
    void* library = dlopen("libbluray.so.2", RTLD_NOW);
    if (library == nullptr)
        return false;
    using Read = void* (*)(const char*);
    using Free = void (*)(void*);
    auto read = reinterpret_cast<Read>(dlsym(library, "bd_read_mpls"));
    auto release = reinterpret_cast<Free>(dlsym(library, "bd_free_mpls"));
    void* playlist = read != nullptr && release != nullptr ? read(file.c_str()) : nullptr;
    if (playlist != nullptr)
        release(playlist);
    dlclose(library);
    return playlist != nullptr;
}

// The last two columns `viewmere --list` prints for each file of a folder: duration and part.
std::vector<std::string> ListedDurationsAndParts(const std::string& folder)
{
    std::ostringstream out, errors;
    EXPECT_EQ(ListClips(folder, out, errors), 0);
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(line.rfind('\t', line.rfind('\t') - 1) + 1));
    return lines;
}

std::string Seconds(const PlaylistItem& item, const char* part)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.3f\t%s", (item.outTime - item.inTime) / 45000.0, part);
    return text;
}

class SplitRecordingTest : public ::testing::Test {
protected:
    SplitRecordingTest() : config_("XDG_CONFIG_HOME", dir_ / "config")
    {
        settings::GenerateThumbnails.Write(true);
        stream_ = dir_ / "card/PRIVATE/AVCHD/BDMV/STREAM";
        MakeDirs(stream_);
        Shell("cp " + ShellQuote(TestClips().interlaced1080) + " " + ShellQuote(stream_ + "/00000.MTS"));
        two_ = MakeSplitRecording(stream_, 1, {"red", "blue"});
        three_ = MakeSplitRecording(stream_, 3, {"lime", "yellow", "magenta"});
        items_ = {{"00000", 1, 0, 45000}, two_.items[0], two_.items[1], three_.items[0], three_.items[1], three_.items[2]};
        WritePlaylist(dir_ / "card/PRIVATE/AVCHD/BDMV", items_);
        TakeLogMessages();
    }

    // The folder opened as the viewer opens it: its clip list, and the clips whose pictures
    // were asked for, once the generator has been through them.
    boost::shared_ptr<CClipDetails> Open(std::vector<std::string>* asked = nullptr)
    {
        doc_.reset();
        asked_.clear();
        doc_ = std::make_unique<CAVCHDDoc>([this](ThumbnailQueue&, const std::string& path) {
            std::lock_guard<std::mutex> guard(lock_);
            asked_.push_back(path);
        });
        doc_->OpenDirectory(dir_ / "card");
        for (int i = 0; i < 2000 && doc_->GetPendingCount() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (asked != nullptr) {
            std::lock_guard<std::mutex> guard(lock_);
            *asked = asked_;
        }
        return doc_->GetDirectoryCount() == 1 ? doc_->GetDirectory(0)->clips : nullptr;
    }

    TempDir dir_;
    ScopedEnv config_;
    std::string stream_;
    SplitRecording two_, three_;
    std::vector<PlaylistItem> items_;
    std::mutex lock_;
    std::vector<std::string> asked_;
    std::unique_ptr<CAVCHDDoc> doc_;
};

}  // namespace

TEST(CardPlaylistTest, AWholePlaylistIsReadAndEveryCutOrLyingOneRefused)
{
    TempDir dir;
    const std::string bytes = PlaylistBytes({{"00003", 1, 100, 900}, {"00004", 6, 900, 45900}, {"00007", 5, 0, 450}});
    WriteFile(dir / "00000.mpls", bytes);
    EXPECT_TRUE(LibblurayReads(dir / "00000.mpls"));  // the test's writer writes the real format

    std::string problem;
    const std::optional<CardPlaylist> playlist = ParseCardPlaylist(AsBytes(bytes), problem);
    ASSERT_TRUE(playlist) << problem;
    ASSERT_EQ(playlist->items.size(), 3u);
    EXPECT_EQ(playlist->items[1].clipName, "00004");
    EXPECT_TRUE(playlist->items[1].ContinuesPrevious());
    EXPECT_FALSE(playlist->items[2].ContinuesPrevious());
    EXPECT_DOUBLE_EQ(playlist->items[1].Seconds(), 1.0);
    ASSERT_EQ(playlist->marks.size(), 2u);  // an entry mark where each recording starts
    EXPECT_EQ(playlist->marks[1].playItem, 2);

    for (std::size_t size = 0; size < bytes.size(); ++size)
        EXPECT_FALSE(ParseCardPlaylist(AsBytes(bytes.substr(0, size)), problem)) << size;
    const std::size_t list = 58, item = list + 10, marks = bytes.size() - 2 * 14 - 6;
    auto refused = [&](std::size_t at, char value) {
        std::string bad = bytes;
        bad[at] = value;
        return !ParseCardPlaylist(AsBytes(bad), problem);
    };
    EXPECT_TRUE(refused(0, 'X'));                   // not a playlist
    EXPECT_TRUE(refused(5, '9'));                   // an unknown version
    EXPECT_TRUE(refused(11, '\x7f'));               // the play list's offset past the end
    EXPECT_TRUE(refused(list + 3, '\x7f'));         // its length past the end
    EXPECT_TRUE(refused(list + 7, 4));              // more items than it holds
    EXPECT_TRUE(refused(item + 1, 19));             // an item shorter than its fixed fields
    EXPECT_TRUE(refused(item + 2, 'x'));            // a name that is not five digits
    EXPECT_TRUE(refused(item + 12, 7));             // an unknown connection
    EXPECT_TRUE(refused(item + 14, '\x7f'));        // IN after OUT
    EXPECT_TRUE(refused(marks + 5, 3));             // more marks than it holds
    EXPECT_TRUE(refused(marks + 6 + 3, 3));         // a mark on an item that does not exist
    EXPECT_FALSE(refused(marks + 6 + 1, 2));        // another kind of mark is fine
}

TEST_F(SplitRecordingTest, EachSplitRecordingIsOneClipOfAllItsFilesInPlaylistOrder)
{
    std::vector<std::string> asked;
    const auto clips = Open(&asked);
    ASSERT_TRUE(clips);
    ASSERT_EQ(clips->GetCount(), 6);
    EXPECT_EQ(doc_->GetClipCount(), 3);  // as the status bar counts them
    // The continuations are no clips of their own, and no picture is made for them alone.
    for (int slot = 0; slot < 6; ++slot)
        EXPECT_EQ(clips->IsContinuation(slot), slot == 2 || slot == 4 || slot == 5) << slot;
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{stream_ + "/00000.MTS", stream_ + "/00001.MTS", stream_ + "/00003.MTS"}));
    EXPECT_EQ(TakeLogMessages().size(), 1u);  // "Opened directory" only: the playlist fits the folder

    std::vector<std::string> files;
    ASSERT_TRUE(clips->GetRecordingPaths(3, files));
    EXPECT_EQ(files, three_.files);
    std::uint64_t size = 0;
    double seconds = 0;
    for (std::size_t part = 0; part < 3; ++part) {
        size += ReadFile(three_.files[part]).size();
        seconds += three_.items[part].outTime - three_.items[part].inTime;
    }
    std::string label;
    clips->FormatCaption(3, label);
    char megabytes[32];
    std::snprintf(megabytes, sizeof megabytes, "(%.1f MB, ", size / 1048576.0);
    EXPECT_NE(label.find(megabytes), std::string::npos) << label;
    EXPECT_DOUBLE_EQ(clips->RecordingDuration(3).value(), seconds / 45000.0);
    EXPECT_EQ(clips->FormatDetails(3).substr(0, 25), "00003.MTS: 0:03, 3 files,");

    // The listing keeps a line per file, with the playlist's durations and each file's part.
    const std::vector<std::string> listed = ListedDurationsAndParts(dir_ / "card");
    EXPECT_EQ(listed, (std::vector<std::string>{"1.000\t1/1", Seconds(two_.items[0], "1/2"), Seconds(two_.items[1], "2/2"),
                                                Seconds(three_.items[0], "1/3"), Seconds(three_.items[1], "2/3"),
                                                Seconds(three_.items[2], "3/3")}));

    // Turned off, every file is a clip of its own again, durations still from the playlist.
    settings::JoinSplitRecordings.Write(false);
    const auto separate = Open(&asked);
    EXPECT_EQ(asked.size(), 6u);
    files.clear();
    ASSERT_TRUE(separate->GetRecordingPaths(3, files));
    EXPECT_EQ(files, std::vector<std::string>{three_.files[0]});
    EXPECT_EQ(ListedDurationsAndParts(dir_ / "card")[5], Seconds(three_.items[2], "1/1"));
}

TEST_F(SplitRecordingTest, APlaylistThatIsMissingDamagedOrWrongJoinsNothingAndSaysWhyOnce)
{
    const std::string playlist = dir_ / "card/PRIVATE/AVCHD/BDMV/PLAYLIST/00000.MPL";
    const std::string bytes = ReadFile(playlist);
    std::vector<PlaylistItem> skipping = items_;  // 00005 said to continue 00003, over 00004
    skipping.erase(skipping.begin() + 4);
    const std::pair<std::string, std::string> cases[] = {
        {"", "No playlist in [" + dir_ / "card/PRIVATE/AVCHD/BDMV]"},
        {bytes.substr(0, bytes.size() / 2), "is damaged (its play list lies outside the file)"},
        {PlaylistBytes(skipping), "does not match its folder (00005 continues 00003, but is not the file after it"},
        {bytes, "does not match its folder (it names 00004, which is not in the folder)"},
    };
    for (const auto& [written, said] : cases) {
        SCOPED_TRACE(said);
        std::remove(playlist.c_str());
        if (!written.empty())
            WriteFile(playlist, written);
        if (written == bytes)
            std::rename(three_.files[1].c_str(), (dir_ / "moved.MTS").c_str());
        const auto clips = Open();
        for (int slot = 0; slot < clips->GetCount(); ++slot)
            EXPECT_FALSE(clips->IsContinuation(slot)) << slot;
        const std::vector<std::string> log = TakeLogMessages();
        EXPECT_EQ(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
                      return line.find(said) != std::string::npos &&
                             line.find("recordings split across files are shown file by file") != std::string::npos;
                  }),
                  1);
    }
    // Without a usable playlist, and copied without the card's folders, each file is measured
    // from the time stamps of its first and last pictures, the second file of a recording
    // starting in the middle of a group of pictures.
    EXPECT_EQ(ListedDurationsAndParts(dir_ / "card"),
              (std::vector<std::string>{"1.000\t1/1", Seconds(two_.items[0], "1/1"), Seconds(two_.items[1], "1/1"),
                                        Seconds(three_.items[0], "1/1"), Seconds(three_.items[2], "1/1")}));
    Shell("cp " + ShellQuote(two_.files[1]) + " " + ShellQuote(dir_ / "copied.MTS"));
    EXPECT_EQ(ListedDurationsAndParts(dir_.Path()),
              (std::vector<std::string>{Seconds(two_.items[1], "1/1"), Seconds(three_.items[1], "1/1")}));
    // A file that is no stream has no duration; one that cannot be read says so.
    EXPECT_EQ(ReadClipStreamFacts(TestClips().text, true).duration, std::nullopt);
    EXPECT_FALSE(ReadClipStreamFacts(dir_ / "missing.MTS", true).read);
}
