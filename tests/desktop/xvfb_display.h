// A private X server (Xvfb) for window tests and benchmarks: CI has no display, so
// the test starts its own and points DISPLAY at it for the life of the object.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace vorn_test {

class XvfbDisplay {
public:
    // Starts Xvfb on a free display number; `ok()` says whether it came up.
    explicit XvfbDisplay(const char* screen = "1280x900x24") {
        int fds[2];
        if (pipe(fds) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const int devnull = open("/dev/null", O_WRONLY);
            if (devnull >= 0) {
                dup2(devnull, 1);
                dup2(devnull, 2);
            }
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp", "-noreset",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        if (m_pid < 0) {
            close(fds[0]);
            return;
        }
        // Xvfb writes its display number once it accepts connections.
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
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
