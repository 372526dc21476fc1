// The window over SDL2: the only file of the program that includes SDL. It opens the
// window, turns SDL's keyboard, text, pointer and wheel events into the runtime's
// events, shows rendered frames through the window surface, and owns the clipboard.
//
// `g_mu` guards `g_alive`: other threads post wake-ups and quit requests only while a
// window (and so SDL) is up.
#include <SDL.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string_view>

#include <fmt/core.h>

#include "window_backend.h"

namespace vorn_ui::launch::detail {

namespace {

std::mutex g_mu;
bool g_alive = false;            // guarded by g_mu
Uint32 g_wake_event = 0;         // guarded by g_mu
std::atomic<bool> g_quit_early{false};

// Whether a Wayland compositor could be reached: WAYLAND_DISPLAY names one, or
// the client library's default socket exists in XDG_RUNTIME_DIR.
bool wayland_display_named() {
    if (const char* named = std::getenv("WAYLAND_DISPLAY"); named != nullptr && *named != '\0') return true;
    const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
    if (runtime_dir == nullptr || *runtime_dir == '\0') return false;
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::path(runtime_dir) / "wayland-0", ignored);
}

// Key table: SDL key codes to the runtime's named keys.
struct NamedKeyRow {
    SDL_Keycode sdl;
    NamedKey key;
};
// The media keys for the previous and next track have no row: they belong to the
// player, which the desktop reaches through MPRIS.
constexpr std::array<NamedKeyRow, 20> kNamedKeys{{
    {SDLK_TAB, NamedKey::Tab},
    {SDLK_BACKSPACE, NamedKey::Backspace},
    {SDLK_DELETE, NamedKey::Delete},
    {SDLK_INSERT, NamedKey::Insert},
    {SDLK_HOME, NamedKey::Home},
    {SDLK_END, NamedKey::End},
    {SDLK_RETURN, NamedKey::Enter},
    {SDLK_KP_ENTER, NamedKey::Enter},
    {SDLK_SPACE, NamedKey::Space},
    {SDLK_LEFT, NamedKey::ArrowLeft},
    {SDLK_RIGHT, NamedKey::ArrowRight},
    {SDLK_UP, NamedKey::ArrowUp},
    {SDLK_DOWN, NamedKey::ArrowDown},
    {SDLK_PAGEUP, NamedKey::PageUp},
    {SDLK_PAGEDOWN, NamedKey::PageDown},
    {SDLK_ESCAPE, NamedKey::Escape},
    {SDLK_F11, NamedKey::F11},
    {SDLK_AUDIOPLAY, NamedKey::MediaPlayPause},
    {SDLK_AC_BACK, NamedKey::BrowserBack},
    {SDLK_AC_FORWARD, NamedKey::BrowserForward},
}};

Modifiers modifiers_of(Uint16 mod) {
    Modifiers m;
    if (mod & KMOD_SHIFT) m.bits |= Modifiers::kShift;
    if (mod & KMOD_CAPS) m.bits |= Modifiers::kCapsLock;
    if (mod & KMOD_NUM) m.bits |= Modifiers::kNumLock;
    if (mod & KMOD_CTRL) m.bits |= Modifiers::kControl;
    if (mod & KMOD_ALT) m.bits |= Modifiers::kAlt;
    if (mod & KMOD_GUI) m.bits |= Modifiers::kSuper;
    return m;
}

std::string utf8(std::uint32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x110000) {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

std::optional<KeyEvent> translate_key(const SDL_KeyboardEvent& k) {
    const Modifiers mods = modifiers_of(k.keysym.mod);
    std::optional<KeyEvent> out;
    for (const auto& row : kNamedKeys) {
        if (row.sdl == k.keysym.sym) {
            out = KeyEvent::named_key(row.key, mods);
            break;
        }
    }
    if (!out) {
        const SDL_Keycode sym = k.keysym.sym;
        // Character keys carry their Unicode code point as the key code.
        if ((sym & SDLK_SCANCODE_MASK) != 0 || sym < 0x21 || sym == 0x7F) return std::nullopt;
        auto cp = static_cast<std::uint32_t>(sym);
        if (cp >= 'a' && cp <= 'z' && (mods.shift() != mods.has(Modifiers::kCapsLock))) cp -= 32;
        out = KeyEvent::character(utf8(cp), mods);
    }
    out->released = k.type == SDL_KEYUP;
    out->repeat = k.repeat != 0;
    return out;
}

PointerButton button_of(Uint8 b) {
    switch (b) {
        case SDL_BUTTON_RIGHT: return PointerButton::Secondary;
        case SDL_BUTTON_MIDDLE: return PointerButton::Middle;
        case SDL_BUTTON_X1: return PointerButton::Back;
        case SDL_BUTTON_X2: return PointerButton::Forward;
        default: return PointerButton::Primary;
    }
}

// The user's own scale for displays where the window system gives none.
float user_scale() {
    for (const char* name : {"VORN_UI_SCALE", "GDK_SCALE"}) {
        if (const char* v = std::getenv(name); v != nullptr) {
            char* end = nullptr;
            const float f = std::strtof(v, &end);
            if (end != v && std::isfinite(f) && f >= 0.5f && f <= 4.0f) return f;
        }
    }
    return 1.0f;
}

class SdlWindow final : public WindowBackend {
public:
    ~SdlWindow() override {
        {
            std::lock_guard lock(g_mu);
            g_alive = false;
        }
        // Without a connection to the display SDL would wait for the server's
        // answers forever: the window and the video system are left to the
        // process's end.
        if (display_connection_lost()) return;
        for (SDL_Cursor* c : m_cursors) {
            if (c != nullptr) SDL_FreeCursor(c);
        }
        if (m_window != nullptr) SDL_DestroyWindow(m_window);
        if (m_inited) SDL_VideoQuit();
        SDL_QuitSubSystem(SDL_INIT_EVENTS);
    }

    std::expected<void, std::string> init(const WindowOptions& o) {
        SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
        SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
        // Frames are drawn on the processor; the window system's own framebuffer
        // shows them without loading a GL driver (which costs tens of MiB).
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        SDL_SetHint(SDL_HINT_APP_NAME, o.title.c_str());
        if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) {
            return std::unexpected(fmt::format("the window system is not available: {}", SDL_GetError()));
        }
        // Only a real desktop will do: SDL would otherwise fall back to drivers that
        // show nothing (or take over the console).
        std::string errors;
        bool video = false;
        keep_going_after_x_errors();
        if (const char* forced = std::getenv("SDL_VIDEODRIVER"); forced != nullptr && *forced != '\0') {
            video = SDL_VideoInit(nullptr) == 0;
            if (!video) errors = SDL_GetError();
        } else {
            for (const char* driver : {"x11", "wayland"}) {
                // Without a compositor to talk to, the Wayland client library only
                // complains on standard error; say so once in the error instead.
                if (std::string_view(driver) == "wayland" && !wayland_display_named()) {
                    errors += fmt::format("{}wayland: no Wayland display is named", errors.empty() ? "" : "; ");
                    continue;
                }
                if (SDL_VideoInit(driver) == 0) {
                    video = true;
                    break;
                }
                errors += fmt::format("{}{}: {}", errors.empty() ? "" : "; ", driver, SDL_GetError());
            }
        }
        if (!video) {
            return std::unexpected(fmt::format("no desktop display to open a window on ({})", errors));
        }
        m_inited = true;
        m_user_scale = user_scale();
        Uint32 flags = SDL_WINDOW_SHOWN;
        if (o.resizable) flags |= SDL_WINDOW_RESIZABLE;
        if (o.high_dpi) flags |= SDL_WINDOW_ALLOW_HIGHDPI;
        if (o.fullscreen) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        const int w = static_cast<int>(std::lround(o.width * m_user_scale));
        const int h = static_cast<int>(std::lround(o.height * m_user_scale));
        m_window = SDL_CreateWindow(o.title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, w, h, flags);
        if (m_window == nullptr) return std::unexpected(fmt::format("could not open the window: {}", SDL_GetError()));
        SDL_StartTextInput();
        // The window system's own messages: a window destroyed by another client
        // comes only that way.
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
        x11_watch_window(m_window);
        const Uint32 wake = SDL_RegisterEvents(1);
        {
            std::lock_guard lock(g_mu);
            g_wake_event = wake;
            g_alive = true;
        }
        if (g_quit_early.exchange(false)) quit_from_any_thread();
        return {};
    }

    std::vector<WindowEvent> wait(std::optional<std::chrono::milliseconds> timeout) override {
        std::vector<WindowEvent> out;
        SDL_Event e;
        int got = 0;
        if (!timeout) {
            got = SDL_WaitEvent(&e);
        } else if (timeout->count() <= 0) {
            got = SDL_PollEvent(&e);
        } else {
            got = SDL_WaitEventTimeout(&e, static_cast<int>(std::min<std::int64_t>(timeout->count(), 1 << 30)));
        }
        while (got != 0) {
            translate(e, out);
            got = SDL_PollEvent(&e);
        }
        return out;
    }

    std::pair<std::uint32_t, std::uint32_t> pixel_size() const override {
        int w = 0, h = 0;
        SDL_GetWindowSizeInPixels(m_window, &w, &h);
        return {static_cast<std::uint32_t>(std::max(w, 1)), static_cast<std::uint32_t>(std::max(h, 1))};
    }

    float scale() const override { return system_ratio() * m_user_scale; }

    // Copies the w x h pixels at (x, y) of a premultiplied 0xAARRGGBB picture into the
    // same place of the window's surface (locked by the caller). The window's surface
    // is normally the same 32-bit layout, with or without its alpha byte (which the
    // window ignores): rows are copied as they are then, converted otherwise.
    static int copy_pixels(const std::uint8_t* argb32, std::size_t stride, SDL_Surface* surface, int x, int y, int w,
                           int h) {
        const Uint32 format = surface->format->format;
        const std::uint8_t* from = argb32 + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4;
        auto* to = static_cast<std::uint8_t*>(surface->pixels) + static_cast<std::size_t>(y) * surface->pitch +
                   static_cast<std::size_t>(x) * surface->format->BytesPerPixel;
        if (format == SDL_PIXELFORMAT_ARGB8888 || format == SDL_PIXELFORMAT_RGB888) {
            for (int row = 0; row < h; ++row) {
                std::memcpy(to + static_cast<std::size_t>(row) * surface->pitch, from + static_cast<std::size_t>(row) * stride,
                            static_cast<std::size_t>(w) * 4);
            }
            return 0;
        }
        return SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_ARGB8888, from, static_cast<int>(stride), format, to,
                                 surface->pitch);
    }

