// A helper program that says one line on a descriptor it is told of once it is
// ready (Xvfb its display number, dbus-daemon its bus address), its own output
// silenced. For tests and benchmarks that start their own servers.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace vorn_test {

struct AnnouncedChild {
    pid_t pid = -1;    // -1 when it could not be started
    std::string line;  // what it said; empty when it ended first
};

// Starts `program` with `arguments`, where "{fd}" stands for the descriptor to
// write on, and waits for its line.
inline AnnouncedChild start_announcing_child(const char* program, const std::vector<std::string>& arguments) {
    AnnouncedChild child;
    int fds[2];
    if (pipe(fds) != 0) return child;
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args{program};
    for (const std::string& a : arguments) {
        std::string with_fd = a;
        if (const auto at = with_fd.find("{fd}"); at != std::string::npos) with_fd.replace(at, 4, fd);
        args.push_back(std::move(with_fd));
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    child.pid = fork();
    if (child.pid == 0) {
        close(fds[0]);
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        execvp(program, argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (child.pid < 0) {
        close(fds[0]);
        return child;
    }
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') child.line += c;
    close(fds[0]);
    return child;
}

}  // namespace vorn_test
