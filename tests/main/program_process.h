// The real program as a person runs it, for the window tests and benchmarks:
// a home of its own (HOME and the XDG folders in a temporary folder, the fake
// yt-dlp first on PATH), a private session bus, the program as a child
// process with its output in files, and a trap that counts any connection a
// proxy-aware client tries towards an outside address.
//
// Test thread only, except ConnectionTrap::connections (any thread).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vorn_test {

// A temporary folder that holds everything the program reads and writes.
class ProgramHome {
public:
    ProgramHome();
    ~ProgramHome();
    ProgramHome(const ProgramHome&) = delete;
    ProgramHome& operator=(const ProgramHome&) = delete;

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path home() const { return m_root / "home"; }
    std::filesystem::path data() const { return m_root / "data"; }
    std::filesystem::path config() const { return m_root / "config"; }
    std::filesystem::path state() const { return m_root / "state"; }
    std::filesystem::path cache() const { return m_root / "cache"; }
    std::filesystem::path runtime() const { return m_root / "runtime"; }
    std::filesystem::path bin() const { return m_root / "bin"; }

    // The fake yt-dlp's scenario (see tests/support/fake_ytdlp.cpp); every run
    // is recorded.
    void set_ytdlp_scenario(const std::string& text);
    // Argument lists of every yt-dlp run so far.
    std::vector<std::vector<std::string>> ytdlp_runs() const;
    // Writes a file under the home's root and answers its path.
    std::filesystem::path write_file(const std::string& name, const std::string& bytes);

    // The shared library document and the owner-local history files.
    std::filesystem::path shared_document() const;
    std::vector<std::filesystem::path> history_files() const;

    // The environment of the program: nothing of the caller's but the
    // display, the bus and the locale; everything else points here.
    std::map<std::string, std::string> environment() const;

private:
    std::filesystem::path m_root;
};

// A private session bus (dbus-daemon), for the life of the object.
class DbusSession {
public:
    DbusSession();
    ~DbusSession();
    DbusSession(const DbusSession&) = delete;
    DbusSession& operator=(const DbusSession&) = delete;
    bool ok() const { return !m_address.empty(); }
    const std::string& address() const { return m_address; }

private:
    pid_t m_pid = -1;
    std::string m_address;
};

// Counts the connections made to it (a proxy that answers nothing).
class ConnectionTrap {
public:
    ConnectionTrap();
    ~ConnectionTrap();
    ConnectionTrap(const ConnectionTrap&) = delete;
    ConnectionTrap& operator=(const ConnectionTrap&) = delete;
    bool ok() const { return m_port > 0; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    int connections() const { return m_connections.load(); }

private:
    int m_fd = -1;
    int m_port = 0;
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The program as a child process in its own process group; its standard
// output and error go to files. The destructor kills what is still running.
class ProgramProcess {
public:
    // argv[0] is the program's path.
    static std::optional<ProgramProcess> start(const std::vector<std::string>& argv,
                                               const std::map<std::string, std::string>& env,
                                               const std::filesystem::path& output_dir);
    ProgramProcess(ProgramProcess&& other) noexcept;
    ProgramProcess& operator=(ProgramProcess&&) = delete;
    ProgramProcess(const ProgramProcess&) = delete;
    ~ProgramProcess();

    pid_t pid() const { return m_pid; }
    // The exit status once it ended (128 + the signal for a killed one), or
    // none when it is still running after `limit`.
    std::optional<int> wait(std::chrono::milliseconds limit);
    bool running();
    // Sends SIGTERM, then SIGKILL after `grace`; answers the status.
    int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));
    std::string standard_output() const;
    std::string standard_error() const;

private:
    ProgramProcess() = default;
    pid_t m_pid = -1;
    std::optional<int> m_status;
    std::filesystem::path m_stdout;
    std::filesystem::path m_stderr;
};

// The built program.
std::string program_path();

// The lines of a program's standard error in which GStreamer reports a fault
// (GStreamer-CRITICAL, GStreamer-WARNING, and the same of its libraries, such
// as GStreamer-Video-CRITICAL), each with its line end; empty when none.
std::string gstreamer_complaints(const std::string& standard_error);

}  // namespace vorn_test