    bool present(const std::uint8_t* argb32, std::size_t stride, std::uint32_t width,
                 std::uint32_t height) override {
        SDL_Surface* surface = SDL_GetWindowSurface(m_window);
        if (surface == nullptr) return false;
        const int w = std::min(static_cast<int>(width), surface->w);
        const int h = std::min(static_cast<int>(height), surface->h);
        if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
        const int rc = copy_pixels(argb32, stride, surface, 0, 0, w, h);
        if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        return rc == 0 && SDL_UpdateWindowSurface(m_window) == 0;
    }

    bool present_area(const std::uint8_t* argb32, std::size_t stride, std::uint32_t width, std::uint32_t height,
                      Area area) override {
        SDL_Surface* surface = SDL_GetWindowSurface(m_window);
        if (surface == nullptr) return false;
        if (static_cast<int>(width) != surface->w || static_cast<int>(height) != surface->h) {
            return present(argb32, stride, width, height);
        }
        const int x0 = static_cast<int>(std::min(area.x0, width)), y0 = static_cast<int>(std::min(area.y0, height));
        const int x1 = static_cast<int>(std::min(area.x1, width)), y1 = static_cast<int>(std::min(area.y1, height));
        if (x1 <= x0 || y1 <= y0) return true;
        if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
        const int rc = copy_pixels(argb32, stride, surface, x0, y0, x1 - x0, y1 - y0);
        if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        const SDL_Rect rect{x0, y0, x1 - x0, y1 - y0};
        return rc == 0 && SDL_UpdateWindowSurfaceRects(m_window, &rect, 1) == 0;
    }

