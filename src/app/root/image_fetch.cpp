#include "sarn/app/image_fetch.h"

#include <chrono>
#include <memory>
#include <mutex>

#include "sarn/http/client.h"

namespace sarn {

namespace {

constexpr std::size_t kImageBodyLimit = 16u << 20;  // the store refuses larger answers anyway

std::optional<http::Client> make_client() {
    http::ClientOptions options;
    options.user_agent = std::string(kImageUserAgent);
    options.timeout = std::chrono::seconds(10);
    options.body_limit = kImageBodyLimit;
    if (auto client = http::Client::create(options)) return std::move(*client);
    // The configured client could not be made: the library's plain one.
    if (auto plain = http::Client::create(http::ClientOptions{})) return std::move(*plain);
    return std::nullopt;
}

std::string with_scheme(const std::string& address) {
    if (address.starts_with("//")) return "https:" + address;
    return address;
}

std::optional<std::vector<std::uint8_t>> fetch_with(http::Client& client, const std::string& address) {
    auto response = client.get(with_scheme(address));
    if (!response || !response->success()) return std::nullopt;
    return std::vector<std::uint8_t>(response->body.begin(), response->body.end());
}

// Idle clients, reused across loads; a load takes one out for its duration.
struct ClientPool {
    std::mutex mutex;
    std::vector<http::Client> idle;
};

}  // namespace

std::optional<std::vector<std::uint8_t>> fetch_image_bytes(const std::string& address) {
    auto client = make_client();
    if (!client) return std::nullopt;
    return fetch_with(*client, address);
}

vorn_ui::image_store::FetchFunction build_http_client() {
    auto pool = std::make_shared<ClientPool>();
    return [pool](const std::string& address) -> std::optional<std::vector<std::uint8_t>> {
        std::optional<http::Client> client;
        {
            std::lock_guard lock(pool->mutex);
            if (!pool->idle.empty()) {
                client.emplace(std::move(pool->idle.back()));
                pool->idle.pop_back();
            }
        }
        if (!client) client = make_client();
        if (!client) return std::nullopt;
        auto bytes = fetch_with(*client, address);
        std::lock_guard lock(pool->mutex);
        pool->idle.push_back(std::move(*client));
        return bytes;
    };
}

vorn_ui::image_store::ImageStore new_image_store() {
    return vorn_ui::image_store::ImageStore::create(build_http_client());
}

}  // namespace sarn
