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

}  // namespace imaging
