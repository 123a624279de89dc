#pragma once
#include <functional>

namespace platform {

// The GUI shows a busy cursor while the core works on the UI thread (a folder scan). The hook
// is called with true when work starts and false when it ends; without a GUI it does nothing.
using BusyCursorHandler = std::function<void(bool busy)>;
BusyCursorHandler SetBusyCursorHandler(BusyCursorHandler handler);

// Shows the busy cursor for its lifetime, also when the work ends by an exception.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace platform
