#include "platform/H264Stream.h"
#include "model/RecordingTime.h"
#include "support/LogCapture.h"
#include "support/MdpmClips.h"
#include "support/TempDir.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

using namespace testing_support;

// Readable failures: the fields, not the object's bytes.
static void PrintTo(const RecordingTime& t, std::ostream* out)
{
    *out << t.year << '-' << t.month << '-' << t.day << ' ' << t.hour << ':' << t.minute << ':' << t.second << " zone "
         << t.zoneMinutes << (t.daylightSaving ? " summer" : "");
}

namespace {

RecordingTime Time(int year, int month, int day, int hour, int minute, int second, int zoneMinutes, bool dst = false)
{
    return RecordingTime{year, month, day, hour, minute, second, zoneMinutes, dst};
}

// A few more entries after the date, as cameras write them (and so the data never ends in a
// byte the filter's option parser trims).
const std::string kMoreEntries = std::string("\x70\x41\x42\x43\x44", 5);

// Clips with and without the camera's date, made once for this program.
struct MdpmCase {
    std::string path;
    std::optional<RecordingTime> expected;
};

const std::map<std::string, MdpmCase>& Clips()
{
    static const std::unique_ptr<TempDir> folder = std::make_unique<TempDir>("/tmp");
    static const std::map<std::string, MdpmCase> clips = [] {
        std::map<std::string, MdpmCase> made;
        auto filter = [&](const std::string& name, const std::string& entries, std::optional<RecordingTime> expected,
                          bool m2ts = true) {
            made[name] = {*folder / (name + ".MTS"), expected};
            MakeClipWithMdpm(made[name].path, MdpmData(entries + kMoreEntries), m2ts);
        };
        auto spliced = [&](const std::string& name, const std::string& nal, std::size_t offset,
                           std::optional<RecordingTime> expected) {
            made[name] = {*folder / (name + ".MTS"), expected};
            MakeClipWithNal(made[name].path, nal, offset);
        };
        filter("east", MdpmDate(0x02, 2008, 12, 31, 23, 16, 24), Time(2008, 12, 31, 23, 16, 24, 60));
        filter("west-summer", MdpmDate(0x6a, 2009, 7, 4, 9, 5, 33), Time(2009, 7, 4, 9, 5, 33, -300, true), false);
        filter("half-hour", MdpmDate(0x0b, 2010, 2, 28, 18, 45, 59), Time(2010, 2, 28, 18, 45, 59, 330));
        filter("month-13", MdpmDate(0x02, 2008, 13, 1, 12, 1, 1), std::nullopt);
        std::string badBcd = MdpmDate(0x02, 2008, 12, 1, 12, 1, 1);
        badBcd[7] = '\x1f';  // the hour
        filter("bad-bcd", badBcd, std::nullopt);
        filter("no-day-and-time", MdpmDate(0x02, 2008, 12, 1, 12, 1, 1).substr(0, 5), std::nullopt);
        // Midnight on 1 January 2000 in UTC is all zeros: the stream carries 00 00 03 escapes.
        const std::string zeros = MdpmUuid() + MdpmData(MdpmDate(0x00, 2000, 1, 1, 0, 0, 0));
        spliced("escaped", SeiNal(zeros), 0, Time(2000, 1, 1, 0, 0, 0, 0));
        const std::string east = MdpmUuid() + MdpmData(MdpmDate(0x02, 2011, 5, 6, 7, 8, 9));
        spliced("late", SeiNal(east), 300 * 1024, std::nullopt);
        spliced("cut-short", SeiNal(east, east.size() + 40), 0, std::nullopt);
        return made;
    }();
    return clips;
}

// The bytes of an H.264 stream: a picture's start, the given units, another picture's start.
std::vector<std::uint8_t> Stream(const std::string& units)
{
    const std::string stream = std::string("\0\0\0\x01\x65\x88\x84", 7) + units + std::string("\0\0\x01\x41\x9a", 5);
    return {stream.begin(), stream.end()};
}

RecordingTimeScan ScanUnits(const std::string& units)
{
    const std::vector<std::uint8_t> bytes = Stream(units);
    return ScanVideoStream(bytes);
}

std::string Mdpm(const std::string& entries, int count = -1)
{
    return SeiNal(MdpmUuid() + MdpmData(entries, count));
}

}  // namespace

