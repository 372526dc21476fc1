// Decoding of real encoded files, and the image store fetching them from a local
// HTTP server on 127.0.0.1.
#include "vorn_ui/image_decode.h"
#include "vorn_ui/image_store.h"

#include <gtest/gtest.h>

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "encode_fixtures.h"

namespace {

using namespace vorn_ui;
using namespace vorn_ui::image_store;
namespace dec = vorn_ui::image_decode;
using namespace std::chrono_literals;

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> bytes, std::size_t keep) {
    bytes.resize(std::min(keep, bytes.size()));
    return bytes;
}

TEST(ImageDecode, DecodesEachFormatAndRefusesBrokenData) {
    const auto rgba = test_images::pattern_rgba(16, 8);
    const auto png = test_images::encode_png(16, 8, rgba);
    const auto jpeg = test_images::encode_jpeg(16, 8, rgba);
    const auto webp = test_images::encode_webp(16, 8, rgba);
    ASSERT_FALSE(png.empty());
    ASSERT_FALSE(jpeg.empty());
    ASSERT_FALSE(webp.empty());

    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        dec::Format format;
        int tolerance;  // JPEG is lossy
    } good[] = {
        {"png", png, dec::Format::Png, 0},
        {"jpeg", jpeg, dec::Format::Jpeg, 24},
        {"webp", webp, dec::Format::WebP, 0},
    };
    for (const auto& c : good) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dec::sniff(c.bytes), c.format);
        auto out = dec::decode(c.bytes);
        ASSERT_TRUE(out.has_value()) << out.error().message;
        EXPECT_EQ(out->width, 16u);
        EXPECT_EQ(out->height, 8u);
        ASSERT_EQ(out->pixels.size(), 16u * 8 * 4);
        const std::uint8_t* left = &out->pixels[(4 * 16 + 2) * 4];
        const std::uint8_t* right = &out->pixels[(4 * 16 + 13) * 4];
        EXPECT_NEAR(left[0], 230, c.tolerance);
        EXPECT_NEAR(left[2], 20, c.tolerance);
        EXPECT_NEAR(right[0], 20, c.tolerance);
        EXPECT_NEAR(right[2], 220, c.tolerance);
        EXPECT_EQ(left[3], 255);
    }

    const auto big = test_images::pattern_rgba(64, 64);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        dec::DecodeErrorKind kind;
        std::uint32_t max_dimension;
        std::size_t max_bytes = 1u << 20;
    } bad[] = {
        {"truncated png", cut(png, png.size() / 2), dec::DecodeErrorKind::Truncated, 8192},
        {"png header only", cut(png, 20), dec::DecodeErrorKind::Truncated, 8192},
        {"truncated jpeg", cut(test_images::encode_jpeg(64, 64, big), 400), dec::DecodeErrorKind::Truncated, 8192},
        {"truncated webp", cut(webp, webp.size() - 10), dec::DecodeErrorKind::Truncated, 8192},
        {"text", {'<', 'h', 't', 'm', 'l', '>'}, dec::DecodeErrorKind::UnknownFormat, 8192},
        {"empty", {}, dec::DecodeErrorKind::UnknownFormat, 8192},
        {"gif", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, dec::DecodeErrorKind::UnknownFormat, 8192},
        {"wider than the limit", png, dec::DecodeErrorKind::TooLarge, 10},
        // 16 x 8 pixels take 512 bytes decoded: each format is refused from its header.
        {"png larger than the byte budget", png, dec::DecodeErrorKind::TooLarge, 8192, 511},
        {"jpeg larger than the byte budget", jpeg, dec::DecodeErrorKind::TooLarge, 8192, 511},
        {"webp larger than the byte budget", webp, dec::DecodeErrorKind::TooLarge, 8192, 511},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        auto out = dec::decode(c.bytes, dec::DecodeLimits{.max_dimension = c.max_dimension, .max_bytes = c.max_bytes});
        ASSERT_FALSE(out.has_value());
        EXPECT_EQ(out.error().kind, c.kind) << out.error().message;
        EXPECT_FALSE(out.error().message.empty());
    }

    // A JPEG whose data is garbled after the header is refused or decoded, never a crash.
    auto garbled = test_images::encode_jpeg(64, 64, big);
    for (std::size_t i = garbled.size() / 2; i < garbled.size() - 2; ++i) garbled[i] = static_cast<std::uint8_t>(i * 31);
    (void)dec::decode(garbled);
}

