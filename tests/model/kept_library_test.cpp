// The kept records in the Library: lookups fall back on them, the catalogue
// never shows or changes them, and subscription entries of any form find
// their channel.
#include <gtest/gtest.h>

#include "sarn/model/library.h"

namespace sarn {
namespace {

Video video(std::string id, std::string title) {
    Video v;
    v.id = std::move(id);
    v.title = std::move(title);
    v.channel_id = "UCa";
    v.channel_name = "A";
    return v;
}

Channel channel(std::string id, std::string name, std::string handle) {
    Channel c;
    c.id = std::move(id);
    c.name = std::move(name);
    c.handle = std::move(handle);
    return c;
}

TEST(KeptData, LookupsFallBackOnKeptRecordsThatTheCatalogueLeavesAlone) {
    Library library;
    library.kept_videos = {video("k", "kept"), video("both", "kept copy")};
    library.kept_channels = {channel("UCk", "Kept", "@kept")};
    library.videos = {video("both", "catalogue copy")};
    library.history = {"k", "both", "gone"};

    ASSERT_NE(library.find_video("k"), nullptr);
    EXPECT_EQ(library.find_video("both")->title, "catalogue copy");
    EXPECT_EQ(library.history_videos().size(), 2u);
    EXPECT_NE(library.find_channel("UCk"), nullptr);
    // The catalogue's pages list the catalogue only.
    EXPECT_EQ(library.search_library("").size(), 1u);
    EXPECT_TRUE(library.videos_of_channel("UCa").size() == 1);

    // An upsert adds to the catalogue; the kept copy stays as it was.
    library.upsert_video(video("k", "fresh"));
    EXPECT_EQ(library.find_video("k")->title, "fresh");
    EXPECT_EQ(library.kept_videos[0].title, "kept");
    library.upsert_channel(channel("UCk", "Fresh", "@kept"));
    EXPECT_EQ(library.find_channel("UCk")->name, "Fresh");
    EXPECT_EQ(library.kept_channels[0].name, "Kept");
    // A kept channel counts as known: no stub shadows it.
    Library other;
    other.kept_channels = {channel("UCk", "Kept", "@kept")};
    other.ensure_channel_stub("UCk", "from a video");
    EXPECT_TRUE(other.channels.empty());
}

TEST(KeptData, SubscriptionEntriesOfEveryFormFindTheirChannel) {
    Library library;
    library.channels = {channel("UCa", "A", "@alpha"), channel("UCb", "B", "/@beta")};
    library.kept_channels = {channel("UCk", "K", "@kappa")};
    const struct {
        const char* entry;
        const char* channel;  // nullptr: none
    } cases[] = {
        {"UCa", "UCa"},
        {"@alpha", "UCa"},
        {"https://youtube.com/@alpha", "UCa"},
        {"https://www.youtube.com/@beta", "UCb"},
        {"https://m.youtube.com/@beta/", "UCb"},
        {"https://youtube.com/channel/UCa", "UCa"},
        {"https://www.youtube.com/channel/UCk", "UCk"},
        {"https://youtube.com/@kappa", "UCk"},
        {"https://youtube.com/@nobody", nullptr},
        {"https://example.com/@alpha", nullptr},
        {"UCnone", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        const Channel* found = library.subscription_channel(c.entry);
        if (c.channel == nullptr) {
            EXPECT_EQ(found, nullptr);
        } else {
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->id, c.channel);
        }
    }
}

}  // namespace
}  // namespace sarn
