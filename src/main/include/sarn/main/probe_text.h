#pragma once
// The small helpers the developer probes share: the short form of an
// address in their output, the checksum that tells decoded pictures apart,
// the sniffing of fetched image bytes, the key by which channel names are
// matched, and the debug form of a catalogue answer.
//
// Pure functions; any thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "sarn/backend/catalog_backend.h"

namespace sarn::entry {

inline constexpr std::size_t kDisplayUrlBytes = 72;
inline constexpr std::uint64_t kFrameChecksumStart = 0x14650fb0739d0383ULL;
inline constexpr std::uint64_t kFrameChecksumPrime = 0x100000001b3ULL;
inline constexpr std::size_t kFrameChecksumStep = 97;

// "<none>" for an empty text; otherwise the part before the first "?", cut
// to at most 72 bytes followed by "…" when longer. A cut never splits a
// character: when byte 72 lies inside one, the cut moves back to where that
// character begins.
std::string url_for_display(std::string_view address);

// Over every 97th byte from the first: value = (value ^ byte) * prime,
// wrapping at 64 bits, from the start value. Other bytes are not read.
std::uint64_t frame_checksum(std::span<const std::uint8_t> pixels);

// "JPEG", "PNG", "WEBP", "GIF" by the leading bytes, else "OTHER".
std::string_view sniff_image_format(std::span<const std::uint8_t> bytes);

// Unicode white space trimmed at both ends, then Unicode lower case.
std::string fold_name(std::string_view name);

// The answer's variant name and its contents, as in
// Video(Video { id: "abc", title: "…", … }).
std::string catalog_page_debug(const CatalogPage& page);

}  // namespace sarn::entry
