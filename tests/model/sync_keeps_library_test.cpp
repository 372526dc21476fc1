// How the Library names a channel across the keys a subscription may be
// stored under, and the addresses it gives a phone for each of them.
#include <gtest/gtest.h>

#include "sarn/model/library.h"
#include "sarn/model/platform_url.h"

namespace sarn {
namespace {

const std::string kA = "UCaaaaaaaaaaaaaaaaaaaaaa";
const std::string kB = "UCbbbbbbbbbbbbbbbbbbbbbb";

Channel channel(std::string id, std::string name, std::string handle) {
    Channel c;
    c.id = std::move(id);
    c.name = std::move(name);
    c.handle = std::move(handle);
    c.seed = c.id;
    return c;
}

TEST(SyncKeeps, AChannelIsFoundUnderEveryKeyThatNamesIt) {
    struct Row {
        std::string entry;
        bool names_a;
    };
    const Row rows[] = {
        {kA, true},
        {"https://youtube.com/channel/" + kA, true},
        {"https://www.youtube.com/channel/" + kA, true},
        {"https://m.youtube.com/channel/" + kA + "/", true},
        {"https://youtube.com/channel/" + kA + "/videos", true},
        {"@alpha", true},                      // the known channel's handle
        {"https://youtube.com/@alpha", true},  // and its address
        {"https://youtube.com/channel/" + kA + "x", false},
        {"https://example.com/channel/" + kA, false},
        {"https://youtube.com/user/" + kA, false},
        {kB, false},
    };
    Library library;
    library.channels = {channel(kA, "Alpha", "@alpha")};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entry);
        library.subscriptions = {kB, row.entry};
        EXPECT_EQ(library.is_subscribed(kA), row.names_a);
        EXPECT_EQ(library.find_subscription(kA), row.names_a ? std::optional<std::string>(row.entry) : std::nullopt);
        if (row.names_a) {
            EXPECT_EQ(library.channel_key(row.entry), kA);
        }
    }

    // The id's address form needs no record of the channel.
    Library bare;
    bare.subscriptions = {"https://youtube.com/channel/" + kA};
    EXPECT_TRUE(bare.is_subscribed(kA));

    // Unsubscribing finds every key, and the local toggle drops them all.
    library.subscriptions = {kA, "x", "https://youtube.com/channel/" + kA, "@alpha"};
    EXPECT_EQ(library.subscription_keys(kA),
              (std::vector<std::string>{kA, "https://youtube.com/channel/" + kA, "@alpha"}));
    library.toggle_subscription(kA);
    EXPECT_EQ(library.subscriptions, std::vector<std::string>{"x"});
    library.toggle_subscription(kA);
    EXPECT_EQ(library.subscriptions, (std::vector<std::string>{"x", kA}));
}

TEST(SyncKeeps, PhonesGetAddressesTheyCanOpen) {
    Library library;
    library.channels = {channel(kA, "Alpha", "@alpha"), channel(kB, "Bravo", "https://youtube.com/@bravo"),
                        channel("ch_sample", "Sample", "@sample")};
    struct Row {
        std::string entry;
        std::optional<std::string> address;
    };
    const Row rows[] = {
        {kA, "https://www.youtube.com/channel/" + kA},
        {"https://youtube.com/channel/" + kA + "/", "https://www.youtube.com/channel/" + kA},
        {"@alpha", "https://www.youtube.com/channel/" + kA},                      // a known channel's handle
        {"https://youtube.com/@bravo", "https://www.youtube.com/channel/" + kB},  // a known channel's address
        {"UCunknownchannel", "https://www.youtube.com/channel/UCunknownchannel"},
        {"https://youtube.com/@someone", "https://www.youtube.com/@someone"},
        {"ch_sample", "https://www.youtube.com/@sample"},  // known, but no platform id
        {"ch_unknown", std::nullopt},                     // never sent bare
        {"@unknown", std::nullopt},
        {"UC", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(library.peer_subscription_url(row.entry), row.address) << row.entry;
}

TEST(SyncKeeps, WatchAddressesGiveTheirVideoIds) {
    const std::pair<std::string, std::optional<std::string>> rows[] = {
        {"https://www.youtube.com/watch?v=abc-_12", "abc-_12"},
        {"https://youtube.com/watch?feature=x&v=abc&t=10", "abc"},
        {"https://m.youtube.com/watch?v=abc#t=3", "abc"},
        {"https://youtu.be/abc?t=4", "abc"},
        {"https://www.youtube.com/shorts/abc", "abc"},
        {"https://www.youtube.com/live/abc?si=1", "abc"},
        {"https://www.youtube.com/watch?v=", std::nullopt},
        {"https://www.youtube.com/watch?v=a%20b", std::nullopt},
        {"https://www.youtube.com/watch?list=PL1", std::nullopt},
        {"https://example.com/watch?v=abc", std::nullopt},
        {"abc", std::nullopt},
    };
    for (const auto& [text, id] : rows) EXPECT_EQ(video_id_in_address(text), id) << text;
    EXPECT_EQ(channel_id_in_address("https://www.youtube.com/channel/UC1?x=1"), "UC1");
    EXPECT_EQ(channel_id_in_address("https://www.youtube.com/channel/XY1"), std::nullopt);
}

}  // namespace
}  // namespace sarn
