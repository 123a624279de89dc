#include "support/Clips.h"

#include "support/TempDir.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>

namespace testing_support {

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int Shell(const std::string& command)
{
    return std::system(command.c_str());
}

namespace {

void MakeClip(const std::string& video, const std::string& extra, const std::string& path)
{
    const std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i " + ShellQuote(video) +
                                " -f lavfi -i sine=frequency=440:duration=1 -c:v libx264 -preset ultrafast "
                                "-pix_fmt yuv420p " + extra +
                                " -c:a ac3 -b:a 192k -f mpegts -mpegts_m2ts_mode 1 " + ShellQuote(path);
    if (Shell(command) != 0)
        throw std::runtime_error("ffmpeg could not make " + path);
}

}  // namespace

const ClipSet& TestClips()
{
    // Not under TMPDIR: a test may point that at a folder of its own that goes with the test.
    static const std::unique_ptr<TempDir> folder = std::make_unique<TempDir>("/tmp");
    static const ClipSet clips = [] {
        ClipSet set;
        set.folder = folder->Path();
        const std::string interlaced = "-flags +ildct+ilme -x264opts tff=1";
        set.interlaced1080 = *folder / "00000.MTS";
        MakeClip("testsrc2=size=1920x1080:rate=25:duration=1", interlaced, set.interlaced1080);
        set.anamorphic1440 = *folder / "00001.MTS";
        MakeClip("testsrc2=size=1440x1080:rate=25:duration=1", interlaced, set.anamorphic1440);
        set.progressive720 = *folder / "00002.m2ts";
        MakeClip("testsrc2=size=1280x720:rate=25:duration=1", "", set.progressive720);
        set.redOverBlue = *folder / "00003.MTS";
        MakeClip("color=c=red:s=1920x540:d=1:r=25[a];color=c=blue:s=1920x540:d=1:r=25[b];[a][b]vstack", interlaced,
                 set.redOverBlue);
        set.truncated = *folder / "00004.MTS";
        Shell("head -c 20000 " + ShellQuote(set.interlaced1080) + " > " + ShellQuote(set.truncated));
        set.empty = *folder / "00005.MTS";
        WriteFile(set.empty, "");
        set.text = *folder / "00006.MTS";
        WriteFile(set.text, "This is not a video, just some words in a file.\n");
        return set;
    }();
    return clips;
}

const std::string& ColourSequenceClip(const std::vector<std::string>& colours)
{
    static const std::unique_ptr<TempDir> folder = std::make_unique<TempDir>("/tmp");
    static std::map<std::vector<std::string>, std::string> made;
    std::string& clip = made[colours];
    if (!clip.empty())
        return clip;
    std::string graph, inputs;
    for (std::size_t i = 0; i < colours.size(); ++i) {
        graph += "color=c=" + colours[i] + ":s=1920x1080:r=25:d=1[c" + std::to_string(i) + "];";
        inputs += "[c" + std::to_string(i) + "]";
    }
    graph += inputs + "concat=n=" + std::to_string(colours.size()) + ":v=1:a=0";
    clip = *folder / ("colours" + std::to_string(made.size()) + ".MTS");
    MakeClip(graph, "-flags +ildct+ilme -x264opts tff=1:keyint=5:min-keyint=5:scenecut=0", clip);
    return clip;
}

}  // namespace testing_support
