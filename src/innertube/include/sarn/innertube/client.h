// Our client of the platform's innertube web API: JSON POSTs to
// "{origin}/youtubei/v1/{endpoint}?prettyPrint=false" with the WEB client
// context, and the answers parsed into catalogue records.
//
// A call has one time budget for all its attempts (20 s by default); an
// attempt that fails with a 5xx or 429 status or a connection error is
// retried at most twice while the budget lasts. Answer bodies are capped
// (32 MiB by default). Metadata only: no player requests, no stream URLs.
//
// Watch pages and search answers are kept for a short while (30 s, at most 8
// of them; answer_cache.h): asking for the same video's details, related
// videos or comments, or for the same search, again within that time is
// answered without a call. Clients handed the same cache share its answers.
//
// Threads: a Client is used by one thread at a time (it owns one HTTP
// connection cache); different clients may run on different threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sarn/http/client.h"
#include "sarn/innertube/answer_cache.h"
#include "sarn/innertube/parse.h"

namespace sarn::innertube {

inline constexpr std::string_view kWebClientName = "WEB";
inline constexpr std::string_view kWebClientVersion = "2.20260123.01.00";
inline constexpr std::string_view kDefaultApiOrigin = "https://www.youtube.com";

struct ClientConfig {
    std::string origin{kDefaultApiOrigin};      // scheme and host, no trailing slash
    std::chrono::milliseconds call_budget{20000};  // all attempts of one call
    int max_retries = 2;
    std::chrono::milliseconds retry_delay{250};    // doubled for each further retry
    std::size_t body_limit = 32 * 1024 * 1024;
    std::string hl = "en";
    std::string gl = "US";
    // Answers kept for the calls that follow; a capacity of 0 sends every call.
    std::size_t answer_cache_capacity = 8;
    std::chrono::milliseconds answer_lifetime{30000};
};

// A cache with the configuration's capacity and lifetime; none for a capacity of 0.
std::shared_ptr<AnswerCache> make_answer_cache(const ClientConfig& config);

// Search filters the client can ask for.
enum class SearchFilter {
    None,
    PopularThisWeek,  // sorted by view count, uploaded in the last week, videos only
};

class Client {
public:
    // Fails only when the HTTP layer cannot make a handle. Without `answers`
    // the client keeps its own cache (make_answer_cache).
    static std::expected<Client, std::string> create(ClientConfig config = {},
                                                     std::shared_ptr<AnswerCache> answers = nullptr);

    const ClientConfig& config() const { return m_config; }

    // One API call: the endpoint ("search", "next", "browse",
    // "navigation/resolve_url") and the request's own members as a JSON
    // object text (without the context, which is added). Answers the body of
    // a 2xx answer, or an error text ("HTTP 400: {API message}", "could not
    // connect (...)", ...).
    std::expected<std::string, std::string> call(std::string_view endpoint, std::string_view request_members);

    ParseResult<SearchPage> search(std::string_view query, SearchFilter filter = SearchFilter::None);
    ParseResult<WatchPage> watch(std::string_view video_id);
    ParseResult<std::vector<Comment>> comments(std::string_view continuation_token);
    // `channel` is a channel id ("UC..."), a handle (with or without "@") or
    // a channel address; handles and addresses are resolved first.
    ParseResult<ChannelPage> channel_videos(std::string_view channel);
    ParseResult<PlaylistPage> playlist(std::string_view playlist_id);
    ParseResult<std::vector<Video>> trending();
    // The channel id behind a handle or a channel address.
    ParseResult<std::string> resolve_channel(std::string_view handle_or_address);

private:
    Client(ClientConfig config, http::Client http, std::shared_ptr<AnswerCache> answers);

    // The kept answer under the key, else the call's answer parsed (and kept).
    template <class Page, class Parse>
    ParseResult<Page> kept_or_called(const std::string& key, std::string_view endpoint,
                                     std::string_view request_members, Parse parse);

    ClientConfig m_config;
    http::Client m_http;
    std::shared_ptr<AnswerCache> m_answers;  // null: nothing is kept
};

}  // namespace sarn::innertube
