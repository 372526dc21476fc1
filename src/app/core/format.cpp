#include "sarn/app/format.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "vorn_ui/color_compat.h"
#include "vorn_ui/format.h"

namespace sarn {

std::string view_count_text(std::uint64_t count) {
    return fmt::format("{} views", vorn_ui::format::compact_count(count));
}

std::string watching_count_text(std::uint64_t count) {
    return fmt::format("{} watching", vorn_ui::format::compact_count(count));
}

std::optional<std::string> subscriber_count_text(std::uint64_t count) {
    if (count == 0) return std::nullopt;
    return fmt::format("{} subscribers", vorn_ui::format::compact_count(count));
}

std::string timecode_from_secs(double seconds) {
    if (!(seconds > 0.0)) return vorn_ui::format::timecode(0);
    constexpr double kLimit = static_cast<double>(std::numeric_limits<std::uint64_t>::max());
    const std::uint64_t whole =
        seconds >= kLimit ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(seconds);
    return vorn_ui::format::timecode(whole);
}

std::uint32_t fnv1a32(std::string_view bytes) {
    std::uint32_t hash = 0x811c9dc5u;
    for (unsigned char b : bytes) {
        hash ^= b;
        hash *= 0x01000193u;
    }
    return hash;
}

vorn_ui::Color hsl_to_rgb(float h, float s, float l) {
    const float c = s * (1.0f - std::fabs(2.0f * l - 1.0f));
    float hp = std::fmod(h, 360.0f);
    if (hp < 0.0f) hp += 360.0f;
    const float hh = hp / 60.0f;
    float hm = std::fmod(hh, 2.0f);
    if (hm < 0.0f) hm += 2.0f;
    const float x = c * (1.0f - std::fabs(hm - 1.0f));
    const auto sector = static_cast<unsigned>(hh);
    float r = 0, g = 0, b = 0;
    switch (sector) {
        case 0: r = c, g = x, b = 0; break;
        case 1: r = x, g = c, b = 0; break;
        case 2: r = 0, g = c, b = x; break;
        case 3: r = 0, g = x, b = c; break;
        case 4: r = x, g = 0, b = c; break;
        default: r = c, g = 0, b = x; break;
    }
    const float m = l - c / 2.0f;
    auto channel = [m](float v) {
        const float scaled = std::round((m + v) * 255.0f);  // half away from zero
        return static_cast<float>(static_cast<std::uint8_t>(std::clamp(scaled, 0.0f, 255.0f))) / 255.0f;
    };
    return {channel(r), channel(g), channel(b), 1.0f};
}

std::pair<vorn_ui::Color, vorn_ui::Color> seed_gradient(std::string_view seed) {
    const std::uint32_t hue = fnv1a32(seed) % 360u;
    return {hsl_to_rgb(static_cast<float>(hue), 0.55f, 0.42f),
            hsl_to_rgb(static_cast<float>((hue + 36u) % 360u), 0.50f, 0.28f)};
}

std::string initials(std::string_view name) {
    std::string out;
    int words = 0;
    bool in_word = false;
    std::int32_t i = 0;
    const auto length = static_cast<std::int32_t>(name.size());
    while (i < length && words < 2) {
        const std::int32_t start = i;
        UChar32 cp = 0;
        U8_NEXT(reinterpret_cast<const std::uint8_t*>(name.data()), i, length, cp);
        const bool space = cp >= 0 && u_isUWhiteSpace(cp);
        if (space) {
            in_word = false;
            continue;
        }
        if (in_word) continue;
        in_word = true;
        ++words;
        if (cp >= 'a' && cp <= 'z') {
            out.push_back(static_cast<char>(cp - 'a' + 'A'));
        } else if (cp < 0) {
            out += "\xEF\xBF\xBD";  // a broken byte sequence shows as the replacement character
        } else {
            out.append(name.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        }
    }
    return out.empty() ? std::string("?") : out;
}

double linearize_channel(std::uint8_t channel) {
    const double v = channel / 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double relative_luminance(const vorn_ui::Color& color) {
    const vorn_ui::color_compat::ColorCompat c(color);
    return 0.2126 * linearize_channel(c.r()) + 0.7152 * linearize_channel(c.g()) +
           0.0722 * linearize_channel(c.b());
}

double contrast_ratio(const vorn_ui::Color& a, const vorn_ui::Color& b) {
    const double la = relative_luminance(a);
    const double lb = relative_luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

vorn_ui::Color contrast_text_color(const vorn_ui::Color& background) {
    const vorn_ui::Color white = vorn_ui::Color::white();
    const vorn_ui::Color black = vorn_ui::Color::black();
    return contrast_ratio(white, background) >= contrast_ratio(black, background) ? white : black;
}

ColorPair with_contrast_text(const vorn_ui::Color& background) {
    return {background, contrast_text_color(background)};
}

}  // namespace sarn
