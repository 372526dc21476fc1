#include "bounded_command/bounded_command.h"
#include "unique_fd/unique_fd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fmt/format.h>

extern char** environ;

namespace bounded_command {

namespace {

using Clock = std::chrono::steady_clock;

// How often the child is checked for having ended when no process handle
// could be opened for it.
constexpr int kFallbackTickMs = 20;

using Fd = unique_fd::UniqueFd;

std::string errno_text(int error) { return std::strerror(error); }

std::string duration_text(std::chrono::milliseconds timeout) {
    if (timeout.count() % 1000 == 0) return fmt::format("{} s", timeout.count() / 1000);
    return fmt::format("{} ms", timeout.count());
}

// The spawn helpers, released in reverse order of creation.
struct SpawnSetup {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attr{};
    bool have_actions = false;
    bool have_attr = false;
    ~SpawnSetup() {
        if (have_attr) posix_spawnattr_destroy(&attr);
        if (have_actions) posix_spawn_file_actions_destroy(&actions);
    }
};

enum class ReadState { Open, Closed, OverLimit, Failed };

// Reads what the pipe holds now, without blocking.
ReadState drain(Fd& fd, std::string& sink, std::size_t limit) {
    std::array<char, 65536> buffer;
    while (fd.valid()) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n > 0) {
            const auto count = static_cast<std::size_t>(n);
            if (sink.size() + count > limit) {
                sink.append(buffer.data(), limit - std::min(limit, sink.size()));
                return ReadState::OverLimit;
            }
            sink.append(buffer.data(), count);
            continue;
        }
        if (n == 0) {
            fd.reset();
            return ReadState::Closed;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadState::Open;
        return ReadState::Failed;
    }
    return ReadState::Closed;
}

class Child {
public:
    explicit Child(pid_t pid) : m_pid(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // A child that was never reaped is killed and reaped here, so no path
    // leaves a zombie or a running group behind.
    ~Child() {
        if (!m_reaped) {
            kill_group();
            (void)reap();
        }
    }

    pid_t pid() const { return m_pid; }

    void kill_group() const {
        ::kill(-m_pid, SIGKILL);
        ::kill(m_pid, SIGKILL);
    }

    // True once the child has ended; it stays a zombie (its group id stays
    // reserved) until reap().
    bool has_ended() const {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
            return errno == ECHILD;
        }
        return info.si_pid == m_pid;
    }

    int reap() {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0) {
            if (errno != EINTR) {
                status = 0;
                break;
            }
        }
        m_reaped = true;
        return status;
    }

private:
    pid_t m_pid;
    bool m_reaped = false;
};

std::unexpected<Error> fail(ErrorKind kind, std::string message) {
    return std::unexpected(Error{kind, std::move(message)});
}

}  // namespace

