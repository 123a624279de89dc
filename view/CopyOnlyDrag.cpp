#include "view/CopyOnlyDrag.h"

#include <gtk/gtk.h>

namespace {

constexpr guint kCopyRefusingModifiers = GDK_SHIFT_MASK | GDK_CONTROL_MASK;

bool EndsTheDrag(const GdkEventKey& key)
{
    switch (key.keyval) {
    case GDK_KEY_Escape:
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
    case GDK_KEY_space:
    case GDK_KEY_KP_Space:
        return true;
    default:
        return false;
    }
}

void DispatchWithoutModifiers(GdkEvent* event, gpointer)
{
    switch (event->type) {
    case GDK_KEY_PRESS:
    case GDK_KEY_RELEASE:
        if (!EndsTheDrag(event->key))
            return;
        break;
    case GDK_MOTION_NOTIFY:
        event->motion.state &= ~kCopyRefusingModifiers;
        break;
    case GDK_BUTTON_PRESS:
    case GDK_BUTTON_RELEASE:
        event->button.state &= ~kCopyRefusingModifiers;
        break;
    case GDK_ENTER_NOTIFY:
    case GDK_LEAVE_NOTIFY:
        event->crossing.state &= ~kCopyRefusingModifiers;
        break;
    default:
        break;
    }
    gtk_main_do_event(event);
}

// What the toolkit installs at its start.
void DispatchAsTheToolkitDoes(GdkEvent* event, gpointer)
{
    gtk_main_do_event(event);
}

}  // namespace

CCopyOnlyDrag::CCopyOnlyDrag()
{
    gdk_event_handler_set(&DispatchWithoutModifiers, nullptr, nullptr);
}

CCopyOnlyDrag::~CCopyOnlyDrag()
{
    gdk_event_handler_set(&DispatchAsTheToolkitDoes, nullptr, nullptr);
}
