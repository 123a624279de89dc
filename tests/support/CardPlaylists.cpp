#include "support/CardPlaylists.h"

#include "support/Clips.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

std::string Be16(unsigned value)
{
    return {static_cast<char>(value >> 8 & 0xff), static_cast<char>(value & 0xff)};
}

std::string Be32(std::uint32_t value)
{
    return Be16(value >> 16) + Be16(value & 0xffff);
}

std::string PlayItemBytes(const PlaylistItem& item)
{
    // After the STC id and the times: the user operation mask, the random access flag and still
    // mode, and an empty stream table.
    const std::string body = item.clip + "M2TS" + Be16(static_cast<unsigned>(item.connection) & 0x0f) + '\0' +
                             Be32(item.inTime) + Be32(item.outTime) + std::string(12, '\0') + Be16(14) +
                             std::string(14, '\0');
    return Be16(static_cast<unsigned>(body.size())) + body;
}

// One video packet of a stream, as ffprobe lists it.
struct Packet {
    long long pts = 0;
    long long position = 0;
};

std::vector<Packet> VideoPackets(const std::string& file)
{
    const std::string list = file + ".packets";
    if (Shell("ffprobe -v error -select_streams v:0 -show_entries packet=pts,pos -of csv=p=0 " + ShellQuote(file) +
              " > " + ShellQuote(list)) != 0)
        throw std::runtime_error("ffprobe could not list " + file);
    std::vector<Packet> packets;
    std::ifstream in(list);
    for (std::string line; std::getline(in, line);) {
        Packet packet;
        char comma = 0;
        std::istringstream fields(line);
        if (fields >> packet.pts >> comma >> packet.position)
            packets.push_back(packet);
    }
    std::remove(list.c_str());
    return packets;
}

// The stream a split recording is cut from: a second of each colour at 25 pictures a second.
const std::string& SourceStream(const std::vector<std::string>& colours)
{
    static const std::unique_ptr<TempDir> folder = std::make_unique<TempDir>("/tmp");
    static std::map<std::vector<std::string>, std::string> made;
    std::string& file = made[colours];
    if (!file.empty())
        return file;
    std::string graph, inputs;
    for (std::size_t i = 0; i < colours.size(); ++i) {
        graph += "color=c=" + colours[i] + ":s=640x360:r=25:d=1[c" + std::to_string(i) + "];";
        inputs += "[c" + std::to_string(i) + "]";
    }
    graph += inputs + "concat=n=" + std::to_string(colours.size()) + ":v=1:a=0";
    file = *folder / ("source" + std::to_string(made.size()) + ".MTS");
    const std::string seconds = std::to_string(colours.size());
    if (Shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i " + ShellQuote(graph) + " -f lavfi -i sine=frequency=440:duration=" +
              seconds + " -c:v libx264 -preset veryfast -pix_fmt yuv420p -x264opts keyint=12:min-keyint=12:scenecut=0 "
              "-c:a ac3 -b:a 192k -f mpegts -mpegts_m2ts_mode 1 " + ShellQuote(file)) != 0)
        throw std::runtime_error("ffmpeg could not make " + file);
    return file;
}

}  // namespace

std::string PlaylistBytes(const std::vector<PlaylistItem>& items)
{
    // The header with the offsets of the play list and the marks (no extension data), and the
    // application info: sequential playback, nothing masked.
    const std::string head = std::string(20, '\0') + Be32(14) + '\0' + '\x01' + std::string(12, '\0');
    std::string list = Be16(0) + Be16(static_cast<unsigned>(items.size())) + Be16(0);  // no sub-paths
    std::string marks;
    int starts = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        list += PlayItemBytes(items[i]);
        if (items[i].connection != 6 && ++starts)  // an entry mark where a recording starts
            marks += std::string(1, '\0') + '\x01' + Be16(static_cast<unsigned>(i)) + Be32(items[i].inTime) +
                     Be16(0x1011) + Be32(0);
    }
    const std::uint32_t listAt = 20 + static_cast<std::uint32_t>(head.size());
    const std::uint32_t marksAt = listAt + 4 + static_cast<std::uint32_t>(list.size());
    return "MPLS0200" + Be32(listAt) + Be32(marksAt) + Be32(0) + head + Be32(static_cast<std::uint32_t>(list.size())) +
           list + Be32(static_cast<std::uint32_t>(marks.size()) + 2) + Be16(static_cast<unsigned>(starts)) + marks;
}

void WritePlaylist(const std::string& bdmv, const std::vector<PlaylistItem>& items)
{
    WriteFile(bdmv + "/PLAYLIST/00000.MPL", PlaylistBytes(items));
}

SplitRecording MakeSplitRecording(const std::string& folder, int first, const std::vector<std::string>& colours)
{
    const std::string& source = SourceStream(colours);
    const std::vector<Packet> packets = VideoPackets(source);
    const std::string bytes = ReadFile(source);
    // Each colour change is cut five pictures later, inside a group of 12 (decode order).
    std::vector<long long> cuts{0};
    for (std::size_t part = 1; part < colours.size(); ++part)
        cuts.push_back(packets.at(25 * part + 5).position / 192 * 192);
    cuts.push_back(static_cast<long long>(bytes.size()));

    // A file's IN is where its first picture (in decode order) is shown, its OUT where the next
    // file takes over: the files of a recording meet without a gap, 1/25 s a picture.
    long long start = packets.front().pts;
    for (const Packet& packet : packets)
        start = std::min(start, packet.pts);
    auto shownAt = [&](long long cut) {
        const auto picture = std::count_if(packets.begin(), packets.end(), [&](const Packet& p) { return p.position < cut; });
        return static_cast<std::uint32_t>((start + 3600 * picture) / 2);  // 45 kHz from 90 kHz
    };
    SplitRecording recording;
    for (std::size_t part = 0; part < colours.size(); ++part) {
        char name[16];
        std::snprintf(name, sizeof name, "%05d", first + static_cast<int>(part));
        const std::string file = folder + "/" + name + ".MTS";
        WriteFile(file, bytes.substr(static_cast<std::size_t>(cuts[part]),
                                     static_cast<std::size_t>(cuts[part + 1] - cuts[part])));
        recording.items.push_back(PlaylistItem{name, part == 0 ? 1 : 6, shownAt(cuts[part]), shownAt(cuts[part + 1])});
        recording.files.push_back(file);
    }
    return recording;
}

}  // namespace testing_support
