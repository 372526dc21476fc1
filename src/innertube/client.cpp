#include "sarn/innertube/client.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "sarn/backend/platform.h"

namespace sarn::innertube {
namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

constexpr std::string_view kUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36";

// An attempt shorter than this is not worth starting.
constexpr std::chrono::milliseconds kMinimumAttempt{200};

// Search parameters as the web client encodes them (protobuf, base64,
// percent-encoded): "8AEB" is the plain search; the popular filter sorts by
// view count (1: 3) and keeps uploads of this week that are videos
// (2: {1: 3, 2: 1}).
constexpr std::string_view kPlainSearchParams = "8AEB";
constexpr std::string_view kPopularSearchParams = "CAMSBAgDEAHwAQE%3D";
// The videos tab of a channel.
constexpr std::string_view kChannelVideosParams = "EgZ2aWRlb3PyBgQKAjoA";

std::string dump(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string members(std::initializer_list<std::pair<const char*, Json>> fields) {
    Json object = Json::object();
    for (const auto& [key, value] : fields) object[key] = value;
    return dump(object);
}

bool retryable_status(long status) { return status == 429 || (status >= 500 && status <= 599); }

bool retryable_error(const http::Error& error) {
    return error.kind == http::ErrorKind::Connect || error.kind == http::ErrorKind::Transport;
}

// The text of a handle or address that names a channel id directly, else "".
std::string direct_channel_id(std::string_view channel) {
    if (channel.starts_with("UC")) return std::string(channel);
    if (!channel.starts_with("http")) return {};
    auto at = channel.find("/channel/");
    if (at == std::string_view::npos) return {};
    std::string_view rest = channel.substr(at + 9);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    return rest.starts_with("UC") ? std::string(rest) : std::string();
}

}  // namespace

std::shared_ptr<AnswerCache> make_answer_cache(const ClientConfig& config) {
    if (config.answer_cache_capacity == 0) return nullptr;
    return std::make_shared<AnswerCache>(config.answer_cache_capacity, config.answer_lifetime);
}

Client::Client(ClientConfig config, http::Client http, std::shared_ptr<AnswerCache> answers)
    : m_config(std::move(config)), m_http(std::move(http)), m_answers(std::move(answers)) {}

std::expected<Client, std::string> Client::create(ClientConfig config, std::shared_ptr<AnswerCache> answers) {
    while (config.origin.ends_with('/')) config.origin.pop_back();
    http::ClientOptions options;
    options.user_agent = std::string(kUserAgent);
    options.timeout = config.call_budget;
    options.body_limit = config.body_limit;
    auto http = http::Client::create(std::move(options));
    if (!http) return std::unexpected(http.error().message);
    if (!answers) answers = make_answer_cache(config);
    return Client(std::move(config), std::move(*http), std::move(answers));
}

std::expected<std::string, std::string> Client::call(std::string_view endpoint, std::string_view request_members) {
    Json body = Json::parse(request_members, nullptr, false);
    if (!body.is_object()) return std::unexpected(std::string("request members are not a JSON object"));
    body["context"] = {{"client",
                        {{"clientName", kWebClientName},
                         {"clientVersion", kWebClientVersion},
                         {"hl", m_config.hl},
                         {"gl", m_config.gl},
                         {"platform", "DESKTOP"},
                         {"utcOffsetMinutes", 0}}}};

    http::Request request;
    request.method = http::Method::Post;
    request.url = fmt::format("{}/youtubei/v1/{}?prettyPrint=false", m_config.origin, endpoint);
    request.body = dump(body);
    request.body_limit = m_config.body_limit;
    request.headers = {
        {"Content-Type", "application/json"},
        {"Accept", "application/json"},
        {"Accept-Language", m_config.hl},
        {"X-Youtube-Client-Name", "1"},
        {"X-Youtube-Client-Version", std::string(kWebClientVersion)},
        {"Origin", std::string(kPlatformOrigin)},
    };

    const auto deadline = Clock::now() + m_config.call_budget;
    auto delay = m_config.retry_delay;
    std::string last_error;
    for (int attempt_no = 0; attempt_no <= m_config.max_retries; ++attempt_no) {
        if (attempt_no > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left < delay + kMinimumAttempt) break;
            std::this_thread::sleep_for(delay);
            delay *= 2;
        }
        auto budget = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (budget < kMinimumAttempt && attempt_no > 0) break;
        // Every attempt goes through the one kept client (its connection is
        // reused) with what is left of the budget as its time-out.
        request.timeout = budget;
        auto response = m_http.send(request);
        if (!response) {
            last_error = response.error().message;
            if (!retryable_error(response.error())) return std::unexpected(last_error);
            continue;
        }
        if (response->success()) return std::move(response->body);
        std::string message = api_error_message(response->body);
        last_error = message.empty() ? fmt::format("HTTP {}", response->status)
                                     : fmt::format("HTTP {}: {}", response->status, message);
        if (!retryable_status(response->status)) return std::unexpected(last_error);
    }
    return std::unexpected(last_error);
}

