#include "model/ClipListing.h"

#include "model/AVCHDDoc.h"
#include "model/ClipFacts.h"
#include "platform/Format.h"

#include <cerrno>
#include <cstring>
#include <ostream>

// A path in C escapes, always: a backslash is doubled, so a name holding a backslash and a "t"
// never reads as one holding a tab, and no byte can break the line or the columns.
std::string EscapedPath(const std::string& path)
{
    std::string escaped;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (byte < 0x20 || byte == 0x7f)
            escaped += platform::FormatString("\\%03o", byte);
        else
            escaped += c;
    }
    return escaped;
}

namespace {

const char* SourceName(TimeSource source)
{
    switch (source) {
    case TimeSource::Description:
        return "xml";
    case TimeSource::Movie:
        return "mp4";
    default:
        return "stream";
    }
}

// The camera's time with its offset; the movie header's, which is UTC, with "Z" as a file's.
std::string RecordedTime(const RecordingTime& time, TimeSource source)
{
    const int signedOffset = time.OffsetMinutes();
    const int offset = signedOffset < 0 ? -signedOffset : signedOffset;
    const std::string zone = source == TimeSource::Movie
                                 ? std::string("Z")
                                 : platform::FormatString("%c%02d:%02d", signedOffset < 0 ? '-' : '+', offset / 60,
                                                          offset % 60);
    return platform::FormatString("%04d-%02d-%02dT%02d:%02d:%02d%s\t%s", time.year, time.month, time.day, time.hour,
                                  time.minute, time.second, zone.c_str(), SourceName(source));
}

std::string FileTime(platform::FileTime time)
{
    platform::CalendarFields t;  // zero when the time cannot be converted, as the labels show it
    platform::FileTimeToCalendar(time, t);
    return platform::FormatString("%04d-%02d-%02dT%02d:%02d:%02dZ\tfile", t.year, t.month, t.day, t.hour, t.minute,
                                  t.second);
}

void ListDirectory(const CClipDetails& clips, std::ostream& out)
{
    for (int slot = 0; slot < clips.GetCount(); ++slot) {
        const CClipDetails::ClipEntry* entry = clips.GetEntry(slot);
        std::string path;
        if (entry == nullptr || !clips.GetClipPath(slot, path))
            continue;
        const ClipStreamFacts facts = ReadClipFacts(path, !entry->durationFromPlaylist);
        const std::optional<double> duration = entry->durationFromPlaylist ? entry->duration : facts.duration;
        const auto [part, parts] = clips.PartOfRecording(slot);
        out << EscapedPath(path) << '\t' << entry->Size() << '\t'
            << (facts.time ? RecordedTime(*facts.time, facts.timeSource) : FileTime(entry->lastWriteTime)) << '\t'
            << (duration ? platform::FormatString("%.3f", *duration) : std::string("-")) << '\t' << part << '/'
            << parts << '\n';
    }
}

}  // namespace

int ListClips(const std::string& folder, std::ostream& out, std::ostream& errors)
{
    std::vector<platform::DirEntry> top;
    if (!platform::ListDirectory(folder, top)) {
        const int error = errno;
        errors << "viewmere: cannot read folder " << EscapedPath(folder) << ": " << std::strerror(error) << '\n';
        return 2;
    }
    CAVCHDDoc document;
    document.ScanFolder(folder);
    for (int d = 0; d < document.GetDirectoryCount(); ++d)
        ListDirectory(*document.GetDirectory(d)->clips, out);
    out.flush();
    if (!out) {
        errors << "viewmere: the listing could not be written in full\n";
        return 1;
    }
    return 0;
}
