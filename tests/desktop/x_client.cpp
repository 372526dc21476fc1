#include "x_client.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <string>

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

bool XClient::key(Key key) {
    KeySym sym = XK_space;
    switch (key) {
        case Key::K: sym = XK_k; break;
        case Key::Escape: sym = XK_Escape; break;
        case Key::Space: sym = XK_space; break;
        case Key::AudioPrev: sym = XF86XK_AudioPrev; break;
    }
    const KeyCode code = XKeysymToKeycode(dpy(m_dpy), sym);
    if (code == 0) return false;
    XTestFakeKeyEvent(dpy(m_dpy), code, True, 0);
    XTestFakeKeyEvent(dpy(m_dpy), code, False, 0);
    XFlush(dpy(m_dpy));
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

}  // namespace vorn_test