    void set_cursor(CursorShape shape) override {
        const auto index = static_cast<std::size_t>(shape);
        if (index >= m_cursors.size() || shape == m_cursor) return;
        m_cursor = shape;
        if (m_cursors[index] == nullptr) {
            SDL_SystemCursor sys = SDL_SYSTEM_CURSOR_ARROW;
            switch (shape) {
                case CursorShape::Text: sys = SDL_SYSTEM_CURSOR_IBEAM; break;
                case CursorShape::Wait: sys = SDL_SYSTEM_CURSOR_WAIT; break;
                case CursorShape::Pointer: sys = SDL_SYSTEM_CURSOR_HAND; break;
                case CursorShape::Grab:
                case CursorShape::Grabbing: sys = SDL_SYSTEM_CURSOR_SIZEALL; break;
                case CursorShape::Default: break;
            }
            m_cursors[index] = SDL_CreateSystemCursor(sys);
        }
        if (m_cursors[index] != nullptr) SDL_SetCursor(m_cursors[index]);
    }

    void set_fullscreen(bool on) override { SDL_SetWindowFullscreen(m_window, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0); }
    void set_title(const std::string& title) override { SDL_SetWindowTitle(m_window, title.c_str()); }

private:
    float system_ratio() const {
        int ww = 0, wh = 0, pw = 0, ph = 0;
        SDL_GetWindowSize(m_window, &ww, &wh);
        SDL_GetWindowSizeInPixels(m_window, &pw, &ph);
        return ww > 0 && pw > 0 ? static_cast<float>(pw) / static_cast<float>(ww) : 1.0f;
    }

    Point physical(int x, int y) const {
        const double r = system_ratio();
        m_last_pointer = {x * r, y * r};
        return m_last_pointer;
    }

