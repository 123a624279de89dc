#pragma once
// Input through the X server, as a person gives it (XTest, the way wxUIActionSimulator and
// xdotool send it), and what the screen then shows.
#include <wx/event.h>
#include <wx/gdicmn.h>
#include <wx/image.h>
#include <wx/uiaction.h>
#include <wx/window.h>

#include <chrono>
#include <string>

namespace gui_testing {

class RealInput {
public:
    // Moves the pointer to a client point of `window` and lets the toolkit see it arrive.
    void PointAt(wxWindow* window, wxPoint client);
    void PointAtScreen(wxPoint screen);
    // Presses and releases a button at a client point; `modifiers` (wxMOD_SHIFT, wxMOD_CONTROL)
    // are held around the click.
    void ClickAt(wxWindow* window, wxPoint client, int modifiers = wxMOD_NONE, int button = wxMOUSE_BTN_LEFT);
    void DoubleClickAt(wxWindow* window, wxPoint client);
    void Press(int button = wxMOUSE_BTN_LEFT);
    void Release(int button = wxMOUSE_BTN_LEFT);
    // A key with modifiers, to the window under the pointer (the focus follows the pointer on a
    // display without a window manager).
    void Key(int key, int modifiers = wxMOD_NONE);
    // Wheel notches over the window under the pointer: negative turns towards the user (down).
    void Wheel(int notches, int modifiers = wxMOD_NONE);

private:
    void HoldModifiers(int modifiers, bool down);
    wxUIActionSimulator simulator_;
};

// What the screen shows now, after the toolkit has drawn what it had to draw.
wxImage ScreenShot(const wxRect& screenRect);
wxColour ScreenPixel(wxPoint screen);
wxColour ClientPixel(wxWindow* window, wxPoint client);

// Scroll bars that are always there beside the content, not overlaid on it only while the
// pointer moves, so that a test can find and use them; before the toolkit starts.
void UseFixedScrollBars();

// The screen rectangle of a toolkit widget.
wxRect ScreenRectOf(void* gtkWidget);

// Whether the toolkit lets the person use the window: its own flag and all its parents'.
bool ToolkitSensitive(wxWindow* window);

// Runs a command line in the background (xdotool, for input during a modal or drag loop
// that the test cannot leave); the child is reaped by the returned guard.
class BackgroundCommand {
public:
    explicit BackgroundCommand(const std::string& shellCommand);
    ~BackgroundCommand();
    BackgroundCommand(const BackgroundCommand&) = delete;
    BackgroundCommand& operator=(const BackgroundCommand&) = delete;
    bool Finished();

private:
    int pid_ = -1;
    bool reaped_ = false;
};

}  // namespace gui_testing
