// Any bytes as the text of the settings file, through the reader and the writer of registry
// export syntax. When the input holds a NUL within its first 64 bytes, the bytes before it are
// one more value name to look up and the rest is the file text; otherwise the whole input is the
// text. Each name (the program's eight settings and that one) is looked up, and:
//   - a value that is found is never the "deleted" kind (type none with no bytes);
//   - the line the writer makes for it, alone in the settings key, reads back as the same value;
//   - setting it into the text reads back as the same value, and every other value reads as
//     before;
//   - setting a string and a number of our own into the text reads them back, and leaves every
//     other value as it was.
#include "platform/FileSystem.h"
#include "settings/RegistryFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Reports which promise an input broke, and for which value name, and stops: libFuzzer saves
// the input.
[[noreturn]] void Broken(const char* what, std::string_view name)
{
    std::fprintf(stderr, "BROKEN: %s\nname: [%.*s]\n", what, static_cast<int>(name.size()), name.data());
    std::abort();
}

using settings::RegistryValue;

const char* const kProgramNames[] = {"LastDirectory", "GenerateThumbnails", "WriteThumbnails", "UseFFmpeg",
                                     "FFmpegExe",     "WriteToSubdir",      "SplitDates",      "FFmpegParams"};

bool SameValue(const RegistryValue& a, const RegistryValue& b)
{
    return a.type == b.type && a.data == b.data;
}

struct Lookup {
    bool found = false;
    RegistryValue value;
};

Lookup Find(std::string_view text, std::string_view name)
{
    Lookup lookup;
    lookup.found = settings::FindRegistryValue(text, name, lookup.value);
    return lookup;
}

// A value line can only hold a name without a line break.
bool FitsOnALine(std::string_view name)
{
    return name.find('\n') == std::string_view::npos;
}

// Sets `value` under `name` and checks that it reads back and that no other name changed.
void CheckSet(std::string_view text, const std::vector<std::string>& names, const std::vector<Lookup>& before,
              const std::string& name, const RegistryValue& value)
{
    const std::string written = settings::SetRegistryValue(text, name, value);
    const Lookup after = Find(written, name);
    if (!after.found || !SameValue(after.value, value))
        Broken("a value set into the file does not read back as set", name);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (platform::EqualsIgnoreCase(names[i], name))
            continue;
        const Lookup other = Find(written, names[i]);
        if (other.found != before[i].found || (other.found && !SameValue(other.value, before[i].value)))
            Broken("setting one value changed how another one reads", names[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> names(std::begin(kProgramNames), std::end(kProgramNames));
    std::string_view text = input;
    if (const std::size_t nul = input.find('\0'); nul != std::string_view::npos && nul <= 64) {
        names.emplace_back(input.substr(0, nul));
        text = input.substr(nul + 1);
    }

    std::vector<Lookup> before;
    before.reserve(names.size());
    for (const std::string& name : names)
        before.push_back(Find(text, name));

    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!before[i].found)
            continue;
        const RegistryValue& value = before[i].value;
        if (value.type == settings::kRegNone && value.data.empty())
            Broken("a value was found that is a deleted one", names[i]);
        // Found, so the name matched a line's name: it fits on a line.
        const std::string line = settings::FormatRegistryValueLine(names[i], value);
        const std::string file = std::string(settings::kFileHeader) + "\r\n\r\n[" +
                                 std::string(settings::kSettingsKey) + "]\r\n" + line + "\r\n";
        const Lookup again = Find(file, names[i]);
        if (!again.found || !SameValue(again.value, value))
            Broken("the line the writer makes for a value reads back as another value", names[i]);
        CheckSet(text, names, before, names[i], value);
    }

    // Values as the program writes them: a string with its NUL and a 4-byte number.
    const std::string& extra = names.back();
    if (FitsOnALine(extra)) {
        RegistryValue textValue{settings::kRegString, extra};
        textValue.data.push_back('\0');
        CheckSet(text, names, before, extra, textValue);
    }
    std::uint32_t number = static_cast<std::uint32_t>(size) * 2654435761u;
    RegistryValue numberValue{settings::kRegDword, std::string(4, '\0')};
    for (int b = 0; b < 4; ++b)
        numberValue.data[static_cast<std::size_t>(b)] = static_cast<char>(number >> (8 * b));
    if (const std::string& name = names[size % names.size()]; FitsOnALine(name))
        CheckSet(text, names, before, name, numberValue);
    return 0;
}
