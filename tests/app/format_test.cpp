#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sarn/app/format.h"
#include "vorn_ui/color_compat.h"

namespace sarn {
namespace {

struct Rgb8 {
    int r, g, b;
    friend bool operator==(const Rgb8&, const Rgb8&) = default;
};
Rgb8 rgb8(const vorn_ui::Color& c) {
    vorn_ui::color_compat::ColorCompat cc(c);
    return {cc.r(), cc.g(), cc.b()};
}

TEST(Format, SeedGradientIsStableAndExact) {
    EXPECT_EQ(fnv1a32(""), 0x811c9dc5u);
    EXPECT_EQ(fnv1a32("abc"), 0x1a47e90bu);
    const auto [start, end] = seed_gradient("abc");  // hue 251
    EXPECT_EQ(rgb8(start), (Rgb8{70, 48, 166}));
    EXPECT_EQ(rgb8(end), (Rgb8{92, 36, 107}));
    // Channels are exact 8-bit values.
    EXPECT_FLOAT_EQ(start.r * 255.0f, std::round(start.r * 255.0f));
    EXPECT_EQ(start.a, 1.0f);
    // Hue 340 wraps to an end hue of 16: same colour as computing hue 16 directly.
    EXPECT_EQ(hsl_to_rgb(376.0f, 0.5f, 0.28f), hsl_to_rgb(16.0f, 0.5f, 0.28f));
    EXPECT_EQ(hsl_to_rgb(-20.0f, 0.5f, 0.28f), hsl_to_rgb(340.0f, 0.5f, 0.28f));
}

TEST(Format, Initials) {
    struct Case {
        const char* name;
        const char* expected;
    } cases[] = {
        {"ada lovelace byron", "AL"}, {"  single  ", "S"},   {"", "?"},          {"   ", "?"},
        {"\xC3\xa9mile zola", "\xC3\xa9Z"},                  {"one\ttwo", "OT"}, {"\xE3\x80\x80x y", "XY"},
        {"9lives cat", "9C"},
    };
    for (const auto& c : cases) EXPECT_EQ(initials(c.name), c.expected) << c.name;
}

TEST(Format, CountAndTimeTexts) {
    EXPECT_EQ(subscriber_count_text(0), std::nullopt);
    EXPECT_EQ(subscriber_count_text(1500), "1.5K subscribers");
    EXPECT_EQ(view_count_text(0), "0 views");
    EXPECT_EQ(view_count_text(2'300'000), "2.3M views");
    EXPECT_EQ(timecode_from_secs(-5), "0:00");
    EXPECT_EQ(timecode_from_secs(59.9), "0:59");
    EXPECT_EQ(timecode_from_secs(std::nan("")), "0:00");
    EXPECT_EQ(timecode_from_secs(3723.5), "1:02:03");
    EXPECT_FALSE(timecode_from_secs(1e300).empty());  // saturates, never undefined
}

TEST(Format, ContrastTextColour) {
    EXPECT_EQ(contrast_text_color(vorn_ui::Color::white()), vorn_ui::Color::black());
    EXPECT_EQ(contrast_text_color(vorn_ui::Color::black()), vorn_ui::Color::white());
    const auto grey = vorn_ui::Color::rgba8(128, 128, 128);
    EXPECT_NEAR(contrast_ratio(grey, vorn_ui::Color::black()), 5.3, 0.05);
    EXPECT_NEAR(contrast_ratio(grey, vorn_ui::Color::white()), 3.95, 0.05);
    EXPECT_EQ(contrast_text_color(grey), vorn_ui::Color::black());
    EXPECT_EQ(with_contrast_text(grey), (ColorPair{grey, vorn_ui::Color::black()}));
}

}  // namespace
}  // namespace sarn
