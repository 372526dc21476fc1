// The developer modes as a person runs them: the real program as a child
// process, with the fake yt-dlp first on PATH and every outside service (the
// innertube API, the image host, Invidious) standing on 127.0.0.1; whatever
// tries to reach another address is counted by a trap and fails the test.
// For each mode: a success, an empty answer and a failing backend, with its
// standard output, standard error and exit status as the program gives them.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "probe_world.h"
#include "vorn_ui/image_decode.h"
#include "vorn_ui/theme.h"

namespace sarn::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ProbeProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_world.ok()) << "the local world did not start (server, trap or clip)"; }
    void TearDown() override {
        EXPECT_EQ(m_world.outside_attempts(), 0) << "something tried to reach an address other than 127.0.0.1";
    }

    // The innertube answers of a working platform.
    void working_api() {
        m_world.answer("search:popular:*", {200, "innertube-popular.json"});
        m_world.answer("search:*", {200, "innertube-search.json"});
        m_world.answer("browse:FEtrending", {400, "innertube-trending-retired-400.json"});
        m_world.answer("next:rustvid0001", {200, "innertube-watch.json"});
        m_world.answer("browse:UCferris0000000000000001", {200, "innertube-channel.json"});
    }

    std::string origin() const { return m_world.origin(); }
    // The text with "{{ORIGIN}}" replaced by the world's origin.
    std::string with_origin(std::string text) const {
        for (std::size_t at = text.find("{{ORIGIN}}"); at != std::string::npos; at = text.find("{{ORIGIN}}", at)) {
            text.replace(at, 10, origin());
        }
        return text;
    }

    ProbeWorld m_world;
};

void dump(const Finished& done) {
    fmt::print(stderr, "status {}\n--- stdout\n{}--- stderr\n{}---\n", done.status, done.out, done.err);
}

// ---- trending ----

TEST_F(ProbeProgram, TrendingSuccess) {
    working_api();
    const Finished done = m_world.run({"--probe-trending"});
    dump(done);
}

TEST_F(ProbeProgram, YtDlpSuccess) {
    working_api();
    m_world.set_ytdlp(ProbeWorld::working_ytdlp());
    const Finished done = m_world.run({"--probe-ytdlp"});
    dump(done);
}

TEST_F(ProbeProgram, AvatarsSuccess) {
    working_api();
    m_world.set_ytdlp(ProbeWorld::working_ytdlp());
    const Finished done = m_world.run({"--probe-avatars"});
    dump(done);
}

TEST_F(ProbeProgram, LiveSuccess) {
    working_api();
    const Finished done = m_world.run({"--probe", "rust programming"});
    dump(done);
}

TEST_F(ProbeProgram, EngineSuccess) {
    m_world.set_ytdlp(ProbeWorld::working_ytdlp());
    const Finished done = m_world.run({"--probe-engine", "localclip"});
    dump(done);
    for (auto& r : m_world.requests()) fmt::print(stderr, "{}\n", r);
}

TEST_F(ProbeProgram, ShotsSuccess) {
    working_api();
    m_world.set_ytdlp(ProbeWorld::working_ytdlp());
    const fs::path dir = m_world.home().root() / "shots";
    const Finished done = m_world.run({"--live-shots", dir.string()});
    dump(done);
    if (const char* keep = std::getenv("VORN_SHOT_DIR")) {
        for (const char* name : {"watch.png", "search.png", "home.png", "playlist.png"}) {
            std::error_code ec;
            fs::copy_file(dir / name, fs::path(keep) / name, fs::copy_options::overwrite_existing, ec);
        }
    }
}

}  // namespace
}  // namespace sarn::test