std::expected<Output, Error> run(std::string_view program, std::span<const std::string> args,
                                 std::size_t output_limit, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const std::string program_text(program);
    if (program_text.empty()) return fail(ErrorKind::Spawn, "no program given");

    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) return fail(ErrorKind::Spawn, "pipe: " + errno_text(errno));
    Fd out_read(out_pipe[0]);
    Fd out_write(out_pipe[1]);
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) return fail(ErrorKind::Spawn, "pipe: " + errno_text(errno));
    Fd err_read(err_pipe[0]);
    Fd err_write(err_pipe[1]);

    SpawnSetup setup;
    if (posix_spawn_file_actions_init(&setup.actions) != 0) return fail(ErrorKind::Spawn, "spawn set-up failed");
    setup.have_actions = true;
    if (posix_spawnattr_init(&setup.attr) != 0) return fail(ErrorKind::Spawn, "spawn set-up failed");
    setup.have_attr = true;

    sigset_t no_signals;
    sigemptyset(&no_signals);
    sigset_t all_signals;
    sigfillset(&all_signals);
    int rc = 0;
    rc |= posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    rc |= posix_spawn_file_actions_adddup2(&setup.actions, out_write.get(), 1);
    rc |= posix_spawn_file_actions_adddup2(&setup.actions, err_write.get(), 2);
    rc |= posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    rc |= posix_spawnattr_setpgroup(&setup.attr, 0);
    rc |= posix_spawnattr_setsigmask(&setup.attr, &no_signals);
    rc |= posix_spawnattr_setsigdefault(&setup.attr, &all_signals);
    if (rc != 0) return fail(ErrorKind::Spawn, "spawn set-up failed");

    std::vector<std::string> storage;
    storage.reserve(args.size() + 1);
    storage.push_back(program_text);
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    rc = posix_spawnp(&pid, program_text.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
    if (rc != 0) return fail(ErrorKind::Spawn, fmt::format("{}: {}", program_text, errno_text(rc)));
    Child child(pid);
    out_write.reset();
    err_write.reset();

    for (Fd* fd : {&out_read, &err_read}) {
        const int flags = ::fcntl(fd->get(), F_GETFL);
        ::fcntl(fd->get(), F_SETFL, flags | O_NONBLOCK);
    }
    Fd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

    Output output;
    const auto over_limit = [&] {
        child.kill_group();
        child.reap();
        return fail(ErrorKind::OutputLimit,
                    fmt::format("{} output passed the limit of {} bytes", program_text, output_limit));
    };
    const auto read_failed = [&] {
        child.kill_group();
        child.reap();
        return fail(ErrorKind::Io, fmt::format("reading the output of {} failed: {}", program_text, errno_text(errno)));
    };

    bool ended = false;
    while (!ended) {
        const auto now = Clock::now();
        if (now >= deadline) {
            child.kill_group();
            child.reap();
            return fail(ErrorKind::TimedOut, fmt::format("{} timed out after {}", program_text, duration_text(timeout)));
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        int wait_ms = static_cast<int>(std::min<long long>(left, 60'000));

        std::array<pollfd, 3> fds{};
        nfds_t count = 0;
        int out_slot = -1, err_slot = -1, process_slot = -1;
        if (out_read.valid()) {
            out_slot = static_cast<int>(count);
            fds[count++] = pollfd{out_read.get(), POLLIN, 0};
        }
        if (err_read.valid()) {
            err_slot = static_cast<int>(count);
            fds[count++] = pollfd{err_read.get(), POLLIN, 0};
        }
        if (process.valid()) {
            process_slot = static_cast<int>(count);
            fds[count++] = pollfd{process.get(), POLLIN, 0};
        } else {
            wait_ms = std::min(wait_ms, kFallbackTickMs);
        }

        const int ready = ::poll(fds.data(), count, wait_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return read_failed();
        }
        const auto readable = [&](int slot) {
            return slot >= 0 && (fds[static_cast<std::size_t>(slot)].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        };
        if (readable(out_slot)) {
            const ReadState state = drain(out_read, output.stdout_bytes, output_limit);
            if (state == ReadState::OverLimit) return over_limit();
            if (state == ReadState::Failed) return read_failed();
        }
        if (readable(err_slot)) {
            const ReadState state = drain(err_read, output.stderr_bytes, output_limit);
            if (state == ReadState::OverLimit) return over_limit();
            if (state == ReadState::Failed) return read_failed();
        }
        if (process.valid() ? readable(process_slot) : child.has_ended()) ended = true;
    }

    // The child has ended: take what it wrote, then stop whatever it left
    // behind in its group (a grandchild may hold the pipes open forever).
    for (auto [fd, sink] : {std::pair{&out_read, &output.stdout_bytes}, std::pair{&err_read, &output.stderr_bytes}}) {
        const ReadState state = drain(*fd, *sink, output_limit);
        if (state == ReadState::OverLimit) return over_limit();
        if (state == ReadState::Failed) return read_failed();
    }
    ::kill(-pid, SIGKILL);
    const int status = child.reap();
    if (WIFSIGNALED(status)) {
        return fail(ErrorKind::Signaled,
                    fmt::format("{} was ended by signal {}", program_text, WTERMSIG(status)));
    }
    output.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

}  // namespace bounded_command
