#include "x_window_gone.h"

#include <X11/Xlib.h>

namespace vorn_test {

namespace {

bool g_failed = false;

int note_failure(Display*, XErrorEvent*) {
    g_failed = true;
    return 0;
}

// Runs one request on a connection of its own; whether the server took it.
template <class Request>
bool request_from_outside(Request request) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    g_failed = false;
    const auto previous = XSetErrorHandler(note_failure);
    request(display);
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return !g_failed;
}

}  // namespace

bool destroy_window_from_outside(unsigned long window) {
    return request_from_outside([&](Display* display) { XDestroyWindow(display, window); });
}

bool kill_client_from_outside(unsigned long window) {
    return request_from_outside([&](Display* display) { XKillClient(display, window); });
}

}  // namespace vorn_test
