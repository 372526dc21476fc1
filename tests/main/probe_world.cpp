#include "probe_world.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "encode_fixtures.h"
#include "vorn_ui/offscreen.h"

namespace sarn::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kJsonType = "application/json; charset=UTF-8";
constexpr std::string_view kPopularParams = "CAMSBAgDEAHwAQE%3D";

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The folder of the clip, removed when the test program ends.
struct ClipFolder {
    fs::path dir;
    fs::path clip;
    ClipFolder() {
        std::string pattern = (fs::temp_directory_path() / "vorn-probe-clip-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return;
        dir = pattern;
        clip = dir / "clip.webm";
        // Eight seconds of a moving ball in VP8 with a tone in Vorbis.
        const std::string cmd = fmt::format(
            "timeout 60 gst-launch-1.0 -q -e "
            "videotestsrc num-buffers=240 pattern=ball ! video/x-raw,width=320,height=240,framerate=30/1 "
            "! vp8enc deadline=1 ! queue ! webmmux name=mux ! filesink location={} "
            "audiotestsrc num-buffers=345 ! audioconvert ! vorbisenc ! queue ! mux. >/dev/null 2>&1",
            clip.string());
        if (std::system(cmd.c_str()) != 0) clip.clear();
    }
    ~ClipFolder() {
        std::error_code ignored;
        if (!dir.empty()) fs::remove_all(dir, ignored);
    }
};

std::uint32_t fnv1a(std::string_view text) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : text) h = (h ^ c) * 16777619u;
    return h;
}

struct Rgb {
    double r, g, b;
};

Rgb hue(double degrees, double saturation, double value) {
    const double c = value * saturation;
    const double h = std::fmod(degrees, 360.0) / 60.0;
    const double x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1));
    Rgb out{0, 0, 0};
    if (h < 1) out = {c, x, 0};
    else if (h < 2) out = {x, c, 0};
    else if (h < 3) out = {0, c, x};
    else if (h < 4) out = {0, x, c};
    else if (h < 5) out = {x, 0, c};
    else out = {c, 0, x};
    const double m = value - c;
    return {out.r + m, out.g + m, out.b + m};
}

}  // namespace

std::vector<std::uint8_t> picture_for(const std::string& path, bool jpeg) {
    const std::uint32_t h = fnv1a(path);
    const bool avatar = path.find("avatar") != std::string::npos;
    const bool banner = path.find("banner") != std::string::npos;
    const std::uint32_t w = avatar ? 176 : banner ? 1280 : 480;
    const std::uint32_t ht = avatar ? 176 : banner ? 320 : 270;
    const Rgb a = hue(h % 360, 0.65, 0.9);
    const Rgb b = hue((h % 360) + 140, 0.7, 0.45);
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(w) * ht * 4);
    for (std::uint32_t y = 0; y < ht; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            double t = (static_cast<double>(x) / w + static_cast<double>(y) / ht) / 2;
            Rgb c{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
            if (avatar) {
                // A light disc in the middle, like a face on a backdrop.
                const double dx = x - w / 2.0, dy = y - ht / 2.0 + 10;
                if (dx * dx + dy * dy < 40.0 * 40.0) c = {0.96, 0.93, 0.88};
            } else if (!banner && (x / 60 + y / 60 + h) % 5 == 0) {
                c = {c.r * 0.75, c.g * 0.75, c.b * 0.75};
            }
            std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * w + x) * 4];
            p[0] = static_cast<std::uint8_t>(std::lround(std::clamp(c.r, 0.0, 1.0) * 255));
            p[1] = static_cast<std::uint8_t>(std::lround(std::clamp(c.g, 0.0, 1.0) * 255));
            p[2] = static_cast<std::uint8_t>(std::lround(std::clamp(c.b, 0.0, 1.0) * 255));
            p[3] = 255;
        }
    }
    if (jpeg) return test_images::encode_jpeg(w, ht, rgba);
    auto png = vorn_ui::offscreen::encode_png(w, ht, rgba);
    return png ? *png : std::vector<std::uint8_t>{};
}

