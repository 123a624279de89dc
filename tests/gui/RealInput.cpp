#include "gui/RealInput.h"

#include "gui/GuiTestSupport.h"

#include <wx/utils.h>

#include <gtk/gtk.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <thread>

extern char** environ;

namespace gui_testing {
namespace {

using namespace std::chrono_literals;

// Lets the X server deliver what was sent and the toolkit act on it.
void Settle()
{
    Pump(60ms);
}

}  // namespace

void RealInput::PointAtScreen(wxPoint screen)
{
    simulator_.MouseMove(screen);
    Pump(2s, [&] { return wxGetMousePosition() == screen; });  // the server's pointer, not an event
    Settle();
}

void RealInput::PointAt(wxWindow* window, wxPoint client)
{
    PointAtScreen(window->ClientToScreen(client));
}

void RealInput::HoldModifiers(int modifiers, bool down)
{
    for (const auto& [flag, key] : {std::pair{wxMOD_SHIFT, WXK_SHIFT}, std::pair{wxMOD_CONTROL, WXK_CONTROL}})
        if (modifiers & flag) {
            if (down)
                simulator_.KeyDown(key);
            else
                simulator_.KeyUp(key);
        }
    if (modifiers != wxMOD_NONE)
        Settle();
}

void RealInput::ClickAt(wxWindow* window, wxPoint client, int modifiers, int button)
{
    PointAt(window, client);
    HoldModifiers(modifiers, true);
    simulator_.MouseClick(button);
    Settle();
    HoldModifiers(modifiers, false);
}

void RealInput::DoubleClickAt(wxWindow* window, wxPoint client)
{
    PointAt(window, client);
    simulator_.MouseDblClick();
    Settle();
}

void RealInput::Press(int button)
{
    simulator_.MouseDown(button);
    Settle();
}

void RealInput::Release(int button)
{
    simulator_.MouseUp(button);
    Settle();
}

void RealInput::Key(int key, int modifiers)
{
    simulator_.Char(key, modifiers);
    Settle();
}

void RealInput::Wheel(int notches, int modifiers)
{
    // X has wheel buttons 4 (away from the user) and 5 (towards); the simulator has none.
    std::string command = "xdotool";
    if (modifiers & wxMOD_SHIFT)
        command += " keydown shift";
    if (modifiers & wxMOD_CONTROL)
        command += " keydown ctrl";
    command += " click --repeat " + std::to_string(std::abs(notches)) + " --delay 30 " + (notches < 0 ? "5" : "4");
    if (modifiers & wxMOD_CONTROL)
        command += " keyup ctrl";
    if (modifiers & wxMOD_SHIFT)
        command += " keyup shift";
    BackgroundCommand xdotool(command);
    Pump(5s, [&] { return xdotool.Finished(); });
    Settle();
}

wxImage ScreenShot(const wxRect& rect)
{
    GdkPixbuf* pixbuf =
        gdk_pixbuf_get_from_window(gdk_get_default_root_window(), rect.x, rect.y, rect.width, rect.height);
    if (pixbuf == nullptr)
        return wxImage();
    wxImage image(rect.width, rect.height);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < rect.height; ++y)
        for (int x = 0; x < rect.width; ++x) {
            const guchar* p = pixels + y * stride + x * channels;
            image.SetRGB(x, y, p[0], p[1], p[2]);
        }
    g_object_unref(pixbuf);
    return image;
}

wxColour ScreenPixel(wxPoint screen)
{
    const wxImage image = ScreenShot(wxRect(screen, wxSize(1, 1)));
    return image.IsOk() ? wxColour(image.GetRed(0, 0), image.GetGreen(0, 0), image.GetBlue(0, 0)) : wxColour();
}

wxColour ClientPixel(wxWindow* window, wxPoint client)
{
    return ScreenPixel(window->ClientToScreen(client));
}

void UseFixedScrollBars()
{
    setenv("GTK_OVERLAY_SCROLLING", "0", 1);
}

wxRect ScreenRectOf(void* gtkWidget)
{
    GtkWidget* widget = static_cast<GtkWidget*>(gtkWidget);
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int x = 0, y = 0, originX = 0, originY = 0;
    gtk_widget_translate_coordinates(widget, top, 0, 0, &x, &y);
    gdk_window_get_origin(gtk_widget_get_window(top), &originX, &originY);
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    return wxRect(originX + x, originY + y, allocation.width, allocation.height);
}

bool ToolkitSensitive(wxWindow* window)
{
    return window->GetHandle() != nullptr && gtk_widget_is_sensitive(window->GetHandle());
}

BackgroundCommand::BackgroundCommand(const std::string& shellCommand)
{
    const char* argv[] = {"/bin/sh", "-c", shellCommand.c_str(), nullptr};
    pid_t child = -1;
    if (posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) == 0)
        pid_ = child;
}

bool BackgroundCommand::Finished()
{
    if (pid_ < 0 || reaped_)
        return true;
    int status = 0;
    reaped_ = waitpid(pid_, &status, WNOHANG) == pid_;
    return reaped_;
}

BackgroundCommand::~BackgroundCommand()
{
    if (pid_ >= 0 && !Finished()) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

}  // namespace gui_testing
