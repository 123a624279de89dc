#include "platform/BusyCursor.h"

#include "platform/NoDestructor.h"

namespace platform {
namespace {

// Used on the UI thread only.
BusyCursorHandler& Handler()
{
    static NoDestructor<BusyCursorHandler> handler;
    return handler.get();
}

}  // namespace

BusyCursorHandler SetBusyCursorHandler(BusyCursorHandler handler)
{
    BusyCursorHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

BusyCursor::BusyCursor()
{
    if (Handler())
        Handler()(true);
}

BusyCursor::~BusyCursor()
{
    if (Handler())
        Handler()(false);
}

}  // namespace platform
