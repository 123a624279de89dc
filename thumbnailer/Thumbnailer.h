#pragma once

// The desktop's thumbnailer for clips, as file managers run it from its thumbnailer entry:
//
//   viewmere-thumbnailer [-s] SIZE URI OUTPUT
//
// writes a PNG of the clip at URI, at most SIZE pixels on its long side, to OUTPUT and exits 0.
// For anything it cannot picture (no local file, no regular file, no picture from any source)
// it writes nothing, prints one line on standard error and exits 1; 2 for a wrong command
// line. It never runs longer than kThumbnailerTimeLimitSeconds, never opens a window and never
// connects to a display.
//
// For tests of the time limit: --hang-on TEXT (first) hangs as a stuck decoder would when the
// clip's path contains TEXT.
int RunThumbnailer(int argc, char** argv);

inline constexpr int kThumbnailerTimeLimitSeconds = 10;
