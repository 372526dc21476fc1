// The window's own news from the X server that SDL does not turn into events
// of its own: that another client destroyed the window (`xdotool windowclose`),
// which SDL only reports as a hidden window, and the X window and display that
// x_errors.cpp watches for a connection the server closes (a window manager's
// kill of the client).
// Kept apart from window_sdl.cpp because the X headers' macros clash with the
// runtime's names.
#include "window_backend.h"

#include <SDL.h>
// The X members of the window-system message; SDL itself is built with them.
#ifndef SDL_VIDEO_DRIVER_X11
#define SDL_VIDEO_DRIVER_X11 1
#endif
#include <SDL_syswm.h>

namespace vorn_ui::launch::detail {

bool x11_window_destroyed(const void* message, void* window) {
    const auto* msg = static_cast<const SDL_SysWMmsg*>(message);
    if (msg == nullptr || window == nullptr || msg->subsystem != SDL_SYSWM_X11) return false;
    const XEvent& event = msg->msg.x11.event;
    if (event.type != DestroyNotify) return false;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(static_cast<SDL_Window*>(window), &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
        return false;
    }
    return event.xdestroywindow.window == info.info.x11.window;
}

void x11_watch_window(void* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window == nullptr || SDL_GetWindowWMInfo(static_cast<SDL_Window*>(window), &info) != SDL_TRUE ||
        info.subsystem != SDL_SYSWM_X11) {
        return;
    }
    watch_own_window(info.info.x11.display, info.info.x11.window);
}

}  // namespace vorn_ui::launch::detail