template <class Page, class Parse>
ParseResult<Page> Client::kept_or_called(const std::string& key, std::string_view endpoint, std::string_view request_members,
                                         Parse parse) {
    if (m_answers) {
        if (auto kept = m_answers->find<Page>(key)) return std::move(*kept);
    }
    auto body = call(endpoint, request_members);
    if (!body) return std::unexpected(body.error());
    ParseResult<Page> page = parse(*body);
    if (page && m_answers) m_answers->keep(key, *page);
    return page;
}

ParseResult<SearchPage> Client::search(std::string_view query, SearchFilter filter) {
    std::string_view params = filter == SearchFilter::PopularThisWeek ? kPopularSearchParams : kPlainSearchParams;
    return kept_or_called<SearchPage>(AnswerCache::search_key(params, query), "search",
                                      members({{"query", std::string(query)}, {"params", std::string(params)}}),
                                      [](std::string_view body) { return parse_search(body); });
}

ParseResult<WatchPage> Client::watch(std::string_view video_id) {
    return kept_or_called<WatchPage>(
        AnswerCache::watch_key(video_id), "next",
        members({{"videoId", std::string(video_id)}, {"contentCheckOk", true}, {"racyCheckOk", true}}),
        [](std::string_view body) { return parse_watch(body); });
}

ParseResult<std::vector<Comment>> Client::comments(std::string_view continuation_token) {
    auto body = call("next", members({{"continuation", std::string(continuation_token)}}));
    if (!body) return std::unexpected(body.error());
    return parse_comments(*body);
}

ParseResult<std::string> Client::resolve_channel(std::string_view handle_or_address) {
    std::string address;
    if (handle_or_address.starts_with("http")) {
        address = std::string(handle_or_address);
    } else {
        std::string_view handle = handle_or_address;
        if (handle.starts_with("@")) handle.remove_prefix(1);
        if (handle.empty()) return std::unexpected(std::string("empty channel handle"));
        address = handle_page_url(handle);
    }
    auto body = call("navigation/resolve_url", members({{"url", address}}));
    if (!body) return std::unexpected(body.error());
    return parse_resolved_channel(*body);
}

ParseResult<ChannelPage> Client::channel_videos(std::string_view channel) {
    std::string id = direct_channel_id(channel);
    if (id.empty()) {
        auto resolved = resolve_channel(channel);
        if (!resolved) return std::unexpected(resolved.error());
        id = std::move(*resolved);
    }
    auto body = call("browse", members({{"browseId", id}, {"params", std::string(kChannelVideosParams)}}));
    if (!body) return std::unexpected(body.error());
    return parse_channel(*body);
}

ParseResult<PlaylistPage> Client::playlist(std::string_view playlist_id) {
    std::string browse_id = playlist_id.starts_with("VL") ? std::string(playlist_id) : fmt::format("VL{}", playlist_id);
    auto body = call("browse", members({{"browseId", browse_id}}));
    if (!body) return std::unexpected(body.error());
    return parse_playlist(*body, playlist_id);
}

ParseResult<std::vector<Video>> Client::trending() {
    auto body = call("browse", members({{"browseId", "FEtrending"}}));
    if (!body) return std::unexpected(body.error());
    return parse_video_feed(*body);
}

}  // namespace sarn::innertube