TEST(RecordingTimeTest, ClipsGiveTheCamerasDateOrNone)
{
    TakeLogMessages();
    for (const auto& [name, clip] : Clips()) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadRecordingTime(clip.path), clip.expected);
    }
    // The damaged dates are told in the log; clips without one are not.
    const std::vector<std::string> lines = TakeLogMessages();
    for (const char* name : {"month-13", "bad-bcd", "no-day-and-time", "cut-short"})
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) { return line.find(Clips().at(name).path) != std::string::npos; }),
                  1)
            << name;
    EXPECT_EQ(lines.size(), 4u);
}

TEST(RecordingTimeTest, ADateBeyondTheReadLimitIsNotRead)
{
    // The clip does carry one: the whole file shows it, the reader's first 256 KB do not.
    const std::string bytes = ReadFile(Clips().at("late").path);
    ASSERT_GT(bytes.size(), kRecordingTimeReadLimit);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_EQ(ScanRecordingTime({data, bytes.size()}).time, Time(2011, 5, 6, 7, 8, 9, 60));
    EXPECT_FALSE(ScanRecordingTime({data, kRecordingTimeReadLimit}).settled);
    EXPECT_EQ(ReadRecordingTime(Clips().at("late").path), std::nullopt);
}

TEST(RecordingTimeTest, FilesThatAreNoClipsGiveNoneAtOnce)
{
    TempDir dir;
    WriteFile(dir / "empty.MTS", "");
    WriteFile(dir / "text.MTS", "MDPM is not a date, and this is no clip.\n");
    ASSERT_EQ(mkfifo((dir / "fifo.MTS").c_str(), 0600), 0);  // opening it would wait for a writer
    for (const char* name : {"empty.MTS", "text.MTS", "fifo.MTS", "missing.MTS"})
        EXPECT_EQ(ReadRecordingTime(dir / name), std::nullopt) << name;
}

TEST(RecordingTimeTest, StreamBytesWithLengthsAndEntriesThatLieOrSurprise)
{
    const std::string date = MdpmDate(0x02, 2008, 12, 31, 23, 16, 24);
    const RecordingTime expected = Time(2008, 12, 31, 23, 16, 24, 60);

    // A long payload: its size takes more than one byte, and the date comes after other tags.
    std::string many;
    for (int tag = 0x01; tag < 0x18; ++tag)
        many += std::string{static_cast<char>(tag), '\x11', '\x22', '\x33', '\x44'};
    for (int i = 0; i < 40; ++i)
        many += std::string("\xe0\x01\x02\x03\x04", 5);
    EXPECT_EQ(ScanUnits(Mdpm(many.substr(0, 23 * 5) + date + many.substr(23 * 5))).time, expected);

    // Counts that lie: more entries claimed than there are, or fewer than the date needs.
    EXPECT_EQ(ScanUnits(Mdpm(date, 3)).time, std::nullopt);
    EXPECT_TRUE(ScanUnits(Mdpm(date, 3)).settled);
    EXPECT_EQ(ScanUnits(Mdpm(date, 1)).time, std::nullopt);

    // The first date decides, even a damaged one; metadata without a date does not.
    const std::string damaged = MdpmDate(0x02, 2009, 2, 29, 10, 0, 0);  // no 29 February in 2009
    EXPECT_EQ(ScanUnits(Mdpm(damaged) + Mdpm(date)).time, std::nullopt);
    EXPECT_EQ(ScanUnits(Mdpm(std::string("\xe0\x01\x02\x03\x04", 5)) + Mdpm(date)).time, expected);
    EXPECT_EQ(ScanUnits(Mdpm(MdpmDate(0x02, 2008, 2, 29, 10, 0, 0))).time, Time(2008, 2, 29, 10, 0, 0, 60));

    // Another maker's user data saying "MDPM" is not the camera's.
    std::string otherUuid = MdpmUuid();
    otherUuid[0] = '\x18';
    EXPECT_EQ(ScanUnits(SeiNal(otherUuid + MdpmData(date))).time, std::nullopt);

    // Bytes that end inside the unit are not settled: more bytes may complete it.
    const std::string unit = Mdpm(date);
    for (std::size_t cut : {std::size_t{10}, unit.size() - 12, unit.size() - 2}) {
        const std::string cutOff = std::string("\0\0\0\x01\x65\x88\x84", 7) + unit.substr(0, cut);
        const RecordingTimeScan scan =
            ScanVideoStream({reinterpret_cast<const std::uint8_t*>(cutOff.data()), cutOff.size()});
        EXPECT_FALSE(scan.settled) << cut;
        EXPECT_EQ(scan.time, std::nullopt);
    }
}

