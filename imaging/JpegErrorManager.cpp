#include "imaging/JpegErrorManager.h"

#include "platform/MessageBox.h"

namespace imaging {
namespace {

JpegErrorManager& ManagerOf(j_common_ptr info)
{
    return *reinterpret_cast<JpegErrorManager*>(info->err);
}

std::string FormattedMessage(j_common_ptr info)
{
    char buffer[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, buffer);
    return buffer;
}

// The library's own policy for messages (which warnings are shown, trace levels).
void StandardEmitMessage(j_common_ptr info, int level)
{
    static const auto standard = [] {
        jpeg_error_mgr defaults{};
        return jpeg_std_error(&defaults)->emit_message;
    }();
    standard(info, level);
}

[[noreturn]] void CollectAndJump(j_common_ptr info)
{
    JpegErrorManager& manager = ManagerOf(info);
    if (manager.collected.empty())
        manager.collected = "\r\n";
    manager.collected += FormattedMessage(info);
    std::longjmp(manager.recovery, 1);
}

void EmitMessage(j_common_ptr info, int level)
{
    if (level < 0 && ManagerOf(info).warningsAreErrors)
        CollectAndJump(info);
    StandardEmitMessage(info, level);
}

void RefuseEndlessScans(j_common_ptr info)
{
    const auto* decoder = reinterpret_cast<j_decompress_ptr>(info);
    if (!info->is_decompressor || decoder->input_scan_number <= kMaxJpegScans)
        return;
    JpegErrorManager& manager = ManagerOf(info);
    manager.collected = "\r\nThe picture has more than " + std::to_string(kMaxJpegScans) + " scans";
    std::longjmp(manager.recovery, 1);
}

void ShowWarning(j_common_ptr info)
{
    platform::ShowMessageBox(FormattedMessage(info), "JPEG Error", platform::MessageBoxIcon::None);
}

}  // namespace

jpeg_error_mgr* InstallErrorManager(JpegErrorManager& manager)
{
    jpeg_error_mgr* library = jpeg_std_error(&manager.library);
    library->error_exit = CollectAndJump;
    library->output_message = ShowWarning;
    library->emit_message = EmitMessage;
    manager.collected.clear();
    return library;
}

void LimitScans(jpeg_decompress_struct& info, jpeg_progress_mgr& progress)
{
    progress = jpeg_progress_mgr{};
    progress.progress_monitor = RefuseEndlessScans;
    info.progress = &progress;
}

}  // namespace imaging
