// The helpers the probes share: the short address form, the frame checksum,
// the sniffing of image bytes and the name key, as tables.
#include "sarn/main/probe_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sarn::entry {
namespace {

using namespace std::literals;

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

TEST(UrlForDisplay, ShortensToTheFirst72BytesBeforeTheQuery) {
    const std::string a100(100, 'a');
    const std::string a72(72, 'a');
    // "é" is two bytes: 71 ASCII bytes put its second byte at offset 72.
    const std::string straddling = std::string(71, 'x') + "é" + std::string(20, 'y');
    // Three-byte characters from the start: offset 72 begins one (72 = 3 * 24).
    std::string wide;
    for (int i = 0; i < 40; ++i) wide += "€";
    // Offset 72 inside a four-byte character that begins at 69.
    const std::string emoji = std::string(69, 'z') + "😀" + std::string(10, 'z');
    const struct {
        std::string address;
        std::string want;
    } cases[] = {
        {"", "<none>"},
        {"https://i.example/a.jpg", "https://i.example/a.jpg"},
        {"https://i.example/a.jpg?sqp=abc&rs=xyz", "https://i.example/a.jpg"},
        {"?only=query", ""},
        {a72, a72},
        {a72 + "?" + a100, a72},
        {a100, a72 + "…"},
        {a100 + "?q=1", a72 + "…"},
        {std::string(73, 'b'), std::string(72, 'b') + "…"},
        // Never the whole long text: the cut moves back to the character's start.
        {straddling, std::string(71, 'x') + "…"},
        {emoji, std::string(69, 'z') + "…"},
        {wide, wide.substr(0, 72) + "…"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(url_for_display(c.address), c.want);
    }
}

TEST(FrameChecksum, ReadsEvery97thByteFromTheFirst) {
    std::vector<std::uint8_t> ramp(300);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::uint8_t>(i & 0xFF);
    std::vector<std::uint8_t> first_only(97, 0);
    first_only[0] = 7;
    std::vector<std::uint8_t> sevens(97, 7);
    const struct {
        const char* name;
        std::vector<std::uint8_t> pixels;
        std::uint64_t want;
    } cases[] = {
        {"empty picture keeps the start value", {}, 0x14650fb0739d0383ULL},
        {"97 bytes: the first byte only", first_only, 0x44bd2cd473ccf94cULL},
        {"the other 96 bytes are not read", sevens, 0x44bd2cd473ccf94cULL},
        {"2x2 BGRA picture", {0x10, 0x20, 0x30, 0xff, 0x10, 0x20, 0x30, 0xff, 0x10, 0x20, 0x30, 0xff, 0x10, 0x20, 0x30, 0xff},
         0x44bd3bd473cd12c9ULL},
        {"ramp of 300 bytes: offsets 0, 97, 194, 291", ramp, 0x691956a2597877e7ULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(frame_checksum(c.pixels), c.want);
    }
    // A byte off the grid changes nothing; one on it changes the value.
    auto moved = ramp;
    moved[1] ^= 0xFF;
    EXPECT_EQ(frame_checksum(moved), frame_checksum(ramp));
    moved[97] ^= 0xFF;
    EXPECT_NE(frame_checksum(moved), frame_checksum(ramp));
}

TEST(SniffImageFormat, LeadingBytesInOrder) {
    const struct {
        std::vector<std::uint8_t> bytes;
        std::string_view want;
    } cases[] = {
        {{0xFF, 0xD8, 0xFF, 0xE0, 0x00}, "JPEG"},
        {{0xFF, 0xD8, 0xFF}, "JPEG"},
        {{0xFF, 0xD8}, "OTHER"},
        {{0x89, 0x50, 0x4E, 0x47}, "PNG"},
        {{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}, "PNG"},
        {{0x89, 0x50, 0x4E}, "OTHER"},
        {bytes_of("RIFF\x10\0\0\0WEBPVP8 "sv), "WEBP"},
        {bytes_of("RIFF\x10\0\0\0WEBP"sv), "WEBP"},
        {bytes_of("RIFF\x10\0\0\0WAVEfmt "sv), "OTHER"},
        {bytes_of("RIFF\x10\0\0\0WEB"sv), "OTHER"},
        {bytes_of("GIF89a"sv), "GIF"},
        {bytes_of("GIF8"sv), "GIF"},
        {bytes_of("GIF"sv), "OTHER"},
        {bytes_of("<html>"sv), "OTHER"},
        {{}, "OTHER"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.bytes.begin(), c.bytes.end()));
        EXPECT_EQ(sniff_image_format(c.bytes), c.want);
    }
}

TEST(FoldName, TrimsUnicodeWhiteSpaceAndLowerCases) {
    const struct {
        std::string_view name;
        std::string_view want;
    } cases[] = {
        {"Blender", "blender"},
        {"  Blender Studio \t\n", "blender studio"},
        {"\u00a0\u2003ÉCOLE\u3000", "école"},
        {"ΣΟΦΊΑ", "σοφία"},
        {"", ""},
        {" \t ", ""},
        {"already lower", "already lower"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fold_name(c.name), c.want);
    }
}

TEST(CatalogPageDebug, NamesTheVariantAndItsContents) {
    Video video;
    video.id = "abc";
    video.title = "say \"hi\"";
    const std::string text = catalog_page_debug(CatalogPage::of_video(video));
    EXPECT_TRUE(text.starts_with("Video(Video { id: \"abc\", title: \"say \\\"hi\\\"\", dearrow_title: None,")) << text;
    EXPECT_TRUE(text.ends_with("live: false })")) << text;
    Channel channel;
    channel.name = "C";
    const std::string channel_text = catalog_page_debug(CatalogPage::of_channel(channel, {}));
    EXPECT_TRUE(channel_text.starts_with("Channel(Channel { id: \"\", name: \"C\",")) << channel_text;
    EXPECT_TRUE(channel_text.ends_with("banner_url: \"\" }, [])")) << channel_text;
    EXPECT_EQ(catalog_page_debug(CatalogPage::of_videos({})), "Videos([])");
}

}  // namespace
}  // namespace sarn::entry