namespace {

// The bits of a sequence parameter set, written as an encoder writes them.
class SpsWriter {
public:
    void Bits(std::uint64_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i)
            bits_.push_back(((value >> i) & 1) != 0);
    }
    void Unsigned(std::uint64_t value)
    {
        int length = 0;
        while ((value + 1) >> (length + 1) != 0)
            ++length;
        Bits(0, length);
        Bits(value + 1, length + 1);
    }
    void Signed(std::int64_t value) { Unsigned(value > 0 ? 2 * static_cast<std::uint64_t>(value) - 1 : -2 * value); }
    // A High profile set with one 4x4 scaling list whose first step is `delta` (not one that ends
    // the list), and a frame rate
    // of 25 pictures a second.
    static std::vector<std::uint8_t> WithScalingStep(std::int64_t delta)
    {
        SpsWriter sps;
        sps.Bits(0x67, 8);
        sps.Bits(100, 8), sps.Bits(40, 16), sps.Unsigned(0);  // profile, constraints and level, id
        sps.Unsigned(1), sps.Unsigned(0), sps.Unsigned(0), sps.Bits(0, 1);  // 4:2:0, 8 bits
        sps.Bits(1, 1), sps.Bits(1, 1);  // a scaling matrix, whose first list is present
        sps.Signed(delta);
        for (int j = 1; j < 16; ++j)
            sps.Signed(0);
        sps.Bits(0, 7);  // the other lists are absent
        sps.Unsigned(0), sps.Unsigned(0), sps.Unsigned(0), sps.Unsigned(4), sps.Bits(0, 1);
        sps.Unsigned(119), sps.Unsigned(67), sps.Bits(1, 1), sps.Bits(1, 1), sps.Bits(0, 1);  // 1920 x 1088
        sps.Bits(1, 1), sps.Bits(0, 4), sps.Bits(1, 1), sps.Bits(1, 32), sps.Bits(50, 32);  // VUI timing
        sps.Bits(1, 1);
        while (sps.bits_.size() % 8 != 0)
            sps.Bits(0, 1);
        std::vector<std::uint8_t> stream = {0, 0, 1};
        int zeros = 0;
        for (std::size_t at = 0; at < sps.bits_.size(); at += 8) {
            std::uint8_t byte = 0;
            for (int i = 0; i < 8; ++i)
                byte = static_cast<std::uint8_t>(byte << 1 | sps.bits_[at + i]);
            if (zeros >= 2 && byte <= 3) {
                stream.push_back(3);  // emulation prevention
                zeros = 0;
            }
            stream.push_back(byte);
            zeros = byte == 0 ? zeros + 1 : 0;
        }
        stream.insert(stream.end(), {0, 0, 1, 0x68});  // the picture parameter set that follows
        return stream;
    }

private:
    std::vector<bool> bits_;
};

}  // namespace

// A scaling list step of a hostile stream, far outside what a set may hold, fails the set
// instead of overflowing the sum; real steps leave the frame rate readable.
TEST(RecordingTimeTest, AScalingListStepBeyondItsRangeFailsTheSet)
{
    EXPECT_EQ(h264::PictureTicks(SpsWriter::WithScalingStep(-7)), std::optional<std::uint64_t>(3600));
    EXPECT_EQ(h264::PictureTicks(SpsWriter::WithScalingStep(127)), std::optional<std::uint64_t>(3600));
    for (const std::int64_t hostile : {std::int64_t{128}, std::int64_t{-129}, std::int64_t{2147483647}, std::int64_t{-2147483647}})
        EXPECT_EQ(h264::PictureTicks(SpsWriter::WithScalingStep(hostile)), std::nullopt) << hostile;
}
