// A private X server (Xvfb) for window tests and benchmarks: CI has no display, so
// the test starts its own and points DISPLAY at it for the life of the object.
#pragma once

#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "announcing_child.h"

namespace vorn_test {

class XvfbDisplay {
public:
    // Starts Xvfb on a free display number; `ok()` says whether it came up.
    explicit XvfbDisplay(const char* screen = "1280x900x24") {
        // Xvfb writes its display number once it accepts connections.
        AnnouncedChild server = start_announcing_child(
            "Xvfb", {"-displayfd", "{fd}", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"});
        m_pid = server.pid;
        const std::string& number = server.line;
        if (number.empty()) return;
        if (const char* old = std::getenv("DISPLAY")) m_old = old;
        m_display = ":" + number;
        setenv("DISPLAY", m_display.c_str(), 1);
    }

    ~XvfbDisplay() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_old) {
            setenv("DISPLAY", m_old->c_str(), 1);
        } else {
            unsetenv("DISPLAY");
        }
    }

    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool ok() const { return !m_display.empty(); }
    const std::string& name() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
    std::optional<std::string> m_old;
};

}  // namespace vorn_test
