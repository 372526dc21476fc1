#include "sarn/backend/extras.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "sarn/backend/invidious.h"
#include "vorn_test/local_server.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using sarn::SponsorCategory;

// Generous by default: a loaded machine may take seconds to answer; only the
// stalled answer is meant to time out.
sarn::http::Client test_client(std::chrono::milliseconds timeout = 60s) {
    auto client = sarn::http::Client::create({"sarn/0.1 (+vorn)", timeout, sarn::http::kDefaultBodyLimit, 10});
    EXPECT_TRUE(client.has_value());
    return std::move(*client);
}

// One local server answering all three services from settable bodies.
class ExtrasServer : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = server.server();
        const auto answer = [this](const std::string& key) {
            return [this, key](const httplib::Request& req, httplib::Response& res) {
                int status = 200;
                std::string body;
                {
                    std::lock_guard lock(mutex);
                    seen[key] = req;
                    std::tie(status, body) = answers[key];
                }
                if (body == "<stall>") {
                    for (int i = 0; i < 60 && !server.stopping(); ++i) std::this_thread::sleep_for(50ms);
                }
                if (body == "<huge>") {
                    res.set_content(std::string(5 * 1024 * 1024, ' ') + "[]", "application/json");
                } else {
                    res.set_content(body, "application/json");
                }
                res.status = status;
            };
        };
        s.Get("/api/skipSegments", answer("segments"));
        s.Get("/api/branding", answer("branding"));
        s.Get("/votes", answer("votes"));
        ASSERT_TRUE(server.start());
        endpoints.segments = server.base_url();
        endpoints.thumbnails = "http://thumbs.test";
        endpoints.votes = server.base_url();
    }

    // Handlers still running see the fixture's members alive.
    void TearDown() override { server.stop(); }

    void set(const std::string& key, int status, std::string body) {
        std::lock_guard lock(mutex);
        answers[key] = {status, std::move(body)};
    }

    httplib::Request last(const std::string& key) {
        std::lock_guard lock(mutex);
        return seen[key];
    }

    vorn_test::LocalServer server;
    sarn::ExtrasEndpoints endpoints;
    std::mutex mutex;
    std::map<std::string, std::pair<int, std::string>> answers;
    std::map<std::string, httplib::Request> seen;
};

TEST_F(ExtrasServer, SkipSegmentsRequestAndMapping) {
    set("segments", 200, R"([
        {"category": "sponsor", "segment": [300, 320.5], "votes": 4},
        {"category": "intro", "segment": [10, 20], "votes": -2},
        {"category": "unknown_kind", "segment": [1, 2]},
        {"category": "outro", "segment": [120]},
        {"category": "filler", "segment": "0-5"},
        {"segment": [5, 6]},
        {"category": "selfpromo", "segment": [120, 130], "votes": "many"},
        null, 7])");
    sarn::http::Client client = test_client();
    auto segments = sarn::fetch_skip_segments(client, endpoints, "a&b#c");
    ASSERT_TRUE(segments.has_value()) << segments.error();
    const std::vector<sarn::Segment> expected = {
        {SponsorCategory::Intro, 10, 20, -2},
        {SponsorCategory::Outro, 120, 120, 0},
        {SponsorCategory::SelfPromo, 120, 130, 0},
        {SponsorCategory::Sponsor, 300, 320.5, 4},
    };
    EXPECT_EQ(*segments, expected);
    const auto request = last("segments");
    EXPECT_EQ(request.get_param_value("videoID"), "a&b#c");
    EXPECT_EQ(request.get_param_value("categories"),
              R"(["sponsor","selfpromo","interaction","intro","outro","preview","music_offtopic","filler"])");
    EXPECT_EQ(request.get_header_value("User-Agent"), "sarn/0.1 (+vorn)");
}

TEST_F(ExtrasServer, SkipSegmentsStatusAndBodyFaults) {
    sarn::http::Client client = test_client();
    sarn::http::Client impatient = test_client(500ms);
    struct Row {
        int status;
        std::string body;
        bool ok;
        std::string error_prefix;
    };
    const Row rows[] = {
        {404, "Not Found", true, ""},
        {200, R"({"not": "an array"})", true, ""},
        {500, "oops", false, "HTTP status 500"},
        {200, "<html>", false, "invalid JSON: "},
        {200, "", false, "invalid JSON: "},
        {200, "<huge>", false, "response body exceeds 4194304 bytes"},
        {200, "<stall>", false, "request timed out"},
    };
    for (const Row& row : rows) {
        set("segments", row.status, row.body);
        auto segments = sarn::fetch_skip_segments(row.body == "<stall>" ? impatient : client, endpoints, "v");
        EXPECT_EQ(segments.has_value(), row.ok) << row.body;
        if (segments) {
            EXPECT_TRUE(segments->empty());
        } else {
            EXPECT_TRUE(segments.error().starts_with(row.error_prefix)) << segments.error();
        }
    }
}

