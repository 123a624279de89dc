// Stops a generator whose worker is busy, with a short limit, and leaves main at once: the
// process must exit cleanly while the detached worker is still running.
#include "log/EventLog.h"
#include "thumbgen/ThumbnailGenerator.h"

#include <chrono>
#include <thread>

int main()
{
    using namespace std::chrono_literals;
    CThumbnailGenerator generator(
        [](ThumbnailQueue& queue, const std::string& path) {
            for (int i = 0; i < 100 && !queue.StopRequested(); ++i)
                std::this_thread::sleep_for(1ms);
            // Still busy, logging and storing, while the process exits.
            const auto end = std::chrono::steady_clock::now() + 300ms;
            while (std::chrono::steady_clock::now() < end) {
                LogEvent("late line from [%s]", path.c_str());
                auto image = std::make_unique<CRgbImage>();
                image->pixels = imaging::AllocatePixels(416 * 240 * 3);
                queue.StoreResult(path, ThumbnailResult{nullptr, std::move(image)});
            }
        },
        50ms);
    generator.Enqueue("/card/00000.MTS");
    std::this_thread::sleep_for(20ms);
    generator.Stop();
    return 0;
}
