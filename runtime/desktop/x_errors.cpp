// What the program does when the X server refuses one of its requests.
//
// Xlib's own answer to a failed request is to end the process. Most such failures
// are harmless races: SDL wakes its loop with an event sent on a second connection,
// which the server may read only after the window it names is gone (so closing the
// window could end the program with a failure status). Those pass silently, as do
// failures on the program's window once another client destroyed it; any other
// failure is said on standard error, and the program goes on. A connection the server
// closes ends the program as a close request does (see connection_lost).
#include "window_backend.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

#include <fmt/core.h>

// Last: the X headers define macros (None, Status, ...) that clash with the runtime's names.
#include <X11/Xlib.h>
#include <X11/Xproto.h>

namespace vorn_ui::launch::detail {

namespace {

// The program's window, and whether the server closed the connection.
std::atomic<unsigned long> g_own_window{0};
std::atomic<bool> g_connection_lost{false};

int keep_going_after_x_error(Display*, XErrorEvent* error) {
    if (error->error_code == BadWindow && error->request_code == X_SendEvent) return 0;
    // The program's own window exists until it is closed, unless another client
    // destroyed it: what fails on it then ends with the program, which is ending.
    const unsigned long own = g_own_window.load();
    if (own != 0 && error->resourceid == own && (error->error_code == BadWindow || error->error_code == BadDrawable)) {
        return 0;
    }
    fmt::print(stderr, "window system: request {}.{} on 0x{:x} failed with error {}\n", error->request_code,
               error->minor_code, error->resourceid, error->error_code);
    return 0;
}

// The server closed the connection (a window manager's kill of the client),
// where Xlib would end the process at once: the display is dead from now on,
// every later request on it fails at once, and the program ends as on a close
// request.
int connection_lost(Display*) {
    if (!g_connection_lost.exchange(true)) {
        fmt::print(stderr, "window system: the connection to the display was closed\n");
    }
    return 0;
}

void end_without_the_display(Display*, void*) { quit_from_any_thread(); }

}  // namespace

bool display_connection_lost() { return g_connection_lost.load(); }

void watch_own_window(void* display, unsigned long x_window) {
    g_own_window.store(x_window);
    void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_NODELETE);
    if (library == nullptr) return;
    using SetExitHandler = void (*)(Display*, XIOErrorExitHandler, void*);
    // Older client libraries always end the process: the handler stays theirs.
    auto set_exit = reinterpret_cast<SetExitHandler>(dlsym(library, "XSetIOErrorExitHandler"));
    using SetHandler = XIOErrorHandler (*)(XIOErrorHandler);
    auto set = reinterpret_cast<SetHandler>(dlsym(library, "XSetIOErrorHandler"));
    if (set_exit == nullptr || set == nullptr) return;
    set(&connection_lost);
    set_exit(static_cast<Display*>(display), &end_without_the_display, nullptr);
}

void keep_going_after_x_errors() {
    static std::once_flag once;
    std::call_once(once, [] {
        // SDL loads the client library itself: the handler is the library's, one for
        // the process, and SDL's own handler hands errors on to the one set before it.
        void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_NODELETE);
        if (library == nullptr) return;
        using SetHandler = XErrorHandler (*)(XErrorHandler);
        if (auto set = reinterpret_cast<SetHandler>(dlsym(library, "XSetErrorHandler")); set != nullptr) {
            set(&keep_going_after_x_error);
        }
    });
}

}  // namespace vorn_ui::launch::detail