TEST_F(ExtrasServer, BrandingPicksTheBestCountingEntries) {
    set("branding", 200, R"({
        "titles": [{"title": "Original", "original": true, "votes": 5},
                   {"title": "First three", "votes": 3},
                   {"title": "Second three", "votes": 3}],
        "thumbnails": [{"timestamp": 12.5, "votes": 1},
                       {"votes": 100},
                       {"timestamp": "30", "votes": 50},
                       {"timestamp": 30, "votes": 1}]})");
    sarn::http::Client client = test_client();
    auto branding = sarn::fetch_branding(client, endpoints, "v&x");
    ASSERT_TRUE(branding.has_value()) << branding.error();
    EXPECT_EQ(branding->title, "Second three");
    EXPECT_EQ(branding->thumbnail, "http://thumbs.test/api/v1/getThumbnail?videoID=v%26x&time=30");
    EXPECT_EQ(last("branding").get_param_value("videoID"), "v&x");

    for (int status : {404, 500}) {
        set("branding", status, "{}");
        auto failed = sarn::fetch_branding(client, endpoints, "v");
        ASSERT_FALSE(failed.has_value());
        EXPECT_EQ(failed.error(), "HTTP status " + std::to_string(status));
    }
    set("branding", 200, "{}");
    auto empty = sarn::fetch_branding(client, endpoints, "v");
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(*empty, sarn::Branding{});
}

TEST(BrandingScore, LockedOriginalAndNegativeVotes) {
    const auto pick = [](const char* titles) {
        return sarn::branding_from_json(json::parse(std::string(R"({"titles": )") + titles + "}"), "http://t", "v").title;
    };
    EXPECT_EQ(pick(R"([{"title": "locked", "locked": true, "votes": -2}, {"title": "popular", "votes": 40}])"),
              "locked");
    EXPECT_EQ(pick(R"([{"title": "lonely", "votes": -1}])"), std::nullopt);
    EXPECT_EQ(pick(R"([{"title": 5, "votes": 9}, {"title": "low", "votes": 1}])"), std::nullopt);
    EXPECT_EQ(pick(R"([{"title": "no votes"}])"), "no votes");
    EXPECT_EQ(pick(R"("not a list")"), std::nullopt);
    EXPECT_EQ(sarn::branding_entry_score(json::parse(R"({"locked": true, "votes": 9223372036854775807})")),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(sarn::crowd_thumbnail_url("http://t", "v", 12.5), "http://t/api/v1/getThumbnail?videoID=v&time=12.5");
    // Plain decimal, never an exponent.
    EXPECT_EQ(sarn::crowd_thumbnail_url("http://t", "v", 1e20),
              "http://t/api/v1/getThumbnail?videoID=v&time=100000000000000000000");
    EXPECT_EQ(sarn::crowd_thumbnail_url("http://t", "v", 1e-7), "http://t/api/v1/getThumbnail?videoID=v&time=0.0000001");
}

TEST_F(ExtrasServer, DislikesCountOrItsError) {
    sarn::http::Client client = test_client();
    set("votes", 200, R"({"likes": 10, "dislikes": 1234})");
    auto count = sarn::fetch_dislikes(client, endpoints, "a b");
    ASSERT_TRUE(count.has_value()) << count.error();
    EXPECT_EQ(*count, 1234u);
    EXPECT_EQ(last("votes").get_param_value("videoId"), "a b");

    for (const char* body : {R"({"likes": 10})", R"({"dislikes": -1})", R"({"dislikes": "7"})", "[]"}) {
        set("votes", 200, body);
        auto missing = sarn::fetch_dislikes(client, endpoints, "v");
        ASSERT_FALSE(missing.has_value()) << body;
        EXPECT_EQ(missing.error(), "no dislikes field in RYD response");
    }
    set("votes", 404, R"({"dislikes": 1})");
    auto not_found = sarn::fetch_dislikes(client, endpoints, "v");
    ASSERT_FALSE(not_found.has_value());
    EXPECT_EQ(not_found.error(), "HTTP status 404");
}

TEST(InvidiousInstances, VariableThenBuiltIns) {
    const auto plain = sarn::invidious_instances_from(std::nullopt);
    ASSERT_EQ(plain.size(), 6u);
    for (const auto& instance : plain) EXPECT_TRUE(instance.starts_with("https://")) << instance;

    // Unicode white space (a no-break space, an ideographic space) is trimmed too.
    const auto mine = sarn::invidious_instances_from(" http://a.test/ ,  ,\xC2\xA0http://b.test\xE3\x80\x80,,");
    ASSERT_EQ(mine.size(), 8u);
    EXPECT_EQ(mine[0], "http://a.test/");
    EXPECT_EQ(mine[1], "http://b.test");
    EXPECT_EQ(std::vector<std::string>(mine.begin() + 2, mine.end()), plain);

    ::setenv("VORN_SARN_INVIDIOUS", "http://c.test", 1);
    EXPECT_EQ(sarn::invidious_instances().front(), "http://c.test");
    ::unsetenv("VORN_SARN_INVIDIOUS");
    EXPECT_EQ(sarn::invidious_instances(), plain);

    EXPECT_EQ(sarn::invidious_stream_url("http://i.test//", "a&b", 22),
              "http://i.test/latest_version?id=a%26b&itag=22&local=true");
}

// Instances as paths on one local server: each answers by its own rule.
class InvidiousServer : public ::testing::Test {
protected:
    void SetUp() override {
        server.server().Get("/(\\w+)/latest_version", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string name = req.matches[1];
            const std::string itag = req.get_param_value("itag");
            {
                std::lock_guard lock(mutex);
                tried.push_back(name + ":" + itag);
                ranges.push_back(req.get_header_value("Range"));
                agents.push_back(req.get_header_value("User-Agent"));
            }
            if (name == "dead") {
                res.status = 502;
            } else if (name == "empty") {
                res.status = 200;
            } else if (name == "slow") {
                for (int i = 0; i < 40 && !server.stopping(); ++i) std::this_thread::sleep_for(25ms);
                res.set_content("late", "video/mp4");
            } else if (name == "partial" && itag == "22") {
                res.status = 206;
                res.set_content(std::string(2048, 'v'), "video/mp4");
            } else if (name == "norange") {
                // Ignores the Range header and sends the whole (large) file.
                res.set_content(std::string(8 * 1024 * 1024, 'v'), "video/mp4");
            } else if (name == "only18" && itag == "18") {
                res.set_content("bytes", "video/mp4");
            } else {
                res.status = 404;
            }
        });
        ASSERT_TRUE(server.start());
    }

    void TearDown() override { server.stop(); }

    sarn::InvidiousProbeOptions options(std::initializer_list<const char*> names) {
        sarn::InvidiousProbeOptions o;
        for (const char* name : names) o.instances.push_back(server.base_url() + "/" + name + "/");
        // Generous, so that a loaded machine does not turn an answer into a time-out;
        // the deadline test sets its own.
        o.request_timeout = 30s;
        o.deadline = 60s;
        return o;
    }

    vorn_test::LocalServer server;
    std::mutex mutex;
    std::vector<std::string> tried, ranges, agents;
};

