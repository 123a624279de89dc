#pragma once
#include <string>
#include <vector>

namespace testing_support {

// Camcorder-like clips made once per test program with the ffmpeg program: H.264 with AC-3
// audio in an M2TS stream of 192-byte packets, plus broken inputs.
struct ClipSet {
    std::string folder;
    std::string interlaced1080;   // 1920 x 1080 interlaced, AC-3 audio, .MTS
    std::string anamorphic1440;   // 1440 x 1080 interlaced, .MTS
    std::string progressive720;   // 1280 x 720 progressive, .m2ts
    std::string redOverBlue;      // 1920 x 1080, top half red, bottom half blue
    std::string truncated;        // the first 20000 bytes of interlaced1080
    std::string empty;            // zero bytes
    std::string text;             // a text file named .MTS
};

// Made on first use; the files live until the program ends.
const ClipSet& TestClips();

// A 1920 x 1080 interlaced clip of solid colours (ffmpeg's names), a second each in the order
// given, with a key frame every 5 pictures (0.2 s): what a frame shows tells where it lies. Made
// once per list of colours.
const std::string& ColourSequenceClip(const std::vector<std::string>& colours);

// Runs a shell command; returns its exit status (0 on success).
int Shell(const std::string& command);
// Quotes a path for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace testing_support