const fs::path& ProbeWorld::clip() {
    static const ClipFolder folder;
    return folder.clip;
}

ProbeWorld::ProbeWorld() {
    auto& server = m_server.server();
    server.Post(R"(/youtubei/v1/(.+))", [this](const httplib::Request& req, httplib::Response& res) { handle_api(req, res); });
    auto serve_picture = [](const httplib::Request& req, httplib::Response& res) {
        const bool jpeg = !req.path.ends_with(".png");
        const auto bytes = picture_for(req.path, jpeg);
        res.set_content(std::string(bytes.begin(), bytes.end()), jpeg ? "image/jpeg" : "image/png");
    };
    server.Get(R"(/img/.+)", serve_picture);
    server.Get(R"(/vi/[^/]+/hqdefault\.jpg)", serve_picture);
    server.Get("/clip.webm", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(read_file(clip()), "video/webm");
    });
    server.Get("/broken.webm", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(64 * 1024, 'x'), "video/webm");
    });
    server.Get("/latest_version", [this](const httplib::Request&, httplib::Response& res) {
        if (!m_invidious) {
            res.status = 404;
            return;
        }
        res.set_content(read_file(clip()), "video/webm");
    });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        std::lock_guard lock(m_mu);
        m_requests.push_back(fmt::format("{} {} {}", req.method, req.path, res.status));
    });
    m_ok = m_trap.ok() && m_server.start() && !clip().empty();
    set_ytdlp("");
}

ProbeWorld::~ProbeWorld() { m_server.stop(); }

std::string ProbeWorld::fixture(const std::string& name) const {
    const std::string text = read_file(fs::path(VORN_SOURCE_DIR) / "tests/main/fixtures" / name);
    return replace_all(text, "{{ORIGIN}}", origin());
}

void ProbeWorld::answer(std::string key, ApiAnswer answer) {
    std::lock_guard lock(m_mu);
    m_answers[std::move(key)] = std::move(answer);
}

void ProbeWorld::fail_api(int status) {
    std::lock_guard lock(m_mu);
    m_api_failure = status;
}

void ProbeWorld::handle_api(const httplib::Request& req, httplib::Response& res) {
    const auto body = nlohmann::json::parse(req.body, nullptr, false);
    std::string member;
    for (const char* name : {"query", "videoId", "browseId", "continuation", "url"}) {
        if (body.is_object() && body.contains(name) && body[name].is_string()) {
            member = body[name];
            if (std::string_view(name) == "query" && body.value("params", "") == kPopularParams) {
                member = "popular:" + member;
            }
            break;
        }
    }
    const std::string key = req.matches[1].str() + ":" + member;
    std::optional<ApiAnswer> found;
    {
        std::lock_guard lock(m_mu);
        if (m_api_failure) {
            res.status = *m_api_failure;
            res.set_content(R"({"error":{"code":500,"message":"Internal error encountered."}})", kJsonType);
            return;
        }
        if (auto it = m_answers.find(key); it != m_answers.end()) found = it->second;
        // Else the longest prefix pattern that matches.
        std::size_t longest = 0;
        for (const auto& [pattern, answer] : m_answers) {
            if (found && longest == 0) break;
            const std::string prefix = pattern.substr(0, pattern.size() - 1);
            if (pattern.ends_with("*") && key.starts_with(prefix) && prefix.size() >= longest) {
                found = answer;
                longest = prefix.size();
            }
        }
    }
    if (!found) {
        res.status = 404;
        res.set_content(R"({"error":{"code":404,"message":"Requested entity was not found."}})", kJsonType);
        return;
    }
    res.status = found->status;
    res.set_content(fixture(found->fixture), kJsonType);
}

