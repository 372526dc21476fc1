#include "sarn/innertube/live_backend.h"

#include <fmt/format.h>

namespace sarn {

LiveBackend::LiveBackend(std::string mode, innertube::Client client)
    : m_mode(std::move(mode)), m_client(std::move(client)) {}

CatalogResult<std::unique_ptr<LiveBackend>> LiveBackend::start(const BotguardProvider& botguard,
                                                               innertube::ClientConfig config,
                                                               std::shared_ptr<innertube::AnswerCache> answers) {
    std::string mode(botguard.available() ? kBotguardMode : kMetadataOnlyMode);
    auto client = innertube::Client::create(std::move(config), std::move(answers));
    if (!client) return std::unexpected(fmt::format("rustypipe build: {}", client.error()));
    return std::make_unique<LiveBackend>(std::move(mode), std::move(*client));
}

CatalogResult<std::unique_ptr<LiveCatalogBackend>> start_live_backend() { return live_backend_factory()(); }

LiveBackendFactory live_backend_factory(innertube::ClientConfig config) {
    auto answers = innertube::make_answer_cache(config);
    return [config = std::move(config), answers]() -> CatalogResult<std::unique_ptr<LiveCatalogBackend>> {
        auto backend = LiveBackend::start(NullBotguard{}, config, answers);
        if (!backend) return std::unexpected(backend.error());
        return std::unique_ptr<LiveCatalogBackend>(std::move(*backend));
    };
}

CatalogResult<CatalogPage> LiveBackend::search(std::string_view query) {
    auto page = m_client.search(query);
    if (!page) return std::unexpected(fmt::format("search: {}", page.error()));
    return CatalogPage::of_videos(std::move(page->videos));
}

CatalogResult<CatalogPage> LiveBackend::popular_search(std::string_view topic) {
    auto page = m_client.search(topic, innertube::SearchFilter::PopularThisWeek);
    if (!page) return std::unexpected(fmt::format("popular_search {}: {}", debug_quoted(topic), page.error()));
    return CatalogPage::of_videos(std::move(page->videos));
}

CatalogResult<CatalogPage> LiveBackend::video(std::string_view id) {
    auto page = m_client.watch(id);
    if (!page) return std::unexpected(fmt::format("video: {}", page.error()));
    return CatalogPage::of_video(std::move(page->video));
}

CatalogResult<CatalogPage> LiveBackend::related(std::string_view id) {
    auto page = m_client.watch(id);
    if (!page) return std::unexpected(fmt::format("related: {}", page.error()));
    return CatalogPage::of_videos(std::move(page->related));
}

CatalogResult<CatalogPage> LiveBackend::trending() {
    auto videos = m_client.trending();
    if (!videos) return std::unexpected(fmt::format("trending: {}", videos.error()));
    return CatalogPage::of_videos(std::move(*videos));
}

CatalogResult<CatalogPage> LiveBackend::channel(std::string_view id) {
    auto page = m_client.channel_videos(id);
    if (!page) return std::unexpected(fmt::format("channel: {}", page.error()));
    return CatalogPage::of_channel(std::move(page->channel), std::move(page->uploads));
}

CatalogResult<std::vector<Comment>> LiveBackend::comments(std::string_view video_id) {
    auto details = m_client.watch(video_id);
    if (!details) return std::unexpected(fmt::format("comments details {}: {}", video_id, details.error()));
    if (details->comments_token.empty()) return std::vector<Comment>{};
    auto comments = m_client.comments(details->comments_token);
    if (!comments) return std::unexpected(fmt::format("comments page {}: {}", video_id, comments.error()));
    if (comments->size() > kMaxComments) comments->resize(kMaxComments);
    return std::move(*comments);
}

CatalogResult<SearchItems> LiveBackend::search_items(std::string_view text) {
    auto page = m_client.search(text);
    if (!page) return std::unexpected(fmt::format("search_items: {}", page.error()));
    SearchItems items;
    items.videos = std::move(page->videos);
    items.playlists = std::move(page->playlists);
    items.channels = std::move(page->channels);
    return items;
}

CatalogResult<PlaylistAnswer> LiveBackend::fetch_playlist(std::string_view id) {
    auto page = m_client.playlist(id);
    if (!page) return std::unexpected(fmt::format("playlist {}: {}", id, page.error()));
    return PlaylistAnswer{std::move(page->playlist), std::move(page->videos)};
}

}  // namespace sarn
