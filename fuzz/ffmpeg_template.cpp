// Any bytes as the ffmpeg parameter template, clip path, picture path and program, split at NUL
// bytes in that order (missing parts take the usual values), through CheckFFmpegTemplate and
// BuildFFmpegCommand. The template part is used twice: as it is, and its first 12 bytes read as
// a row of template pieces, one byte each ("%IN%", "%", "%%", "IN%", a quote, a blank, ...), so
// that every way of putting percent signs and quotes next to the placeholders comes up quickly.
// Each template is also filled with one-byte stand-ins that it does not contain, to see where
// each path lands:
//   - the program is the first argument;
//   - the paths never add, drop or change an argument: filling them gives the stand-in
//     arguments with each stand-in replaced by its path, whatever blanks, quotes, dashes or
//     percent signs the paths hold;
//   - a template that the check accepts gets the clip path and the picture path filled in
//     exactly once each.
#include "thumbgen/FFmpegCommand.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Reports which promise a template broke and stops: libFuzzer saves the input.
[[noreturn]] void Broken(const char* what, const std::string& parameterTemplate)
{
    std::fprintf(stderr, "BROKEN: %s\ntemplate: [%s]\n", what, parameterTemplate.c_str());
    std::abort();
}

std::string Replaced(const std::string& text, char standIn, char otherStandIn, const std::string& path,
                     const std::string& otherPath)
{
    std::string out;
    for (char c : text) {
        if (c == standIn)
            out += path;
        else if (c == otherStandIn)
            out += otherPath;
        else
            out += c;
    }
    return out;
}

// Template pieces, one for each value of a byte's low 4 bits. Only the first few bytes are read
// as pieces: a long row of them would hardly ever hold exactly one of each placeholder.
constexpr std::size_t kMaxPieces = 12;
constexpr const char* kPieces[16] = {"%IN%", "%OUT%", "%%", "%", "\"", " ", "IN%", "OUT%",
                                     "%IN",  "%OUT",  "I",  "N", "O",  "-i", "x", "\t"};

void CheckCommand(const std::string& parameterTemplate, const std::string& clip, const std::string& picture,
                  const std::string& program)
{
    const std::string problem = CheckFFmpegTemplate(parameterTemplate);
    const FFmpegCommand command = BuildFFmpegCommand(program, parameterTemplate, clip, picture);
    if (command.arguments.empty() || command.arguments[0] != program)
        Broken("the program is not the first argument", parameterTemplate);
    if (command.text.compare(0, program.size() + 3, "\"" + program + "\" ") != 0)
        Broken("the logged command does not start with the quoted program", parameterTemplate);

    // Two byte values that the template does not hold stand in for the paths.
    std::array<bool, 256> used{};
    for (char c : parameterTemplate)
        used[static_cast<unsigned char>(c)] = true;
    int standIns[2] = {-1, -1};
    for (int c = 1, found = 0; c < 256 && found < 2; ++c)
        if (!used[static_cast<std::size_t>(c)])
            standIns[found++] = c;
    if (standIns[1] < 0)
        return;  // every byte value is in the template
    const char clipStandIn = static_cast<char>(standIns[0]);
    const char pictureStandIn = static_cast<char>(standIns[1]);
    const FFmpegCommand shape = BuildFFmpegCommand(program, parameterTemplate, std::string(1, clipStandIn),
                                                   std::string(1, pictureStandIn));
    if (shape.arguments.size() != command.arguments.size())
        Broken("the paths changed the number of arguments", parameterTemplate);
    std::size_t clips = 0, pictures = 0;
    for (std::size_t i = 1; i < shape.arguments.size(); ++i) {
        for (char c : shape.arguments[i]) {
            clips += c == clipStandIn;
            pictures += c == pictureStandIn;
        }
        if (command.arguments[i] != Replaced(shape.arguments[i], clipStandIn, pictureStandIn, clip, picture))
            Broken("the paths changed an argument beyond their own place in it", parameterTemplate);
    }
    if (problem.empty() && (clips != 1 || pictures != 1))
        Broken("an accepted template does not get each path filled in exactly once", parameterTemplate);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::array<std::string, 4> parts = {"", "/media/card/PRIVATE/AVCHD/BDMV/STREAM/00000.MTS",
                                        "/tmp/viewmere-x/00000.jpg", "/usr/bin/ffmpeg"};
    std::size_t start = 0;
    for (std::size_t i = 0; i < parts.size() && start <= input.size(); ++i) {
        const std::size_t nul = i + 1 < parts.size() ? input.find('\0', start) : std::string_view::npos;
        const std::size_t end = nul == std::string_view::npos ? input.size() : nul;
        parts[i] = std::string(input.substr(start, end - start));
        if (nul == std::string_view::npos)
            break;
        start = nul + 1;
    }
    const std::string& parameterTemplate = parts[0];
    const std::string& clip = parts[1];
    const std::string& picture = parts[2];
    const std::string& program = parts[3];

    CheckCommand(parameterTemplate, clip, picture, program);

    std::string pieces;
    for (std::size_t i = 0; i < parameterTemplate.size() && i < kMaxPieces; ++i)
        pieces += kPieces[static_cast<unsigned char>(parameterTemplate[i]) & 15];
    CheckCommand(pieces, clip, picture, program);
    return 0;
}
