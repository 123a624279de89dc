// Importing a card's recordings, as the import meets real files and real failures: a card served
// through FUSE that is pulled mid-read or cannot read one file, destinations on small tmpfs that
// are full or read-only, the real SQLite database, and sha256sum checking each folder's manifest.
#include "import/ImportJob.h"
#include "import/ImportNames.h"
#include "import/Importer.h"
#include "import/RecordingCopy.h"
#include "support/CameraCard.h"
#include "support/CardPlaylists.h"
#include "support/Clips.h"
#include "support/FailingFs.h"
#include "support/MdpmClips.h"
#include "support/TempDir.h"
#include "platform/FileSystem.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// A card: two recordings made in the same second (the camera's clock, 5:30 east of UTC), one
// split across two files by the camera, with its playlist.
struct Card {
    std::string root, stream;
    SplitRecording split;
};

Card MakeCard(const std::string& root)
{
    Card card{root, root + "/PRIVATE/AVCHD/BDMV/STREAM", {}};
    MakeDirs(card.stream);
    MakeDatedClip(card.stream + "/00000.MTS", 0x0b, 2010, 2, 28, 18, 45, 59);
    MakeDatedClip(card.stream + "/00001.MTS", 0x0b, 2010, 2, 28, 18, 45, 59);
    WriteFile(card.stream + "/00001.MTS", ReadFile(card.stream + "/00001.MTS") + std::string(1920, '\xff'));
    card.split = MakeSplitRecording(card.stream, 2, {"red", "blue"});
    for (const std::string& file : card.split.files)
        SetModificationTime(file, 1236434709);  // 2009-03-07 14:05:09 UTC
    std::vector<PlaylistItem> items{{"00000", 1, 0, 45000}, {"00001", 1, 0, 45000}};
    items.insert(items.end(), card.split.items.begin(), card.split.items.end());
    WritePlaylist(root + "/PRIVATE/AVCHD/BDMV", items);
    return card;
}

// Every file below a folder, by path relative to it.
std::set<std::string> FilesBelow(const std::string& folder)
{
    std::set<std::string> files;
    const std::string list = folder + "/.list";
    Shell("cd " + ShellQuote(folder) + " && find . -type f ! -name .list | sort > .list");
    std::string text = ReadFile(list);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        files.insert(text.substr(start + 2, end - start - 2));
    unlink(list.c_str());
    return files;
}

struct Importing {
    std::string catalog;
    std::string destination;

    ImportReport Run(const std::string& folder, const ImportProgressListener& progress = {}) const
    {
        ImportRequest request;
        request.recordings = FindCardRecordings(folder);
        request.destination = destination;
        request.pattern = "%Y/%Y-%m-%d/%Y-%m-%d %H-%M-%S";
        request.source = folder;
        request.catalogPath = catalog;
        std::atomic<bool> cancel{false};
        return RunImport(request, progress, cancel);
    }
};

std::string Outcomes(const ImportReport& report)
{
    std::string text;
    for (const RecordingImport& item : report.recordings)
        text += item.outcome == ImportOutcome::Imported ? 'I' : item.outcome == ImportOutcome::Already ? 'A' : 'F';
    return text;
}

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!CanMount())
            GTEST_SKIP() << "mounting FUSE and tmpfs needs root and /dev/fuse";
        tzset();
    }
    TempDir dir;
    ScopedEnv zone{"TZ", "UTC"};
    ScopedEnv config{"XDG_CONFIG_HOME", dir / "config"};
};

}  // namespace

