#pragma once
// Texts and colours shared by the pages and the card widgets: count and time
// texts, the seeded placeholder gradient of a missing picture, avatar
// initials and the choice of black or white text on a coloured background.
// Pure functions; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "vorn_ui/color.h"

namespace sarn {

// "{compact count} views", also for 0.
std::string view_count_text(std::uint64_t count);
// "{compact count} watching": the viewers of a live stream, also for 0.
std::string watching_count_text(std::uint64_t count);
// None for 0, else "{compact count} subscribers".
std::optional<std::string> subscriber_count_text(std::uint64_t count);
// The clock-style time code of max(seconds, 0) with the fraction dropped
// (not a number counts as 0; too large saturates).
std::string timecode_from_secs(double seconds);

// 32-bit FNV-1a.
std::uint32_t fnv1a32(std::string_view bytes);
// An opaque colour whose channels are exact 8-bit values.
vorn_ui::Color hsl_to_rgb(float hue_degrees, float saturation, float lightness);
// The two colours of the placeholder painted for a picture that is missing;
// equal seeds give equal colours on every run and machine.
std::pair<vorn_ui::Color, vorn_ui::Color> seed_gradient(std::string_view seed);
// First characters of the first two words (a to z capitalised), "?" when none.
std::string initials(std::string_view name);

// Text colour by contrast (the WCAG luminance rule).
double linearize_channel(std::uint8_t channel);
double relative_luminance(const vorn_ui::Color& color);
double contrast_ratio(const vorn_ui::Color& a, const vorn_ui::Color& b);
// Opaque white or black, whichever contrasts more; ties go to white.
vorn_ui::Color contrast_text_color(const vorn_ui::Color& background);

struct ColorPair {
    vorn_ui::Color background;
    vorn_ui::Color text;
    friend bool operator==(const ColorPair&, const ColorPair&) = default;
};
ColorPair with_contrast_text(const vorn_ui::Color& background);

}  // namespace sarn
