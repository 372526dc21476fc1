// The image store: pictures by address, fetched and decoded in the background with a
// fetch function that the program supplies, kept in a memory cache bounded in bytes.
//
// `ImageStore` is a shared handle: copies refer to the same store, which lives while
// any copy does. Every member may be called from any thread (one lock guards the
// entries); the fetch function runs on the store's own loading threads, never on the
// caller's. The wake callback (by default `vorn_ui::wake::wake_loop`) is called from a
// loading thread after each load finishes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vorn_ui/image.h"
#include "vorn_ui/image_decode.h"

namespace vorn_ui::image_store {

// Fetches the bytes behind an address; nothing on any failure.
using FetchFunction = std::function<std::optional<std::vector<std::uint8_t>>(const std::string& address)>;

struct ImageStoreOptions {
    std::size_t cache_bytes = 64u << 20;      // decoded pixels kept, least recently used dropped first
    std::size_t max_fetched_bytes = 16u << 20;  // larger answers are refused before decoding
    std::uint32_t max_dimension = 8192;
    unsigned loading_threads = 3;
    std::size_t remembered_failures = 4096;   // failed addresses are not fetched again
};

enum class EntryState : std::uint8_t { Absent, Loading, Ready, Failed };

struct ImageStoreStats {
    std::size_t cached_images = 0;
    std::size_t cached_bytes = 0;
    std::size_t pending = 0;
    std::size_t failed = 0;
    std::uint64_t fetches = 0;  // fetch calls made since creation
    std::uint64_t evictions = 0;
};

class ImageStore {
public:
    static ImageStore create(FetchFunction fetch, ImageStoreOptions options = {});

    // The decoded picture for an address, or nothing yet. An address that is neither
    // cached, loading nor known to have failed starts loading now.
    std::optional<ImageRef> get(std::string_view address) const;
    EntryState state(std::string_view address) const;
    // Why the load of an address failed, when it did.
    std::optional<std::string> failure(std::string_view address) const;

    // Loads queued or running.
    std::size_t pending() const;
    // Waits until nothing is pending or the limit passes; true when idle.
    bool block_until_idle(std::chrono::milliseconds limit) const;
    ImageStoreStats stats() const;

    void set_wake_callback(std::function<void()> wake) const;

    friend bool operator==(const ImageStore& a, const ImageStore& b) { return a.m_core == b.m_core; }

    struct Core;

private:
    explicit ImageStore(std::shared_ptr<Core> core);
    std::shared_ptr<Core> m_core;
};

}  // namespace vorn_ui::image_store
