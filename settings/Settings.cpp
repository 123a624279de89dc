#include "settings/Settings.h"

#include "settings/SettingsStore.h"

#include <cstring>

void ReadStringSetting(const char* name, std::string& value)
{
    settings::RegistryValue stored;
    if (!settings::ReadRegistryValue(name, stored))
        return;
    if (stored.type != settings::kRegString && stored.type != settings::kRegExpandString)
        return;
    if (stored.data.size() > settings::kMaxStringBytes)
        return;
    if (!stored.data.empty() && stored.data.back() != '\0')
        return;  // a string stored without its terminating NUL is not trusted
    // Cut at the first NUL; an expandable string is taken as stored, references unexpanded.
    value.assign(stored.data.c_str(), ::strnlen(stored.data.c_str(), stored.data.size()));
}

void ReadBoolSetting(const char* name, bool& flag)
{
    settings::RegistryValue stored;
    if (!settings::ReadRegistryValue(name, stored))
        return;
    if (stored.type != settings::kRegDword || stored.data.size() > 4)
        return;
    // A shorter number is read into a zeroed 4-byte word, as a query into one would leave it.
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < stored.data.size(); ++i)
        number |= static_cast<std::uint32_t>(static_cast<unsigned char>(stored.data[i])) << (8 * i);
    flag = number != 0;
}

void WriteStringSetting(const char* name, const std::string& text)
{
    settings::RegistryValue value{settings::kRegString, text};
    value.data.push_back('\0');
    settings::WriteRegistryValue(name, value);
}

void WriteBoolSetting(const char* name, bool flag)
{
    settings::RegistryValue value{settings::kRegDword, std::string(4, '\0')};
    value.data[0] = flag ? 1 : 0;
    settings::WriteRegistryValue(name, value);
}

bool GetWriteThumbnails()
{
    return settings::WriteThumbnails.Read();
}

std::string GetFFmpegExe()
{
    return settings::FFmpegExe.Read();
}

std::string GetFFmpegParams()
{
    return settings::FFmpegParams.Read();
}
