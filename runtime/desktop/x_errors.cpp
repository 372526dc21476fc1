// What the program does when the X server refuses one of its requests.
//
// Xlib's own answer to a failed request is to end the process. Most such failures
// are harmless races: SDL wakes its loop with an event sent on a second connection,
// which the server may read only after the window it names is gone (so closing the
// window could end the program with a failure status). Those pass silently; any
// other failure is said on standard error, and the program goes on.
#include "window_backend.h"

#include <dlfcn.h>

#include <mutex>

#include <fmt/core.h>

// Last: the X headers define macros (None, Status, ...) that clash with the runtime's names.
#include <X11/Xlib.h>
#include <X11/Xproto.h>

namespace vorn_ui::launch::detail {

namespace {

int keep_going_after_x_error(Display*, XErrorEvent* error) {
    if (error->error_code == BadWindow && error->request_code == X_SendEvent) return 0;
    fmt::print(stderr, "window system: request {}.{} on 0x{:x} failed with error {}\n", error->request_code,
               error->minor_code, error->resourceid, error->error_code);
    return 0;
}

}  // namespace

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