// A local server with a few pictures, counting the requests it answers.
class PictureServer {
public:
    PictureServer() {
        const auto rgba = test_images::pattern_rgba(40, 20);
        m_files["/a.png"] = test_images::encode_png(40, 20, rgba);
        m_files["/b.jpg"] = test_images::encode_jpeg(40, 20, rgba);
        m_files["/c.webp"] = test_images::encode_webp(40, 20, rgba);
        const auto png = m_files["/a.png"];
        m_files["/truncated.png"] = cut(png, png.size() - 30);
        m_files["/page.html"] = {'<', 'h', 't', 'm', 'l', '>'};
        const auto square = test_images::pattern_rgba(32, 32);  // 4096 bytes decoded
        for (int i = 0; i < 4; ++i) m_files["/sq" + std::to_string(i) + ".png"] = test_images::encode_png(32, 32, square);

        m_server.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            m_requests.fetch_add(1);
            auto it = m_files.find(req.path);
            if (it == m_files.end()) {
                res.status = 404;
                res.set_content("not here", "text/plain");
                return;
            }
            res.set_content(std::string(it->second.begin(), it->second.end()), "application/octet-stream");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::sleep_for(1ms);
    }
    ~PictureServer() {
        m_server.stop();
        m_thread.join();
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    int requests() const { return m_requests.load(); }

    // The program's kind of fetch function: bytes on a success status, nothing otherwise.
    FetchFunction fetcher() const {
        return [](const std::string& address) -> std::optional<std::vector<std::uint8_t>> {
            const std::string prefix = "http://127.0.0.1:";
            if (!address.starts_with(prefix)) return std::nullopt;
            const auto slash = address.find('/', prefix.size());
            const int port = std::stoi(address.substr(prefix.size(), slash - prefix.size()));
            httplib::Client client("127.0.0.1", port);
            client.set_connection_timeout(5);
            auto res = client.Get(address.substr(slash));
            if (!res || res->status < 200 || res->status >= 300) return std::nullopt;
            return std::vector<std::uint8_t>(res->body.begin(), res->body.end());
        };
    }

private:
    httplib::Server m_server;
    std::map<std::string, std::vector<std::uint8_t>> m_files;
    std::atomic<int> m_requests{0};
    int m_port = 0;
    std::thread m_thread;
};

// Holds fetches back until it opens, so that a test sees its loads in flight
// however fast the loading threads are.
class FetchGate {
public:
    FetchFunction hold(FetchFunction fetch) {
        return [this, fetch = std::move(fetch)](const std::string& address) {
            {
                std::unique_lock lock(m_mu);
                m_cv.wait(lock, [&] { return m_open; });
            }
            return fetch(address);
        };
    }
    void open() {
        {
            std::lock_guard lock(m_mu);
            m_open = true;
        }
        m_cv.notify_all();
    }

private:
    std::mutex m_mu;
    std::condition_variable m_cv;
    bool m_open = false;
};

TEST(ImageStore, FetchesDecodesAndAnswersFromItsCache) {
    PictureServer server;
    FetchGate gate;  // outlives the store, whose threads wait at it
    ImageStore store = ImageStore::create(gate.hold(server.fetcher()));
    std::atomic<int> wakes{0};
    store.set_wake_callback([&] { wakes.fetch_add(1); });

    const std::string addresses[] = {server.url("/a.png"), server.url("/b.jpg"), server.url("/c.webp")};
    for (const auto& a : addresses) EXPECT_FALSE(store.get(a).has_value()) << "nothing yet on the first ask";
    EXPECT_EQ(store.pending(), 3u);
    EXPECT_EQ(store.state(addresses[0]), EntryState::Loading);
    EXPECT_FALSE(store.get(addresses[0]).has_value()) << "still loading";
    gate.open();
    ASSERT_TRUE(store.block_until_idle(10s));
    EXPECT_EQ(store.pending(), 0u);
    EXPECT_EQ(wakes.load(), 3);

    for (const auto& a : addresses) {
        SCOPED_TRACE(a);
        auto image = store.get(a);
        ASSERT_TRUE(image.has_value()) << store.failure(a).value_or("");
        EXPECT_EQ((*image)->width(), 40u);
        EXPECT_EQ((*image)->height(), 20u);
        EXPECT_EQ(store.state(a), EntryState::Ready);
    }
    const int served = server.requests();
    for (int i = 0; i < 50; ++i) (void)store.get(addresses[0]);
    EXPECT_EQ(server.requests(), served) << "cached pictures are not fetched again";
    EXPECT_EQ(store.stats().cached_images, 3u);
    EXPECT_EQ(store.stats().cached_bytes, 3u * 40 * 20 * 4);

    // A copy of the handle is the same store.
    ImageStore copy = store;
    EXPECT_TRUE(copy.get(addresses[1]).has_value());
    EXPECT_TRUE(copy == store);
}

TEST(ImageStore, FailuresGiveNoImageAndAreNotRetried) {
    PictureServer server;
    ImageStore store = ImageStore::create(server.fetcher());
    const struct {
        const char* name;
        std::string address;
    } cases[] = {
        {"404", server.url("/missing.png")},
        {"truncated picture", server.url("/truncated.png")},
        {"not a picture", server.url("/page.html")},
        {"nobody listening", "http://127.0.0.1:1/x.png"},
        {"not an address", "::::"},
    };
    for (const auto& c : cases) (void)store.get(c.address);
    ASSERT_TRUE(store.block_until_idle(20s));
    const int served = server.requests();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(store.get(c.address).has_value());
        EXPECT_EQ(store.state(c.address), EntryState::Failed);
        ASSERT_TRUE(store.failure(c.address).has_value());
    }
    EXPECT_NE(store.failure(server.url("/truncated.png"))->find("PNG"), std::string::npos);
    EXPECT_EQ(store.pending(), 0u);
    EXPECT_EQ(server.requests(), served) << "a failed address is remembered";
    EXPECT_FALSE(store.get("").has_value());
    EXPECT_EQ(store.state(""), EntryState::Absent);
}