TEST(ImportNamesTest, PatternsGiveNamesThatFatAndNtfsTakeAndNumberedOnes)
{
    NameTime time;
    time.fields.tm_year = 110, time.fields.tm_mon = 1, time.fields.tm_mday = 28;
    time.fields.tm_hour = 18, time.fields.tm_min = 45, time.fields.tm_sec = 59;
    EXPECT_EQ(ExpandImportName("%Y/%Y-%m-%d/%Y-%m-%d %H-%M-%S", time, ".mts"), "2010/2010-02-28/2010-02-28 18-45-59.mts");
    // Refused characters, a time with colons, "..", device names, trailing dots and non-UTF-8 bytes.
    EXPECT_EQ(ExpandImportName("/../a<b>|c?/%H:%M*\"x\"\\/con/nul.txt/end. /\xff\xc3\xa9", time, ".m2ts"),
              "_/a_b__c_/18_45__x__/_con/_nul.txt/end._/_\xc3\xa9.m2ts");
    EXPECT_EQ(ExpandImportName("", time, ".mts"), "2010-02-28 18-45-59.mts");
    EXPECT_EQ(ExpandImportName(std::string(400, 'x'), time, ".mts").size(), 255u - 6u);
    EXPECT_EQ(NumberedName("2010/a b.mts", 2), "2010/a b (2).mts");
    EXPECT_EQ(NumberedName("2010.x/noext", 3), "2010.x/noext (3)");
    std::string problem;
    EXPECT_FALSE(IsUsableNamePattern("//", problem));
}

