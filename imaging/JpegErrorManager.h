#pragma once
// Internal to the codec layer: the library's standard error manager with two routines replaced.
#include <csetjmp>
#include <cstdio>
#include <string>

#include <jpeglib.h>

namespace imaging {

// One per decode or encode, so the collected text belongs to the running operation even when
// two threads work at once.
struct JpegErrorManager {
    jpeg_error_mgr library;   // first member: the library's pointer is cast back to this record
    std::jmp_buf recovery;    // armed by the small functions that call the library
    std::string collected;    // "\r\n" + the library's message of a fatal error
    bool warningsAreErrors = false;  // a warning (a damaged stream) ends the operation as an error does
};

// Error exit collects the message and jumps to `recovery`; message output (warnings; the
// library's own policy shows only the first one at trace level 0) goes to a "JPEG Error" box.
jpeg_error_mgr* InstallErrorManager(JpegErrorManager& manager);

// Most scans a progressive picture may have. Each scan is another pass over the whole picture:
// tens of thousands of them pass every check of the library and cost minutes of work, while
// encoders write about ten.
inline constexpr int kMaxJpegScans = 500;

// Makes a decode fail, as a fatal library error does, once the stream starts more scans than
// kMaxJpegScans. `progress` must outlive the decode; the error manager must be installed.
void LimitScans(jpeg_decompress_struct& info, jpeg_progress_mgr& progress);

}  // namespace imaging
