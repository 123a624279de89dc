#pragma once
// A card's playlist (BDMV/PLAYLIST/00000.MPL) naming clips 00000 to clips - 1 as one-second play
// items, in the layout cameras write; `continues(i)` says which items continue the recording
// before them (connection 6), as a camera marks a recording it split at its file-size limit.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace bench {

inline std::string CardPlaylist(int clips, const std::function<bool(int)>& continues = {})
{
    auto be16 = [](std::string& out, unsigned v) { out += static_cast<char>(v >> 8 & 0xff), out += static_cast<char>(v & 0xff); };
    auto be32 = [&](std::string& out, std::uint32_t v) { be16(out, v >> 16), be16(out, v & 0xffff); };
    std::string list;
    be16(list, 0), be16(list, static_cast<unsigned>(clips)), be16(list, 0);
    for (int i = 0; i < clips; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "%05d", i);
        std::string item = std::string(name) + "M2TS";
        be16(item, continues && continues(i) ? 6 : 1), item += '\0', be32(item, 0), be32(item, 45000);
        item += std::string(12, '\0'), be16(item, 14), item += std::string(14, '\0');
        be16(list, static_cast<unsigned>(item.size())), list += item;
    }
    std::string bytes = "MPLS0200";
    const std::uint32_t listAt = 40, marksAt = listAt + 4 + static_cast<std::uint32_t>(list.size());
    be32(bytes, listAt), be32(bytes, marksAt), be32(bytes, 0), bytes += std::string(20, '\0');
    be32(bytes, static_cast<std::uint32_t>(list.size())), bytes += list;
    be32(bytes, 2), be16(bytes, 0);
    return bytes;
}

}  // namespace bench
