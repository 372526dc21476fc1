#include "sarn/backend/invidious.h"

#include <cstdlib>

#include <fmt/format.h>

#include "sarn/backend/text.h"
#include "sarn/http/client.h"

namespace sarn {

namespace {

constexpr std::string_view kBuiltInInstances[] = {
    "https://inv.nadeko.net",       "https://invidious.nerdvpn.de", "https://yewtu.be",
    "https://invidious.privacyredirect.com", "https://iv.ggtyler.dev", "https://invidious.f5.si",
};

struct Candidate {
    std::uint32_t itag;
    std::string_view quality;
    std::string_view mime;
};

constexpr Candidate kCandidates[] = {
    {22, "720p", "video/mp4; codecs=\"avc1.64001F, mp4a.40.2\""},
    {18, "360p", "video/mp4; codecs=\"avc1.42001E, mp4a.40.2\""},
};

}  // namespace

std::vector<std::string> invidious_instances_from(std::optional<std::string_view> variable) {
    std::vector<std::string> instances;
    if (variable) {
        const std::string text = utf8_lossy(*variable);
        std::string_view rest = text;
        while (true) {
            const std::size_t comma = rest.find(',');
            const std::string_view piece = trim_white_space(rest.substr(0, comma));
            if (!piece.empty()) instances.emplace_back(piece);
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    for (std::string_view instance : kBuiltInInstances) instances.emplace_back(instance);
    return instances;
}

std::vector<std::string> invidious_instances() {
    const char* value = std::getenv("VORN_SARN_INVIDIOUS");
    return invidious_instances_from(value != nullptr ? std::optional<std::string_view>(value) : std::nullopt);
}

std::string invidious_stream_url(std::string_view instance, std::string_view video_id, std::uint32_t itag) {
    while (instance.ends_with('/')) instance.remove_suffix(1);
    return fmt::format("{}/latest_version?id={}&itag={}&local=true", instance, http::percent_encode(video_id), itag);
}

std::optional<InvidiousStream> probe_invidious(std::string_view video_id) {
    InvidiousProbeOptions options;
    options.instances = invidious_instances();
    return probe_invidious(video_id, options);
}

std::optional<InvidiousStream> probe_invidious(std::string_view video_id, const InvidiousProbeOptions& options) {
    const auto deadline = std::chrono::steady_clock::now() + options.deadline;
    auto client = http::Client::create(
        http::ClientOptions{std::string(kInvidiousUserAgent), options.request_timeout, kInvidiousProbeBytes, 10});
    if (!client) return std::nullopt;

    for (const std::string& instance : options.instances) {
        for (const Candidate& candidate : kCandidates) {
            if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
            http::Request request;
            request.url = invidious_stream_url(instance, video_id, candidate.itag);
            request.headers = {{"Range", fmt::format("bytes=0-{}", kInvidiousProbeBytes - 1)}};
            request.body_limit = kInvidiousProbeBytes;
            request.over_limit = http::OverLimit::Truncate;
            auto response = client->send(request);
            if (!response || !response->success() || response->body.empty()) continue;
            return InvidiousStream{std::string(video_id), std::move(request.url), std::string(candidate.mime),
                                   std::string(candidate.quality), candidate.itag, true};
        }
    }
    return std::nullopt;
}

}  // namespace sarn
