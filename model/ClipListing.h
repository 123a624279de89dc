#pragma once
#include <iosfwd>
#include <string>

// The clips below a folder as text for scripts, one line per file in the grid's order: the path,
// the size in bytes, the time, where the time came from, the duration in seconds ("-" when it is
// not known) and which file of its recording the file is ("1/1" for a clip of one file; "1/2"
// and "2/2" for the files of a recording the camera split), separated by tabs. The time is the
// camera's recording time in ISO 8601 with its clock's offset, summer time included
// ("2008-12-31T23:16:24+01:00", source "stream" for an AVCHD clip's video stream, "xml" for the
// camera's description of an MP4 clip), the MP4's own creation time in UTC
// ("2021-08-02T07:00:00Z", source "mp4"), or the file's modification time in UTC
// ("2009-03-07T14:05:09Z", source "file").
// In a path a backslash, tab, line feed and carriage return are written as "\\", "\t", "\n" and
// "\r", any other control byte as "\" and three octal digits; every other byte as it is. Returns the exit status: 0, 2 when the folder cannot be read, 1 when the listing
// could not be written; a failure is told in one line on `errors`.
int ListClips(const std::string& folder, std::ostream& out, std::ostream& errors);

// A path as the listing writes it, escaped as above.
std::string EscapedPath(const std::string& path);
