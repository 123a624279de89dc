#pragma once
// How long the viewer takes, from its start as a program, until the person sees the pictures of
// the first clips of a card: the screen is sampled through the X server, as the person sees it.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

class ScreenProbe {
public:
    ScreenProbe() : display_(XOpenDisplay(nullptr)) {}
    ~ScreenProbe()
    {
        if (display_ != nullptr)
            XCloseDisplay(display_);
    }
    ScreenProbe(const ScreenProbe&) = delete;
    ScreenProbe& operator=(const ScreenProbe&) = delete;
    bool Ok() const { return display_ != nullptr; }

    // The pixels of a rectangle of the screen, 0xRRGGBB each, row by row.
    std::vector<unsigned long> Pixels(int x, int y, int width, int height) const
    {
        std::vector<unsigned long> pixels;
        XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (image == nullptr)
            return pixels;
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                pixels.push_back(XGetPixel(image, column, row) & 0xffffff);
        XDestroyImage(image);
        return pixels;
    }

private:
    Display* display_;
};

// Where the grid shows its first cells once they hold 384 x 216 pictures: a caption bar across
// the top of the grid, then rows of cells of 392 x 240 two pixels apart.
struct GridGeometry {
    static constexpr unsigned long kCaption = 0xffff80;
    int left = -1;  // the grid's first column on the screen
    int top = -1;   // the top of its first caption

    // Finds the caption bar in the top-left part of the screen.
    bool Find(const ScreenProbe& probe)
    {
        const std::vector<unsigned long> column = probe.Pixels(40, 0, 1, 300);
        for (int y = 0; y < static_cast<int>(column.size()); ++y)
            if (column[static_cast<std::size_t>(y)] == kCaption) {
                top = y;
                const std::vector<unsigned long> row = probe.Pixels(0, y + 10, 60, 1);
                for (int x = 0; x < static_cast<int>(row.size()); ++x)
                    if (row[static_cast<std::size_t>(x)] == kCaption) {
                        left = x;
                        return true;
                    }
            }
        return false;
    }

    // The middle of the picture of cell `index`, four cells to a row.
    std::pair<int, int> PictureCentre(int index) const
    {
        const int column = index % 4, row = index / 4;
        return {left + 2 + column * (392 + 2) + 4 + 192, top + 32 + row * (240 + 2) + 4 + 108};
    }
};

// True when the screen around a point shows a picture: pixels that differ from each other, as a
// decoded frame's do, where a cell without one is a single colour.
inline bool ShowsPicture(const ScreenProbe& probe, std::pair<int, int> at)
{
    const std::vector<unsigned long> patch = probe.Pixels(at.first - 8, at.second - 8, 16, 16);
    int differing = 0;
    for (unsigned long pixel : patch)
        differing += pixel != patch.front() ? 1 : 0;
    return differing > 16;
}

// Starts a program and measures the time until the first `cells` clips show their pictures;
// negative when they do not within the limit. The program is ended afterwards.
inline double SecondsToFirstPictures(const std::vector<std::string>& command, int cells,
                                     std::chrono::seconds limit = std::chrono::seconds(30))
{
    ScreenProbe probe;
    if (!probe.Ok())
        return -1;
    std::vector<char*> argv;
    for (const std::string& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    double seconds = -1;
    while (std::chrono::steady_clock::now() - start < limit) {
        // Found afresh each time: the window may be laid out again as it comes up.
        GridGeometry grid;
        if (!grid.Find(probe)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        int shown = 0;
        while (shown < cells && ShowsPicture(probe, grid.PictureCentre(shown)))
            ++shown;
        if (shown == cells) {
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    return seconds;
}

}  // namespace bench
