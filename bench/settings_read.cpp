// A read of one setting (open, parse, close) against a bare open+read+close of the same file.
// The settings are read on every layout pass and once per thumbnail, so a read must stay cheap.
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "support/BenchTimer.h"
#include "support/ScratchFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main()
{
    const bench::ScratchFolder scratch;
    if (!scratch.Ok())
        return 1;

    // A realistic file: every setting written once, as the Options dialog leaves it.
    settings::LastDirectory.Write("/media/user/CAMCORDER/PRIVATE/AVCHD/BDMV/STREAM");
    settings::GenerateThumbnails.Write(true);
    settings::WriteThumbnails.Write(true);
    settings::UseFFmpeg.Write(false);
    settings::FFmpegExe.Write("/usr/bin/ffmpeg");
    settings::WriteToSubdir.Write(false);
    settings::SplitDates.Write(true);
    settings::FFmpegParams.Write(settings::FFmpegParams.defaultValue);
    const std::string path = settings::SettingsFilePath();

    std::size_t sink = 0;
    auto storeRead = [&] { sink += settings::FFmpegParams.Read().size(); };
    auto bareRead = [&] {
        char buffer[4096];
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        ::close(fd);
        sink += static_cast<std::size_t>(got);
    };
    const bench::PairResult result = bench::MeasurePair(storeRead, bareRead, 20000, 15);

    std::printf("settings file: %s\n", path.c_str());
    std::printf("store read (FFmpegParams): %.2f us\n", result.candidate * 1e6);
    std::printf("bare open+read+close:      %.2f us\n", result.reference * 1e6);
    std::printf("(checksum %zu)\n", sink);
    bench::PrintRatio("settings_read", result.Ratio(), 3.0);
    return 0;
}