void ProbeWorld::set_ytdlp(const std::string& scenario) {
    std::string text = scenario;
    for (std::size_t at = text.find("{{"); at != std::string::npos; at = text.find("{{", at + 1)) {
        const std::size_t end = text.find("}}", at);
        if (end == std::string::npos) break;
        const std::string name = text.substr(at + 2, end - at - 2);
        if (name == "ORIGIN") continue;
        const fs::path written = m_home.write_file(name, fixture(name));
        text.replace(at, end + 2 - at, written.string());
    }
    m_home.set_ytdlp_scenario(text);
}

std::string ProbeWorld::working_ytdlp() {
    return "[when --version]\n"
           "stdout 2025.06.30\\n\n"
           "[when ytsearch30:]\n"
           "stdout-file {{ytdlp-search.json}}\n"
           "[when best[protocol^=https]\n"
           "stdout-file {{ytdlp-stream.txt}}\n"
           "[when v=aqz-KE-bpKQ]\n"
           "stdout-file {{ytdlp-watch-video.txt}}\n"
           "[when %(id)j]\n"
           "stdout-file {{ytdlp-video.txt}}\n"
           "[when UCquiet]\n"
           "stdout-file {{ytdlp-channel-quiet.json}}\n"
           "[when UCblender]\n"
           "stdout-file {{ytdlp-channel-blender.json}}\n"
           "[when /videos]\n"
           "stdout-file {{ytdlp-channel-bare.json}}\n"
           "[when playlist?list=]\n"
           "stdout-file {{ytdlp-playlist.json}}\n";
}

Finished ProbeWorld::run(const std::vector<std::string>& args, bool ytdlp,
                         const std::map<std::string, std::string>& extra, std::chrono::seconds limit) {
    auto env = m_home.environment();
    env["VORN_SARN_TEST_ORIGIN"] = origin();
    // Every outside service is https: its proxy settings catch them all.
    // (The media framework sends everything through a plain http_proxy,
    // this machine's addresses included, so that one stays unset.)
    for (const char* proxy : {"https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) env[proxy] = m_trap.url();
    env["no_proxy"] = env["NO_PROXY"] = "127.0.0.1,localhost";
    if (!ytdlp) {
        const fs::path empty = m_home.root() / "no-programs";
        fs::create_directories(empty);
        env["PATH"] = empty.string();
    }
    // Under the leak checker, the process-wide tables of the media, text and
    // GLib libraries are not the program's leaks.
    if (env.contains("ASAN_OPTIONS") || env.contains("LSAN_OPTIONS")) {
        const fs::path suppressions = m_home.write_file(
            "lsan-suppressions.txt",
            "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\nleak:libgst\nleak:libsoup\n"
            "leak:libfontconfig.so\nleak:libpango\nleak:libharfbuzz.so\nleak:libfreetype.so\nleak:libcairo.so\n"
            "leak:libdbus-1.so\nleak:libvpx\nleak:libvorbis\nleak:liborc\nleak:libgnutls\n");
        std::string options = env["LSAN_OPTIONS"];
        env["LSAN_OPTIONS"] = (options.empty() ? "" : options + ":") + "suppressions=" + suppressions.string() +
                              ":print_suppressions=0";
    }
    for (const auto& [name, value] : extra) env[name] = value;
    // In the home's folder, so that relative output folders land there.
    std::vector<std::string> argv{"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", m_home.root().string(),
                                  vorn_test::program_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    auto process = vorn_test::ProgramProcess::start(argv, env, m_home.root());
    if (!process) return {};
    Finished done;
    if (auto status = process->wait(limit)) {
        done.status = *status;
    } else {
        process->stop();
    }
    done.out = process->standard_output();
    done.err = process->standard_error();
    return done;
}

std::vector<std::string> ProbeWorld::requests() {
    std::lock_guard lock(m_mu);
    return m_requests;
}

}  // namespace sarn::test