TEST(ImageStore, CacheStaysWithinItsByteBound) {
    PictureServer server;
    // Room for two 32x32 pictures (4096 bytes each), not three.
    ImageStore store = ImageStore::create(server.fetcher(), ImageStoreOptions{.cache_bytes = 9000});
    auto load = [&](int i) {
        const std::string a = server.url("/sq" + std::to_string(i) + ".png");
        (void)store.get(a);
        EXPECT_TRUE(store.block_until_idle(10s));
        return store.get(a);
    };
    ASSERT_TRUE(load(0).has_value());
    ASSERT_TRUE(load(1).has_value());
    (void)store.get(server.url("/sq0.png"));  // 0 is now the most recently used
    auto kept_by_widget = load(2);
    ASSERT_TRUE(kept_by_widget.has_value());
    const auto stats = store.stats();
    EXPECT_LE(stats.cached_bytes, 9000u);
    EXPECT_EQ(stats.cached_images, 2u);
    EXPECT_EQ(stats.evictions, 1u);
    EXPECT_EQ(store.state(server.url("/sq1.png")), EntryState::Absent) << "the least recently used went";
    EXPECT_EQ(store.state(server.url("/sq0.png")), EntryState::Ready);
    EXPECT_EQ((*kept_by_widget)->width(), 32u) << "a picture a widget holds stays valid";

    // An evicted picture is fetched again when asked for.
    const int served = server.requests();
    EXPECT_TRUE(load(1).has_value());
    EXPECT_EQ(server.requests(), served + 1);

    // A picture larger than the whole cache is refused, from its header, rather than
    // decoded and fetched forever.
    ImageStore tiny = ImageStore::create(server.fetcher(), ImageStoreOptions{.cache_bytes = 1000});
    (void)tiny.get(server.url("/sq3.png"));
    ASSERT_TRUE(tiny.block_until_idle(10s));
    EXPECT_EQ(tiny.state(server.url("/sq3.png")), EntryState::Failed);
    EXPECT_NE(tiny.failure(server.url("/sq3.png"))->find("bytes decoded"), std::string::npos)
        << tiny.failure(server.url("/sq3.png")).value_or("");
}

TEST(ImageStore, DroppingTheStoreWithLoadsInFlightIsSafe) {
    std::atomic<int> calls{0};
    {
        ImageStore store = ImageStore::create([&](const std::string&) -> std::optional<std::vector<std::uint8_t>> {
            calls.fetch_add(1);
            std::this_thread::sleep_for(20ms);
            return std::nullopt;
        });
        for (int i = 0; i < 20; ++i) (void)store.get("http://127.0.0.1:1/" + std::to_string(i));
        while (calls.load() == 0) std::this_thread::sleep_for(1ms);
        EXPECT_FALSE(store.block_until_idle(1ms));
    }
    EXPECT_GE(calls.load(), 1);
    EXPECT_LT(calls.load(), 20) << "queued loads are dropped with the store";
}

}  // namespace
