#include "view/Playlist.h"

#include "platform/FileSystem.h"
#include "platform/ReplacingFile.h"
#include "platform/TempDirectory.h"

#include <cstdio>
#include <memory>

namespace {

void AppendEscaped(std::string& out, const std::string& path)
{
    for (char c : path) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
}

}  // namespace

std::string MakePlaylistText(const std::vector<std::string>& paths)
{
    static const char* const kHead[] = {
        "<?wpl version=\"1.0\"?>",
        "<smil>",
        "    <head>",
        "        <meta name=\"Generator\" content=\"Corvane Viewmere\"/>",
        "        <author/>",
        "        <title>AVCHD Clips</title>",
        "    </head>",
        "    <body>",
        "        <seq>"};
    static const char* const kTail[] = {"        </seq>", "    </body>", "</smil>"};
    std::string text;
    for (const char* line : kHead)
        text.append(line).append("\r\n");
    for (const std::string& path : paths) {
        text += "            <media src=\"";
        AppendEscaped(text, path);
        text += "\"/>\r\n";
    }
    for (const char* line : kTail)
        text.append(line).append("\r\n");
    return text;
}

bool WritePlaylistFile(const std::vector<std::string>& paths, std::string& filePath)
{
    std::string folder;
    filePath.clear();
    if (!platform::PrivateTempDirectory(folder))
        return false;
    filePath = folder + "AVCHD.wpl";
    const std::string text = MakePlaylistText(paths);
    return platform::ReplaceFileWith(filePath, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, 0600);
}
