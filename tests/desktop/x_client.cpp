#include "x_client.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <string>
#include <vector>

namespace vorn_test {

namespace {

Display* dpy(void* p) { return static_cast<Display*>(p); }

std::optional<Window> find(Display* d, Window w, const char* title) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name != nullptr) {
        const bool match = std::string(name) == title;
        XFree(name);
        if (match) return w;
    }
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return std::nullopt;
    std::optional<Window> found;
    for (unsigned i = 0; i < n && !found; ++i) found = find(d, kids[i], title);
    if (kids != nullptr) XFree(kids);
    return found;
}

void find_all(Display* d, Window w, const char* title, std::vector<unsigned long>& out) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name != nullptr) {
        if (std::string(name) == title) out.push_back(static_cast<unsigned long>(w));
        XFree(name);
    }
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return;
    for (unsigned i = 0; i < n; ++i) find_all(d, kids[i], title, out);
    if (kids != nullptr) XFree(kids);
}

}  // namespace

XClient::XClient() : m_dpy(XOpenDisplay(nullptr)) {}

XClient::~XClient() {
    if (m_dpy != nullptr) XCloseDisplay(dpy(m_dpy));
}

std::optional<unsigned long> XClient::find_window(const char* title) {
    auto w = find(dpy(m_dpy), DefaultRootWindow(dpy(m_dpy)), title);
    if (!w) return std::nullopt;
    return static_cast<unsigned long>(*w);
}

std::vector<unsigned long> XClient::find_windows(const char* title) {
    std::vector<unsigned long> out;
    find_all(dpy(m_dpy), DefaultRootWindow(dpy(m_dpy)), title, out);
    return out;
}

std::optional<XClient::Shot> XClient::screenshot(unsigned long window) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy(m_dpy), window, &a)) return std::nullopt;
    XImage* img = XGetImage(dpy(m_dpy), window, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (img == nullptr) return std::nullopt;
    Shot s;
    s.w = a.width;
    s.h = a.height;
    s.px.resize(static_cast<std::size_t>(s.w) * s.h);
    for (int y = 0; y < s.h; ++y) {
        for (int x = 0; x < s.w; ++x) {
            s.px[static_cast<std::size_t>(y) * s.w + x] = static_cast<std::uint32_t>(XGetPixel(img, x, y) & 0xFFFFFF);
        }
    }
    XDestroyImage(img);
    return s;
}

std::optional<std::pair<int, int>> XClient::window_size(unsigned long window) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy(m_dpy), window, &a)) return std::nullopt;
    return std::pair{a.width, a.height};
}

void XClient::raise(unsigned long window) {
    XRaiseWindow(dpy(m_dpy), window);
    XSync(dpy(m_dpy), False);
}

void XClient::park_pointer() {
    Display* d = dpy(m_dpy);
    const int screen = DefaultScreen(d);
    XTestFakeMotionEvent(d, screen, DisplayWidth(d, screen) - 1, DisplayHeight(d, screen) - 1, 0);
    XSync(d, False);
}

void XClient::move_to(unsigned long window, int x, int y) {
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(dpy(m_dpy), window, DefaultRootWindow(dpy(m_dpy)), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(dpy(m_dpy), DefaultScreen(dpy(m_dpy)), rx, ry, 0);
    XFlush(dpy(m_dpy));
}

void XClient::click(unsigned long window, int x, int y) {
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(dpy(m_dpy), window, DefaultRootWindow(dpy(m_dpy)), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(dpy(m_dpy), DefaultScreen(dpy(m_dpy)), rx, ry, 0);
    XTestFakeButtonEvent(dpy(m_dpy), 1, True, 0);
    XTestFakeButtonEvent(dpy(m_dpy), 1, False, 0);
    XFlush(dpy(m_dpy));
}

void XClient::wheel(unsigned long window, int x, int y, bool down) {
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(dpy(m_dpy), window, DefaultRootWindow(dpy(m_dpy)), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(dpy(m_dpy), DefaultScreen(dpy(m_dpy)), rx, ry, 0);
    const unsigned int button = down ? 5 : 4;  // X reports wheel notches as buttons 4 and 5
    XTestFakeButtonEvent(dpy(m_dpy), button, True, 0);
    XTestFakeButtonEvent(dpy(m_dpy), button, False, 0);
    XFlush(dpy(m_dpy));
}

namespace {

// Presses the modifiers, taps the key, lets go in reverse order.
bool tap(Display* d, KeySym sym, unsigned modifiers) {
    const KeyCode code = XKeysymToKeycode(d, sym);
    if (code == 0) return false;
    std::vector<KeyCode> held;
    const std::pair<unsigned, KeySym> mods[] = {
        {XClient::Ctrl, XK_Control_L}, {XClient::Alt, XK_Alt_L}, {XClient::Shift, XK_Shift_L}};
    for (const auto& [bit, mod_sym] : mods) {
        if ((modifiers & bit) == 0) continue;
        const KeyCode mod = XKeysymToKeycode(d, mod_sym);
        if (mod == 0) return false;
        XTestFakeKeyEvent(d, mod, True, 0);
        held.push_back(mod);
    }
    XTestFakeKeyEvent(d, code, True, 0);
    XTestFakeKeyEvent(d, code, False, 0);
    for (auto it = held.rbegin(); it != held.rend(); ++it) XTestFakeKeyEvent(d, *it, False, 0);
    XFlush(d);
    return true;
}

}  // namespace

bool XClient::key(Key key, unsigned modifiers) {
    KeySym sym = XK_space;
    switch (key) {
        case Key::K: sym = XK_k; break;
        case Key::Escape: sym = XK_Escape; break;
        case Key::Space: sym = XK_space; break;
        case Key::AudioPrev: sym = XF86XK_AudioPrev; break;
        case Key::Enter: sym = XK_Return; break;
        case Key::Backspace: sym = XK_BackSpace; break;
        case Key::Left: sym = XK_Left; break;
        case Key::Tab: sym = XK_Tab; break;
    }
    return tap(dpy(m_dpy), sym, modifiers);
}

bool XClient::type(std::string_view text) {
    static constexpr std::string_view kShifted = "~!@#$%^&*()_+{}|:\"<>?";
    static constexpr std::string_view kUnshifted = "`1234567890-=[]\\;',./";
    for (const char c : text) {
        unsigned modifiers = None;
        char base = c;
        if (c >= 'A' && c <= 'Z') {
            modifiers = Shift;
            base = static_cast<char>(c - 'A' + 'a');
        } else if (const auto at = kShifted.find(c); at != std::string_view::npos) {
            modifiers = Shift;
            base = kUnshifted[at];
        }
        // Latin-1 key symbols are the characters' own codes.
        const KeySym sym = base == ' ' ? XK_space : static_cast<KeySym>(static_cast<unsigned char>(base));
        if (!tap(dpy(m_dpy), sym, modifiers)) return false;
    }
    return true;
}

void XClient::close(unsigned long window) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = window;
    ev.xclient.message_type = XInternAtom(dpy(m_dpy), "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy(m_dpy), "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy(m_dpy), window, False, NoEventMask, &ev);
    XFlush(dpy(m_dpy));
}

void XClient::send_to_a_window_that_is_gone() {
    Display* d = dpy(m_dpy);
    const Window gone = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XDestroyWindow(d, gone);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = gone;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    XSendEvent(d, gone, False, NoEventMask, &ev);
    XSync(d, False);
}

}  // namespace vorn_test
