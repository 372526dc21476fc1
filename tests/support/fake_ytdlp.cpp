// A stand-in for the yt-dlp program in tests, driven by a scenario file
// named by VORN_FAKE_YTDLP_SCENARIO. The file holds lines of directives;
// "[when TEXT]" starts a section used when some argument contains TEXT,
// "[always]" one used for any run; the first matching section is used, and
// lines before the first section apply to every run.
//
//   record PATH        append the argument list as one JSON array line
//   stdout TEXT        print TEXT (\n, \t, \\ escapes) to standard output
//   stdout-file PATH   print the file's bytes to standard output
//   stderr TEXT        print TEXT to standard error
//   flood N            print N bytes to standard output
//   sleep SECONDS      sleep (fractions allowed) before exiting
//   ignore-term        ignore SIGTERM
//   grandchild SECONDS leave a process that holds the pipes for SECONDS
//   exit N             exit status (default 0)
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out.push_back(next == 'n' ? '\n' : next == 't' ? '\t' : next);
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void write_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const char* scenario_path = std::getenv("VORN_FAKE_YTDLP_SCENARIO");
    if (scenario_path == nullptr) {
        std::cerr << "ERROR: no scenario\n";
        return 90;
    }
    std::ifstream scenario(scenario_path);
    std::vector<std::pair<std::string, std::string>> directives;
    enum { Global, Chosen, Skipped, Done } state = Global;
    std::string line;
    while (std::getline(scenario, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[') {
            if (state == Chosen) {
                state = Done;
            } else if (state != Done) {
                bool match = line == "[always]";
                if (line.rfind("[when ", 0) == 0 && line.back() == ']') {
                    const std::string needle = line.substr(6, line.size() - 7);
                    for (const auto& arg : args) match = match || arg.find(needle) != std::string::npos;
                }
                state = match ? Chosen : Skipped;
            }
            continue;
        }
        if (state == Skipped || state == Done) continue;
        const auto space = line.find(' ');
        directives.emplace_back(line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1));
    }

    int exit_status = 0;
    double sleep_seconds = 0;
    for (const auto& [name, value] : directives) {
        if (name == "ignore-term") {
            ::signal(SIGTERM, SIG_IGN);
        } else if (name == "record") {
            std::ofstream record(value, std::ios::app);
            record << nlohmann::json(args).dump() << '\n';
        } else if (name == "grandchild") {
            if (::fork() == 0) {
                std::this_thread::sleep_for(std::chrono::duration<double>(std::stod(value)));
                ::_exit(0);
            }
        } else if (name == "stdout") {
            write_all(1, unescape(value));
        } else if (name == "stdout-file") {
            std::ifstream in(value, std::ios::binary);
            std::stringstream bytes;
            bytes << in.rdbuf();
            write_all(1, bytes.str());
        } else if (name == "stderr") {
            write_all(2, unescape(value));
        } else if (name == "flood") {
            const std::string block(65536, 'x');
            for (long long left = std::stoll(value); left > 0; left -= static_cast<long long>(block.size())) {
                write_all(1, block.substr(0, static_cast<std::size_t>(std::min<long long>(left, 65536))));
            }
        } else if (name == "sleep") {
            sleep_seconds = std::stod(value);
        } else if (name == "exit") {
            exit_status = std::stoi(value);
        }
    }
    if (sleep_seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(sleep_seconds));
    return exit_status;
}