TEST_F(ImportTest, ACardWalksThroughImportSecondImportCopiesALostDatabaseAPullAndAResume)
{
    const Card card = MakeCard(dir / "card");
    FailingFs fs(card.root, dir / "mnt");
    ASSERT_TRUE(fs.Mounted());
    const std::string mounted = dir / "mnt";
    const Importing importing{dir / "data/imports.sqlite", dir / "Videos"};
    // A different file already has the first recording's name: it is never replaced.
    const std::string day = importing.destination + "/2010/2010-02-28";
    WriteFile(day + "/2010-02-28 18-45-59.mts", "someone else's file");

    // The first import runs on a thread of its own, as the window runs it.
    std::vector<std::string> parts = {card.stream + "/00000.MTS", card.stream + "/00001.MTS"};
    ImportRequest request;
    request.recordings = FindCardRecordings(mounted);
    request.destination = importing.destination;
    request.pattern = "%Y/%Y-%m-%d/%Y-%m-%d %H-%M-%S";
    request.source = mounted;
    request.catalogPath = importing.catalog;
    CImportJob job(request);
    std::uint64_t seenWork = 0;
    while (!job.Finished()) {
        seenWork = std::max(seenWork, job.Progress().workDone);
        std::this_thread::sleep_for(1ms);
    }
    const ImportReport first = *job.TakeReport();
    EXPECT_EQ(Outcomes(first), "III") << first.Message();
    EXPECT_GT(seenWork, 0u);
    const std::string joined = importing.destination + "/2009/2009-03-07/2009-03-07 14-05-09.mts";
    EXPECT_EQ(FilesBelow(importing.destination),
              (std::set<std::string>{"2010/2010-02-28/2010-02-28 18-45-59.mts", "2010/2010-02-28/2010-02-28 18-45-59 (2).mts",
                                     "2010/2010-02-28/2010-02-28 18-45-59 (3).mts", "2010/2010-02-28/SHA256SUMS",
                                     "2009/2009-03-07/2009-03-07 14-05-09.mts", "2009/2009-03-07/SHA256SUMS"}));
    EXPECT_EQ(ReadFile(day + "/2010-02-28 18-45-59.mts"), "someone else's file");
    EXPECT_EQ(ReadFile(day + "/2010-02-28 18-45-59 (2).mts"), ReadFile(parts[0]));
    EXPECT_EQ(ReadFile(day + "/2010-02-28 18-45-59 (3).mts"), ReadFile(parts[1]));
    EXPECT_EQ(ReadFile(joined), ReadFile(card.split.files[0]) + ReadFile(card.split.files[1]));
    struct stat info {};
    ASSERT_EQ(stat((day + "/2010-02-28 18-45-59 (2).mts").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1267362959);  // 18:45:59 at UTC+05:30
    ASSERT_EQ(stat(joined.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1236434709);
    for (const char* folder : {"/2010/2010-02-28", "/2009/2009-03-07"})
        EXPECT_EQ(Shell("cd " + ShellQuote(importing.destination + folder) + " && sha256sum --quiet -c SHA256SUMS"), 0);
    EXPECT_NE(first.Message().find("Imported 3 recordings"), std::string::npos) << first.Message();
    EXPECT_NE(first.Message().find("the card can be formatted"), std::string::npos);

    // Imported before: through the mount, from the card's own folder, and with the database gone.
    EXPECT_EQ(Outcomes(importing.Run(mounted)), "AAA");
    EXPECT_EQ(Outcomes(importing.Run(card.root)), "AAA");
    ASSERT_EQ(unlink(importing.catalog.c_str()), 0);
    const ImportReport rebuilt = importing.Run(mounted);
    EXPECT_EQ(Outcomes(rebuilt), "AAA") << rebuilt.Message();
    EXPECT_EQ(rebuilt.recordings[1].path, day + "/2010-02-28 18-45-59 (3).mts");
    EXPECT_EQ(rebuilt.Message(), "All 3 recordings were imported before. Every recording of the card is imported and "
                                 "verified: the card can be formatted.");
    // The grid's lookup finds them in the database made again.
    CImportLookup lookup;
    std::vector<std::pair<int, CardRecording>> recordings;
    for (CardRecording& recording : FindCardRecordings(mounted))
        recordings.emplace_back(static_cast<int>(recordings.size()), std::move(recording));
    lookup.Start(recordings, importing.catalog);
    while (!lookup.Finished())
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(lookup.TakeResults(), (std::map<int, std::string>{{0, day + "/2010-02-28 18-45-59 (2).mts"},
                                                                 {1, day + "/2010-02-28 18-45-59 (3).mts"},
                                                                 {2, joined}}));

    // Two more recordings; the card is pulled while the first of them is copied.
    ASSERT_EQ(Shell("cp " + ShellQuote(TestClips().interlaced1080) + " " + ShellQuote(card.stream + "/00004.MTS") +
                    " && cp " + ShellQuote(TestClips().progressive720) + " " + ShellQuote(card.stream + "/00005.MTS")),
              0);
    SetModificationTime(card.stream + "/00004.MTS", 1300000000);
    SetModificationTime(card.stream + "/00005.MTS", 1300000060);
    const ImportReport pulled = importing.Run(mounted, [&](const ImportProgress& progress) {
        if (progress.label == "00004.MTS" && progress.workDone == 0)
            fs.PullAfter(0);
    });
    EXPECT_EQ(Outcomes(pulled), "AAAFF") << pulled.Message();
    EXPECT_EQ(pulled.recordings[3].problem, "the card was removed");
    EXPECT_NE(pulled.Message().find("The import stopped: the card was removed. No recording was imported. 3 recordings "
                                    "were imported before. Not imported: 00004.MTS (the card was removed), 00005.MTS "
                                    "(not tried). Nothing was left half-copied"),
              std::string::npos)
        << pulled.Message();
    EXPECT_EQ(FilesBelow(importing.destination).size(), 6u);  // nothing new, no temporary file

    // Put back: the next import takes only what is missing.
    fs.PutBack();
    const ImportReport resumed = importing.Run(mounted);
    EXPECT_EQ(Outcomes(resumed), "AAAII") << resumed.Message();
    EXPECT_EQ(FilesBelow(importing.destination).size(), 9u);
    EXPECT_EQ(ReadFile(importing.destination + "/2011/2011-03-13/2011-03-13 07-06-40.mts"), ReadFile(card.stream + "/00004.MTS"));
    EXPECT_TRUE(resumed.Complete());
}

TEST_F(ImportTest, AFullUnwritableOrFailingDestinationOrCardLeavesNothingHalfDoneAndTheNextImportCompletes)
{
    // Three recordings of 3 MB each, without a camera time.
    const std::string card = dir / "card";
    for (int i = 0; i < 3; ++i) {
        const std::string clip = card + "/0000" + std::to_string(i) + ".MTS";
        ASSERT_EQ(Shell("head -c 3000000 /dev/urandom > " + ShellQuote((MakeDirs(card), clip))), 0);
        SetModificationTime(clip, 1300000000 + 60 * i);
    }
    Importing importing{dir / "data/imports.sqlite", dir / "small"};

    // Checked before starting: 9 MB do not fit in 8, and nothing is written.
    {
        SmallTmpfs small(importing.destination, 8);
        ASSERT_TRUE(small.Mounted());
        const ImportReport refused = importing.Run(card);
        EXPECT_EQ(Outcomes(refused), "FFF");
        EXPECT_NE(refused.Message().find("The import stopped: the destination " + importing.destination + " has 8.0 MB free, "
                                         "and the recordings need 8.6 MB. No recording was imported. Not imported: "
                                         "00000.MTS (not tried), 00001.MTS (not tried), 00002.MTS (not tried)."),
                  std::string::npos)
            << refused.Message();
        EXPECT_TRUE(FilesBelow(importing.destination).empty());
    }
    // Full anyway: once the first is in, another program takes the space.
    {
        SmallTmpfs small(importing.destination, 10);
        const ImportReport full = importing.Run(card, [&](const ImportProgress& progress) {
            if (progress.current == 2 && !platform::FileExists(importing.destination + "/filler"))
                Shell("head -c 5000000 /dev/zero > " + ShellQuote(importing.destination + "/filler"));
        });
        EXPECT_EQ(Outcomes(full), "IFF") << full.Message();
        EXPECT_EQ(full.recordings[1].problem, "the destination is full");
        EXPECT_NE(full.Message().find("The import stopped: the destination is full"), std::string::npos);
        EXPECT_EQ(FilesBelow(importing.destination),
                  (std::set<std::string>{"filler", "2011/2011-03-13/2011-03-13 07-06-40.mts", "2011/2011-03-13/SHA256SUMS"}));
        unlink((importing.destination + "/filler").c_str());
        EXPECT_EQ(Outcomes(importing.Run(card)), "AII");
    }
    // Not writable.
    {
        SmallTmpfs readOnly(importing.destination, 10, true);
        const ImportReport refused = importing.Run(card);
        EXPECT_EQ(Outcomes(refused), "FFF");
        EXPECT_NE(refused.Message().find("cannot be written: Read-only file system"), std::string::npos) << refused.Message();
    }
    // One recording the card cannot read: the others go on, and the next import takes it.
    importing.destination = dir / "disk";
    FailingFs fs(card, dir / "mnt");
    fs.FailReadsOf("00001.MTS");
    const ImportReport oneBad = importing.Run(dir / "mnt");
    EXPECT_EQ(Outcomes(oneBad), "IFI") << oneBad.Message();
    EXPECT_EQ(oneBad.recordings[1].problem, "cannot read " + dir / "mnt/00001.MTS" + ": Input/output error");
    fs.FailReadsOf("");
    EXPECT_EQ(Outcomes(importing.Run(dir / "mnt")), "AIA");
}

TEST_F(ImportTest, ATemporaryFileIsRemovedWhenCancelledAndWhenFoundAbandoned)
{
    const std::string card = dir / "card";
    ASSERT_EQ(Shell("mkdir -p " + ShellQuote(card) + " && head -c 20000000 /dev/urandom > " + ShellQuote(card + "/00000.MTS")), 0);
    SetModificationTime(card + "/00000.MTS", 1300000000);
    FailingFs fs(card, dir / "mnt");
    Importing importing{dir / "data/imports.sqlite", dir / "out"};
    fs.HoldAfter(8 * 1024 * 1024);
    ImportRequest request;
    request.recordings = FindCardRecordings(dir / "mnt");
    request.destination = importing.destination;
    request.pattern = "%Y/%Y-%m-%d/%Y-%m-%d %H-%M-%S";
    request.source = dir / "mnt";
    request.catalogPath = importing.catalog;
    {
        CImportJob job(request);
        while (!fs.Holding())
            std::this_thread::sleep_for(1ms);
        ASSERT_EQ(FilesBelow(importing.destination).size(), 1u);
        job.Cancel();
        fs.Release();
        job.Wait();
        const ImportReport cancelled = *job.TakeReport();
        EXPECT_TRUE(cancelled.cancelled);
        EXPECT_EQ(cancelled.Message().rfind("The import was cancelled. No recording was imported. Not imported: "
                                            "00000.MTS (cancelled).", 0), 0u) << cancelled.Message();
        EXPECT_TRUE(FilesBelow(importing.destination).empty());
    }
    // One left by a power cut: its lock is gone with its writer, and the next import removes it.
    const std::string folder = importing.destination + "/2011/2011-03-13";
    WriteFile(folder + "/.viewmere-import-0123456789abcdef.part", "half");
    EXPECT_EQ(Outcomes(importing.Run(dir / "mnt")), "I");
    EXPECT_EQ(FilesBelow(importing.destination),
              (std::set<std::string>{"2011/2011-03-13/2011-03-13 07-06-40.mts", "2011/2011-03-13/SHA256SUMS"}));
}

// A card of today's cameras: each MP4 clip is one recording, named and dated by the time the grid
// shows for it (its description's, its movie header's, else its file's), whatever its kind.
TEST(ImportVideoClipsTest, EachMp4ClipIsOneRecordingNamedByTheTimeTheGridShows)
{
    TempDir dir;
    const ScopedEnv zone("TZ", "UTC"), config("XDG_CONFIG_HOME", dir / "config");
    tzset();
    const CameraCard card = WriteCameraCard(dir / "card");
    const Importing importing{dir / "data/imports.sqlite", dir / "Videos"};
    const ImportReport report = importing.Run(card.root);
    EXPECT_EQ(Outcomes(report), "IIIIIII") << report.Message();
    const std::string& to = importing.destination;
    EXPECT_EQ(FilesBelow(to),
              (std::set<std::string>{"2010/2010-02-28/2010-02-28 18-45-59.mts", "2009/2009-03-07/2009-03-07 14-05-09.mts",
                                     "2016/2016-01-03/2016-01-03 06-10-57.mp4", "2016/2016-01-04/2016-01-04 08-00-00.mp4",
                                     "2021/2021-08-02/2021-08-02 07-00-00.mp4", "2022/2022-05-06/2022-05-06 10-20-30.mov",
                                     "2009/2009-03-07/2009-03-07 14-05-09.mp4", "2010/2010-02-28/SHA256SUMS",
                                     "2009/2009-03-07/SHA256SUMS", "2016/2016-01-03/SHA256SUMS", "2016/2016-01-04/SHA256SUMS",
                                     "2021/2021-08-02/SHA256SUMS", "2022/2022-05-06/SHA256SUMS"}));
    EXPECT_EQ(ReadFile(to + "/2016/2016-01-03/2016-01-03 06-10-57.mp4"), ReadFile(card.xavcDescribed));
    EXPECT_EQ(ReadFile(to + "/2009/2009-03-07/2009-03-07 14-05-09.mp4"), ReadFile(card.dcimDamaged));
    struct stat info {};
    ASSERT_EQ(stat((to + "/2016/2016-01-03/2016-01-03 06-10-57.mp4").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1451815857);  // 06:10:57 at UTC-04:00
    EXPECT_EQ(Outcomes(importing.Run(card.root)), "AAAAAAA");
}