TEST_F(InvidiousServer, FirstInstanceThatServesBytesWins) {
    auto stream = sarn::probe_invidious("vid", options({"dead", "empty", "partial", "only18"}));
    ASSERT_TRUE(stream.has_value());
    EXPECT_EQ(stream->itag, 22u);
    EXPECT_EQ(stream->quality, "720p");
    EXPECT_EQ(stream->mime, "video/mp4; codecs=\"avc1.64001F, mp4a.40.2\"");
    EXPECT_TRUE(stream->has_audio);
    EXPECT_EQ(stream->url, server.base_url() + "/partial/latest_version?id=vid&itag=22&local=true");
    EXPECT_EQ(tried, (std::vector<std::string>{"dead:22", "dead:18", "empty:22", "empty:18", "partial:22"}));
    for (const auto& range : ranges) EXPECT_EQ(range, "bytes=0-2047");
    EXPECT_EQ(agents.front(), std::string(sarn::kInvidiousUserAgent));

    auto low = sarn::probe_invidious("vid", options({"only18"}));
    ASSERT_TRUE(low.has_value());
    EXPECT_EQ(low->itag, 18u);
    EXPECT_EQ(low->quality, "360p");
}

TEST_F(InvidiousServer, ServerIgnoringRangeStillCounts) {
    auto stream = sarn::probe_invidious("vid", options({"norange"}));
    ASSERT_TRUE(stream.has_value());
    EXPECT_EQ(stream->itag, 22u);
}

TEST_F(InvidiousServer, NothingServedOrDeadlinePassedAnswersNone) {
    EXPECT_FALSE(sarn::probe_invidious("vid", options({"dead", "empty"})).has_value());
    EXPECT_FALSE(sarn::probe_invidious("vid", sarn::InvidiousProbeOptions{}).has_value());

    {
        std::lock_guard lock(mutex);
        tried.clear();
    }
    auto slow = options({"slow", "slow", "slow", "slow", "partial"});
    slow.request_timeout = 300ms;
    slow.deadline = 700ms;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sarn::probe_invidious("vid", slow).has_value());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 700ms);
    EXPECT_LT(took, 4s);
    std::lock_guard lock(mutex);
    EXPECT_LT(tried.size(), 8u);
    for (const auto& name : tried) EXPECT_TRUE(name.starts_with("slow:")) << name;  // "partial" never reached
}

}  // namespace
