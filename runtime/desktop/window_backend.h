// The seam between the frame loop and the window system (window_sdl.cpp is behind
// it and, with x_window.cpp, the only file that includes SDL; x_errors.cpp holds
// the X error handler). Interface thread only, except `wake_loop_from_any_thread` and `quit_from_any_thread`.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vorn_ui/access.h"
#include "vorn_ui/event.h"

namespace vorn_ui::launch::detail {

struct WindowOptions {
    std::string title;
    std::uint32_t width = 1280;   // logical pixels
    std::uint32_t height = 800;
    bool resizable = true;
    bool high_dpi = true;
    bool fullscreen = false;
};

struct WindowEvent {
    enum class Kind : std::uint8_t { Input, Quit, Resized, Exposed, Woken };
    Kind kind = Kind::Input;
    Event input;  // Input only; positions in physical pixels
};

class WindowBackend {
public:
    static std::expected<std::unique_ptr<WindowBackend>, std::string> open(const WindowOptions& options);
    virtual ~WindowBackend() = default;

    // Waits for events up to `timeout` (none: until something happens; zero: only
    // what is queued) and answers them in order.
    virtual std::vector<WindowEvent> wait(std::optional<std::chrono::milliseconds> timeout) = 0;
    // Physical pixels of the drawable area, and physical pixels per logical pixel.
    virtual std::pair<std::uint32_t, std::uint32_t> pixel_size() const = 0;
    virtual float scale() const = 0;
    // Shows premultiplied native 0xAARRGGBB pixels (rows of `stride` bytes).
    virtual bool present(const std::uint8_t* argb32, std::size_t stride, std::uint32_t width,
                         std::uint32_t height) = 0;
    // Shows only the rectangle [x0, x1) x [y0, y1) of such a picture of the window's
    // size; the rest of the window keeps what it showed.
    struct Area {
        std::uint32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    };
    virtual bool present_area(const std::uint8_t* argb32, std::size_t stride, std::uint32_t width,
                              std::uint32_t height, Area area) = 0;
    virtual void set_cursor(CursorShape shape) = 0;
    virtual void set_fullscreen(bool on) = 0;
    virtual void set_title(const std::string& title) = 0;
};

// Both are safe from any thread, before, during and after a window's life.
void wake_loop_from_any_thread();
void quit_from_any_thread();

// From x_errors.cpp: a request the X server refuses no longer ends the process
// (see there). Called before the window system starts; safe to call again.
void keep_going_after_x_errors();
// From x_errors.cpp: what fails on the program's own X window (once another client
// destroyed it) passes silently, and a connection to the display that the server
// closes ends the program as a close request does instead of at once.
void watch_own_window(void* display, unsigned long x_window);
// Whether the server closed the connection to the display.
bool display_connection_lost();

// From x_window.cpp: whether a window-system message (an SDL_SysWMmsg) is the X
// server's news that the SDL window was destroyed by another client.
bool x11_window_destroyed(const void* message, void* window);
// From x_window.cpp: watch_own_window for the SDL window, when it is an X window.
void x11_watch_window(void* window);

// The clipboard of the open window: whether the desktop took the text; none when no
// window is open.
std::optional<bool> window_clipboard_set(std::string_view text);
std::optional<std::optional<std::string>> window_clipboard_get();
// The same for the primary selection (the last selected text).
std::optional<bool> window_primary_set(std::string_view text);
std::optional<std::optional<std::string>> window_primary_get();

}  // namespace vorn_ui::launch::detail
