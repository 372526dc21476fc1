// A second connection to the test's X server: finds a window by its title, reads its
// pixels, and sends real pointer and key input through XTest. Kept apart from the
// tests because Xlib's macros clash with everything else.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace vorn_test {

class XClient {
public:
    XClient();
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;
    bool ok() const { return m_dpy != nullptr; }

    std::optional<unsigned long> find_window(const char* title);
    // Every window with the title, in the server's stacking order.
    std::vector<unsigned long> find_windows(const char* title);
    // The window's inner size in pixels.
    std::optional<std::pair<int, int>> window_size(unsigned long window);

    // The window's pixels as 0xRRGGBB, row by row.
    struct Shot {
        int w = 0, h = 0;
        std::vector<std::uint32_t> px;
        std::uint32_t at(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x]; }
    };
    std::optional<Shot> screenshot(unsigned long window);

    void click(unsigned long window, int x, int y);
    // One notch of the wheel with the pointer at (x, y): towards the user (down) or away.
    void wheel(unsigned long window, int x, int y, bool down);
    enum class Key { K, Escape, Space, AudioPrev, Enter, Backspace, Left, Tab };
    enum Modifier : unsigned { None = 0, Ctrl = 1, Alt = 2, Shift = 4 };
    // False when the server's keymap has no key for it.
    bool key(Key key, unsigned modifiers = None);
    // Types printable ASCII text key by key (Shift for capitals and the
    // shifted symbols of a US keymap); false when a character has no key.
    bool type(std::string_view text);
    // Puts the window above its siblings (there is no window manager to ask).
    void raise(unsigned long window);
    // Moves the pointer to the screen's bottom right corner, away from a
    // window at the top left, so that nothing shows a hover.
    void park_pointer();
    // Moves the pointer to (x, y) in the window.
    void move_to(unsigned long window, int x, int y);
    // Asks the window to close, as a window manager's close button does.
    void close(unsigned long window);
    // Sends an event to a window that no longer exists and waits for the server's
    // answer: a failed request, handled by whatever X error handler the process has.
    void send_to_a_window_that_is_gone();

private:
    void* m_dpy = nullptr;
};

}  // namespace vorn_test