    void translate(const SDL_Event& e, std::vector<WindowEvent>& out) {
        auto input = [&](Event ev) { out.push_back(WindowEvent{WindowEvent::Kind::Input, std::move(ev)}); };
        switch (e.type) {
            case SDL_QUIT: out.push_back({WindowEvent::Kind::Quit, {}}); return;
            case SDL_SYSWMEVENT:
                // Gone without a close request: the program ends as on one.
                if (x11_window_destroyed(e.syswm.msg, m_window)) out.push_back({WindowEvent::Kind::Quit, {}});
                return;
            case SDL_WINDOWEVENT:
                switch (e.window.event) {
                    case SDL_WINDOWEVENT_CLOSE: out.push_back({WindowEvent::Kind::Quit, {}}); return;
                    case SDL_WINDOWEVENT_SIZE_CHANGED:
                    case SDL_WINDOWEVENT_RESIZED: out.push_back({WindowEvent::Kind::Resized, {}}); return;
                    case SDL_WINDOWEVENT_EXPOSED:
                    case SDL_WINDOWEVENT_SHOWN:
                    case SDL_WINDOWEVENT_RESTORED: out.push_back({WindowEvent::Kind::Exposed, {}}); return;
                    case SDL_WINDOWEVENT_LEAVE: input(PointerLeaveEvent{}); return;
                    default: return;
                }
            case SDL_KEYDOWN:
            case SDL_KEYUP:
                if (auto k = translate_key(e.key)) input(std::move(*k));
                return;
            case SDL_TEXTINPUT: input(TextInputEvent{e.text.text}); return;
            case SDL_MOUSEMOTION: input(PointerMoveEvent{physical(e.motion.x, e.motion.y)}); return;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP: {
                PointerButtonEvent b;
                b.button = button_of(e.button.button);
                b.pressed = e.type == SDL_MOUSEBUTTONDOWN;
                b.position = physical(e.button.x, e.button.y);
                b.clicks = e.button.clicks;
                input(b);
                return;
            }
            case SDL_MOUSEWHEEL: {
                ScrollEvent s;
                const float flip = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0f : 1.0f;
                s.delta_x = static_cast<double>(e.wheel.preciseX * flip);
                s.delta_y = static_cast<double>(e.wheel.preciseY * flip);
                s.position = m_last_pointer;
                s.precise = false;
                input(s);
                return;
            }
            default: break;
        }
        bool woken = false;
        {
            std::lock_guard lock(g_mu);
            woken = g_wake_event != 0 && e.type == g_wake_event;
        }
        if (woken) out.push_back({WindowEvent::Kind::Woken, {}});
    }

    SDL_Window* m_window = nullptr;
    bool m_inited = false;
    float m_user_scale = 1.0f;
    mutable Point m_last_pointer{};
    std::array<SDL_Cursor*, 6> m_cursors{};
    CursorShape m_cursor = CursorShape::Default;
};

}  // namespace

std::expected<std::unique_ptr<WindowBackend>, std::string> WindowBackend::open(const WindowOptions& options) {
    auto window = std::make_unique<SdlWindow>();
    if (auto ok = window->init(options); !ok) return std::unexpected(ok.error());
    return window;
}

void wake_loop_from_any_thread() {
    std::lock_guard lock(g_mu);
    if (!g_alive) return;
    SDL_Event e{};
    e.type = g_wake_event;
    SDL_PushEvent(&e);
}

void quit_from_any_thread() {
    std::lock_guard lock(g_mu);
    if (!g_alive) {
        g_quit_early = true;
        return;
    }
    SDL_Event e{};
    e.type = SDL_QUIT;
    SDL_PushEvent(&e);
}

namespace {

// One of the desktop's selections through SDL's pair of calls for it.
std::optional<bool> selection_set(int (*set)(const char*), std::string_view text) {
    {
        std::lock_guard lock(g_mu);
        if (!g_alive) return std::nullopt;
    }
    const std::string copy(text);
    return set(copy.c_str()) == 0;
}

std::optional<std::optional<std::string>> selection_get(SDL_bool (*has)(), char* (*get)()) {
    {
        std::lock_guard lock(g_mu);
        if (!g_alive) return std::nullopt;
    }
    if (has() == SDL_FALSE) return std::optional<std::string>();
    char* text = get();
    if (text == nullptr) return std::optional<std::string>();
    std::string out(text);
    SDL_free(text);
    return std::optional<std::string>(std::move(out));
}

}  // namespace

std::optional<bool> window_clipboard_set(std::string_view text) { return selection_set(SDL_SetClipboardText, text); }

std::optional<std::optional<std::string>> window_clipboard_get() {
    return selection_get(SDL_HasClipboardText, SDL_GetClipboardText);
}

std::optional<bool> window_primary_set(std::string_view text) { return selection_set(SDL_SetPrimarySelectionText, text); }

std::optional<std::optional<std::string>> window_primary_get() {
    return selection_get(SDL_HasPrimarySelectionText, SDL_GetPrimarySelectionText);
}

}  // namespace vorn_ui::launch::detail
