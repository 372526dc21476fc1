// SDL opens the X11 and Wayland client libraries itself and closes them at exit.
// Keeping them loaded lets the leak checker name the libraries their process-wide
// allocations come from (and so look past them).
#include <dlfcn.h>

#include <initializer_list>

namespace {

struct KeepLoaded {
    KeepLoaded() {
        for (const char* name : {"libX11.so.6", "libXext.so.6", "libXcursor.so.1", "libXi.so.6", "libXfixes.so.3",
                                 "libXrandr.so.2", "libXss.so.1", "libxkbcommon.so.0", "libwayland-client.so.0",
                                 "libwayland-cursor.so.0", "libwayland-egl.so.1", "libdecor-0.so.0"}) {
            (void)dlopen(name, RTLD_NOW | RTLD_NODELETE);
        }
    }
} g_keep_loaded;

}  // namespace
