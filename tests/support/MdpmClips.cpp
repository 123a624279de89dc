#include "support/MdpmClips.h"

#include "support/Clips.h"
#include "support/TempDir.h"

#include <stdexcept>

namespace testing_support {

namespace {

char Bcd(int value)
{
    return static_cast<char>((value / 10) << 4 | value % 10);
}

std::string SeiValue(std::size_t value)
{
    std::string coded(value / 255, '\xff');
    return coded + static_cast<char>(value % 255);
}

// Inserts 03 wherever two zero bytes are followed by a byte of 3 or less.
std::string WithEmulationPrevention(const std::string& rbsp)
{
    std::string nal;
    int zeros = 0;
    for (const char c : rbsp) {
        if (zeros >= 2 && static_cast<unsigned char>(c) <= 3) {
            nal += '\x03';
            zeros = 0;
        }
        nal += c;
        zeros = c == '\0' ? zeros + 1 : 0;
    }
    return nal;
}

// Index of the start code (its first zero byte) of the first picture at or after `from`.
std::size_t FirstPictureAt(const std::string& stream, std::size_t from)
{
    for (std::size_t i = from; i + 3 < stream.size(); ++i) {
        const int type = stream[i + 3] & 0x1f;
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && (type == 1 || type == 5))
            return i > 0 && stream[i - 1] == 0 ? i - 1 : i;
    }
    throw std::runtime_error("no picture in the stream after the offset");
}

const char* kVideo = "testsrc2=size=1920x1080:rate=25:duration=1";

}  // namespace

std::string MdpmUuid()
{
    return std::string("\x17\xee\x8c\x60\xf8\x4d\x11\xd9\x8c\xd6\x08\x00\x20\x0c\x9a\x66", 16);
}

std::string MdpmDate(std::uint8_t zone, int year, int month, int day, int hour, int minute, int second)
{
    return std::string{'\x18', static_cast<char>(zone), Bcd(year / 100), Bcd(year % 100), Bcd(month),
                       '\x19', Bcd(day), Bcd(hour), Bcd(minute), Bcd(second)};
}

std::string MdpmData(const std::string& entries, int count)
{
    return "MDPM" + std::string(1, static_cast<char>(count < 0 ? entries.size() / 5 : count)) + entries;
}

std::string SeiNal(const std::string& payload, std::size_t declaredSize)
{
    const std::string rbsp = std::string("\x06\x05", 2) + SeiValue(std::max(declaredSize, payload.size())) +
                             payload + '\x80';
    return std::string("\0\0\0\x01", 4) + WithEmulationPrevention(rbsp);
}

void MakeClipWithMdpm(const std::string& path, const std::string& data, bool m2ts)
{
    if (data.find_first_of(std::string("\0,:=\\'", 6)) != std::string::npos || data.back() == ' ')
        throw std::invalid_argument("the filter's option syntax cannot carry these bytes");
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=1 "
        "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -bsf:v " +
        ShellQuote("h264_metadata=sei_user_data=17ee8c60-f84d-11d9-8cd6-0800200c9a66+" + data) + " -f mpegts " +
        (m2ts ? "-mpegts_m2ts_mode 1 " : "") + ShellQuote(path);
    if (Shell(command) != 0)
        throw std::runtime_error("ffmpeg could not make " + path);
}

void MakeDatedClip(const std::string& path, std::uint8_t zone, int year, int month, int day, int hour, int minute,
                   int second)
{
    // A further entry after the date, as cameras write them.
    MakeClipWithMdpm(path, MdpmData(MdpmDate(zone, year, month, day, hour, minute, second) + "\x70\x41\x42\x43\x44"));
}

void MakeClipWithNal(const std::string& path, const std::string& nal, std::size_t streamOffset)
{
    const std::string raw = path + ".h264";
    if (Shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i " + std::string(kVideo) +
              " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -f h264 " + ShellQuote(raw)) != 0)
        throw std::runtime_error("ffmpeg could not make " + raw);
    std::string stream = ReadFile(raw);
    stream.insert(FirstPictureAt(stream, streamOffset), nal);
    WriteFile(raw, stream);
    const int status = Shell("ffmpeg -nostdin -loglevel error -y -framerate 25 -i " + ShellQuote(raw) +
                             " -c copy -f mpegts -mpegts_m2ts_mode 1 " + ShellQuote(path));
    std::remove(raw.c_str());
    if (status != 0)
        throw std::runtime_error("ffmpeg could not mux " + path);
}

}  // namespace testing_support
