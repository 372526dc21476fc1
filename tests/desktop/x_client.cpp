#include "x_client.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <chrono>
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

void XClient::click_button(unsigned long window, int x, int y, unsigned button) {
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(dpy(m_dpy), window, DefaultRootWindow(dpy(m_dpy)), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(dpy(m_dpy), DefaultScreen(dpy(m_dpy)), rx, ry, 0);
    XTestFakeButtonEvent(dpy(m_dpy), button, True, 0);
    XTestFakeButtonEvent(dpy(m_dpy), button, False, 0);
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
        case Key::V: sym = XK_v; break;
        case Key::Up: sym = XK_Up; break;
        case Key::Down: sym = XK_Down; break;
        case Key::Home: sym = XK_Home; break;
        case Key::End: sym = XK_End; break;
        case Key::Insert: sym = XK_Insert; break;
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

// ---- SelectionOwner ----

SelectionOwner::SelectionOwner(std::string_view selection, std::string text) : m_text(std::move(text)) {
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) return;
    m_dpy = d;
    m_window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    m_selection = XInternAtom(d, std::string(selection).c_str(), False);
    XSetSelectionOwner(d, m_selection, m_window, CurrentTime);
    XSync(d, False);
    m_owns = XGetSelectionOwner(d, m_selection) == m_window;
    m_thread = std::thread([this] { serve(); });
}

SelectionOwner::~SelectionOwner() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_dpy != nullptr) {
        XDestroyWindow(dpy(m_dpy), m_window);
        XCloseDisplay(dpy(m_dpy));
    }
}

// Answers every request for the text: the list of targets it offers, or the
// text as UTF8_STRING, STRING or TEXT written into the requestor's property.
void SelectionOwner::serve() {
    Display* d = dpy(m_dpy);
    const Atom targets = XInternAtom(d, "TARGETS", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    const Atom text = XInternAtom(d, "TEXT", False);
    while (!m_stop) {
        if (XPending(d) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type == SelectionClear) {
            m_owns = false;
            continue;
        }
        if (ev.type != SelectionRequest) continue;
        const XSelectionRequestEvent& req = ev.xselectionrequest;
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.display = d;
        reply.requestor = req.requestor;
        reply.selection = req.selection;
        reply.target = req.target;
        reply.time = req.time;
        // Old clients name no property: the target is the property then.
        const Atom property = req.property != None ? req.property : req.target;
        reply.property = None;
        if (req.target == targets) {
            const Atom offered[] = {targets, utf8, XA_STRING, text};
            XChangeProperty(d, req.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(offered), 4);
            reply.property = property;
        } else if (req.target == utf8 || req.target == XA_STRING || req.target == text) {
            XChangeProperty(d, req.requestor, property, req.target == text ? utf8 : req.target, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(m_text.data()), static_cast<int>(m_text.size()));
            reply.property = property;
            ++m_served;
        }
        XSendEvent(d, req.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
        XFlush(d);
    }
}

}  // namespace vorn_test
