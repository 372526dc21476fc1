// The catalogue backend over the platform's innertube web API.
//
// Threads: one calling thread at a time, like every CatalogBackend; each
// query runs to completion on the calling thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sarn/backend/live_catalog.h"
#include "sarn/innertube/client.h"

namespace sarn {

// Source of the platform's bot-check token. Only the availability flag is
// consulted: without it the backend asks for metadata only.
class BotguardProvider {
public:
    virtual ~BotguardProvider() = default;
    virtual std::string_view name() const = 0;
    virtual std::optional<std::string> token() const = 0;
    virtual bool available() const = 0;
};

// The only provider: metadata only.
class NullBotguard final : public BotguardProvider {
public:
    std::string_view name() const override { return "null (metadata-only)"; }
    std::optional<std::string> token() const override { return std::nullopt; }
    bool available() const override { return false; }
};

inline constexpr std::string_view kBotguardMode = "botguard enabled (streams available)";
inline constexpr std::string_view kMetadataOnlyMode = "no_botguard (metadata only)";

// At most this many comments of the first comment page are answered.
inline constexpr std::size_t kMaxComments = 60;

class LiveBackend final : public LiveCatalogBackend {
public:
    // Builds the client (failure: "rustypipe build: {}"); `answers` is the
    // cache it shares with other backends, else it keeps its own.
    static CatalogResult<std::unique_ptr<LiveBackend>> start(const BotguardProvider& botguard,
                                                             innertube::ClientConfig config = {},
                                                             std::shared_ptr<innertube::AnswerCache> answers = nullptr);

    // The mode text.
    std::string_view name() const override { return m_mode; }

    CatalogResult<CatalogPage> search(std::string_view query) override;
    CatalogResult<CatalogPage> video(std::string_view id) override;
    CatalogResult<CatalogPage> channel(std::string_view id) override;
    CatalogResult<CatalogPage> related(std::string_view id) override;
    CatalogResult<CatalogPage> trending() override;
    CatalogResult<std::vector<Comment>> comments(std::string_view video_id) override;
    CatalogResult<CatalogPage> popular_search(std::string_view topic) override;

    CatalogResult<SearchItems> search_items(std::string_view text) override;
    CatalogResult<PlaylistAnswer> fetch_playlist(std::string_view id) override;

    // Prefer start(); this takes an already built client.
    LiveBackend(std::string mode, innertube::Client client);

private:
    std::string m_mode;
    innertube::Client m_client;
};

// LiveBackend::start with NullBotguard against the platform.
CatalogResult<std::unique_ptr<LiveCatalogBackend>> start_live_backend();

// The fetch worker's seam: a factory that starts a LiveBackend with
// NullBotguard and this client configuration (the platform by default).
// Every backend it starts shares one answer cache, so that the worker's
// primary backend and its enrichment client ask for a video's watch page or
// a search once.
LiveBackendFactory live_backend_factory(innertube::ClientConfig config = {});

}  // namespace sarn
