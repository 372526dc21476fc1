#include "program_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "announcing_child.h"

namespace vorn_test {

namespace fs = std::filesystem;

namespace {

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

int status_of(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

}  // namespace

std::string program_path() { return std::string(VORN_BINARY_DIR) + "/bin/vorn-sarn"; }

std::string gstreamer_complaints(const std::string& standard_error) {
    static const std::regex complaint(R"(GStreamer(-[A-Za-z]+)*-(CRITICAL|WARNING))");
    std::string out;
    std::istringstream lines(standard_error);
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, complaint)) out += line + "\n";
    }
    return out;
}

// ---- ProgramHome ----

ProgramHome::ProgramHome() {
    std::string pattern = (fs::temp_directory_path() / "vorn-sarn-home-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    m_root = pattern;
    for (const fs::path& dir : {home(), data(), config(), state(), cache(), runtime(), bin()}) {
        fs::create_directories(dir);
    }
    fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    fs::create_symlink(FAKE_YTDLP_PATH, bin() / "yt-dlp");
    set_ytdlp_scenario("");
}

ProgramHome::~ProgramHome() {
    if (m_root.empty()) return;
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

void ProgramHome::set_ytdlp_scenario(const std::string& text) {
    std::ofstream out(m_root / "ytdlp-scenario.txt", std::ios::trunc);
    out << "record " << (m_root / "ytdlp-runs.jsonl").string() << "\n" << text;
}

std::vector<std::vector<std::string>> ProgramHome::ytdlp_runs() const {
    std::vector<std::vector<std::string>> out;
    std::ifstream in(m_root / "ytdlp-runs.jsonl");
    std::string line;
    while (std::getline(in, line)) {
        auto parsed = nlohmann::json::parse(line, nullptr, false);
        if (parsed.is_array()) out.push_back(parsed.get<std::vector<std::string>>());
    }
    return out;
}

fs::path ProgramHome::write_file(const std::string& name, const std::string& bytes) {
    const fs::path path = m_root / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return path;
}

fs::path ProgramHome::shared_document() const { return data() / "vorn" / "org.vorn.Sarn" / "shared.automerge"; }

std::vector<fs::path> ProgramHome::history_files() const {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(data() / "vorn" / "sarn" / "history", ec)) {
        if (entry.path().extension() == ".automerge") out.push_back(entry.path());
    }
    return out;
}

std::map<std::string, std::string> ProgramHome::environment() const {
    std::map<std::string, std::string> env = {
        {"HOME", home().string()},
        {"XDG_DATA_HOME", data().string()},
        {"XDG_CONFIG_HOME", config().string()},
        {"XDG_STATE_HOME", state().string()},
        {"XDG_CACHE_HOME", cache().string()},
        {"XDG_RUNTIME_DIR", runtime().string()},
        {"PATH", bin().string() + ":/usr/local/bin:/usr/bin:/bin"},
        {"VORN_FAKE_YTDLP_SCENARIO", (m_root / "ytdlp-scenario.txt").string()},
        {"LANG", "C.UTF-8"},
        {"USER", "tester"},
        {"HOSTNAME", "vorn-test"},
        // No sound card is needed.
        {"SDL_AUDIODRIVER", "dummy"},
    };
    for (const char* keep : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(keep)) env[keep] = value;
    }
    return env;
}

// ---- DbusSession ----

DbusSession::DbusSession() {
    AnnouncedChild daemon = start_announcing_child(
        "dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address={fd}"});
    m_pid = daemon.pid;
    m_address = daemon.line;
}

DbusSession::~DbusSession() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

// ---- ConnectionTrap ----

ConnectionTrap::ConnectionTrap() {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(m_fd, 16) != 0 ||
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(m_fd);
        m_fd = -1;
        return;
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] {
        while (!m_stop.load()) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const int client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            m_connections.fetch_add(1);
            close(client);
        }
    });
}

ConnectionTrap::~ConnectionTrap() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_fd >= 0) close(m_fd);
}

// ---- ProgramProcess ----

std::optional<ProgramProcess> ProgramProcess::start(const std::vector<std::string>& argv,
                                                    const std::map<std::string, std::string>& env,
                                                    const fs::path& output_dir) {
    static std::atomic<int> serial{0};
    const int n = serial.fetch_add(1);
    ProgramProcess process;
    process.m_stdout = output_dir / ("program-" + std::to_string(n) + ".out");
    process.m_stderr = output_dir / ("program-" + std::to_string(n) + ".err");

    std::vector<std::string> env_text;
    for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);

    const std::string out_path = process.m_stdout.string();
    const std::string err_path = process.m_stderr.string();
    const pid_t pid = fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        setpgid(0, 0);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    setpgid(pid, pid);  // also from here, so that the group exists before we signal it
    process.m_pid = pid;
    return process;
}

ProgramProcess::ProgramProcess(ProgramProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)),
      m_status(other.m_status),
      m_stdout(std::move(other.m_stdout)),
      m_stderr(std::move(other.m_stderr)) {}

ProgramProcess::~ProgramProcess() {
    if (m_pid > 0 && !m_status) {
        kill(-m_pid, SIGKILL);
        int raw = 0;
        waitpid(m_pid, &raw, 0);
    }
}

std::optional<int> ProgramProcess::wait(std::chrono::milliseconds limit) {
    if (m_status) return m_status;
    if (m_pid <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == m_pid) {
            // Whatever the program left behind in its group goes too; the
            // unreaped leader keeps the group's number ours until then.
            kill(-m_pid, SIGKILL);
            int raw = 0;
            waitpid(m_pid, &raw, 0);
            m_status = status_of(raw);
            return m_status;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ProgramProcess::running() { return !wait(std::chrono::milliseconds(0)).has_value(); }

int ProgramProcess::stop(std::chrono::milliseconds grace) {
    if (m_status) return *m_status;
    kill(-m_pid, SIGTERM);
    if (auto status = wait(grace)) return *status;
    kill(-m_pid, SIGKILL);
    return wait(std::chrono::milliseconds(10000)).value_or(-1);
}

std::string ProgramProcess::standard_output() const { return read_all(m_stdout); }
std::string ProgramProcess::standard_error() const { return read_all(m_stderr); }

}  // namespace vorn_test
