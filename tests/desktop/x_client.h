// A second connection to the test's X server: finds a window by its title, reads its
// pixels, and sends real pointer and key input through XTest. Kept apart from the
// tests because Xlib's macros clash with everything else.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
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
    // A press and release of the pointer's button number `button` (X's
    // numbers: 2 is the middle, 8 and 9 the side buttons back and forward).
    void click_button(unsigned long window, int x, int y, unsigned button);
    // One notch of the wheel with the pointer at (x, y): towards the user (down) or away.
    void wheel(unsigned long window, int x, int y, bool down);
    enum class Key { K, Escape, Space, AudioPrev, Enter, Backspace, Left, Tab, V, Up, Down, Home, End, Insert };
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

// Another X client that owns a selection (CLIPBOARD or PRIMARY) with a text,
// as a program the user copied from does, and hands it to whoever asks until
// it is destroyed or another client takes the selection. Its own connection
// and thread.
class SelectionOwner {
public:
    SelectionOwner(std::string_view selection, std::string text);
    ~SelectionOwner();
    SelectionOwner(const SelectionOwner&) = delete;
    SelectionOwner& operator=(const SelectionOwner&) = delete;
    // Whether it owns the selection (it took it and nobody took it since).
    bool owns() const { return m_owns.load(); }
    // How many times someone asked for the text.
    int served() const { return m_served.load(); }

private:
    void serve();
    void* m_dpy = nullptr;
    unsigned long m_window = 0;
    unsigned long m_selection = 0;
    std::string m_text;
    std::atomic<bool> m_owns{false};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_served{0};
    std::thread m_thread;
};

}  // namespace vorn_test
