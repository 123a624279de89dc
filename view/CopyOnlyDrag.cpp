#include "view/CopyOnlyDrag.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <algorithm>
#include <iterator>

namespace {

constexpr unsigned kCopyRefusingModifiers = ShiftMask | ControlMask;

bool EndsADrag(Display* display, int keycode)
{
    for (KeySym key : {XK_Escape, XK_Return, XK_KP_Enter, XK_ISO_Enter, XK_space, XK_KP_Space})
        if (keycode != 0 && XKeysymToKeycode(display, key) == static_cast<KeyCode>(keycode))
            return true;
    return false;
}

void ClearModifiers(XIModifierState& mods)
{
    mods.base &= ~static_cast<int>(kCopyRefusingModifiers);
    mods.latched &= ~static_cast<int>(kCopyRefusingModifiers);
    mods.locked &= ~static_cast<int>(kCopyRefusingModifiers);
    mods.effective &= ~static_cast<int>(kCopyRefusingModifiers);
}

// The pointer and keyboard events of the X Input extension, which the toolkit reads.
GdkFilterReturn FilterInputEvent(XGenericEventCookie& cookie)
{
    if (cookie.data == nullptr)
        return GDK_FILTER_CONTINUE;
    switch (cookie.evtype) {
    case XI_Motion:
    case XI_ButtonPress:
    case XI_ButtonRelease:
        ClearModifiers(static_cast<XIDeviceEvent*>(cookie.data)->mods);
        return GDK_FILTER_CONTINUE;
    case XI_KeyPress:
    case XI_KeyRelease: {
        const auto* key = static_cast<XIDeviceEvent*>(cookie.data);
        return EndsADrag(cookie.display, key->detail) ? GDK_FILTER_CONTINUE : GDK_FILTER_REMOVE;
    }
    case XI_Enter:
    case XI_Leave:
        ClearModifiers(static_cast<XIEnterEvent*>(cookie.data)->mods);
        return GDK_FILTER_CONTINUE;
    default:
        return GDK_FILTER_CONTINUE;
    }
}

GdkFilterReturn WithoutCopyRefusingModifiers(GdkXEvent* native, GdkEvent*, gpointer)
{
    XEvent* event = static_cast<XEvent*>(native);
    switch (event->type) {
    case GenericEvent:
        return FilterInputEvent(event->xcookie);
    // The core protocol's events, where the toolkit does without the input extension.
    case MotionNotify:
        event->xmotion.state &= ~kCopyRefusingModifiers;
        return GDK_FILTER_CONTINUE;
    case ButtonPress:
    case ButtonRelease:
        event->xbutton.state &= ~kCopyRefusingModifiers;
        return GDK_FILTER_CONTINUE;
    case KeyPress:
    case KeyRelease:
        return EndsADrag(event->xkey.display, static_cast<int>(event->xkey.keycode)) ? GDK_FILTER_CONTINUE
                                                                                    : GDK_FILTER_REMOVE;
    default:
        return GDK_FILTER_CONTINUE;
    }
}

}  // namespace

CCopyOnlyDrag::CCopyOnlyDrag()
{
    // For every window: the drag's pointer grab is on a window of the toolkit's own.
    gdk_window_add_filter(nullptr, &WithoutCopyRefusingModifiers, nullptr);
}

CCopyOnlyDrag::~CCopyOnlyDrag()
{
    gdk_window_remove_filter(nullptr, &WithoutCopyRefusingModifiers, nullptr);
}
