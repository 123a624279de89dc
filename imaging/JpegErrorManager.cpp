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

[[noreturn]] void CollectAndJump(j_common_ptr info)
{
    JpegErrorManager& manager = ManagerOf(info);
    if (manager.collected.empty())
        manager.collected = "\r\n";
    manager.collected += FormattedMessage(info);
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
    manager.collected.clear();
    return library;
}

}  // namespace imaging
