// The kept records' file: what it keeps of a record, how it reads back, and
// that a file that does not read is refused whole and left as it is.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "sarn/actions/kept_records.h"
#include "test_dir.h"

namespace sarn {
namespace {

using vorn_test::TempDir;

Video full_video() {
    Video v;
    v.id = "v1";
    v.title = "T \"quoted\"\n\u00e9";
    v.dearrow_title = "Crowd";
    v.channel_id = "UCa";
    v.channel_name = "Chan";
    v.channel_seed = "UCa";
    v.channel_avatar_url = "https://a/1.jpg";
    v.views = 12'345;
    v.published = "3 days ago";
    v.duration = 61;
    v.likes = 7;
    v.seed = "v1";
    v.thumbnail_url = "https://t/1.jpg";
    v.live = true;
    // Not kept: what only the watch page's later requests bring.
    v.description = "long";
    v.category = "Music";
    v.comments = {Comment{"a", "A", "text", 1, "now", false, false, 0}};
    v.sponsor = {Segment{SponsorCategory::Intro, 1, 2, 3}};
    v.dearrow_thumb = true;
    return v;
}

Channel full_channel() {
    Channel c;
    c.id = "UCa";
    c.name = "Chan";
    c.handle = "@chan";
    c.subscribers = 900;
    c.verified = true;
    c.seed = "UCa";
    c.avatar_url = "https://a/1.jpg";
    c.description = "not kept";
    c.banner_url = "https://b/1.jpg";
    return c;
}

TEST(KeptData, RecordsKeepWhatTheListsShowAndReadBackTheSame) {
    const Video video = kept_fields(full_video());
    EXPECT_TRUE(video.comments.empty() && video.sponsor.empty() && video.description.empty() &&
                video.category.empty() && !video.dearrow_thumb);
    EXPECT_EQ(video.title, full_video().title);
    EXPECT_EQ(video.dearrow_title, full_video().dearrow_title);
    EXPECT_EQ(video.thumbnail_url, full_video().thumbnail_url);
    const Channel channel = kept_fields(full_channel());
    EXPECT_TRUE(channel.description.empty() && channel.banner_url.empty());
    EXPECT_EQ(channel.handle, "@chan");

    Video plain = video;
    plain.id = "v2";
    plain.dearrow_title.reset();
    const KeptRecords records{{video, plain}, {channel}};
    const auto decoded = decode_kept_records(encode_kept_records(records));
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(*decoded, records);
    EXPECT_EQ(decode_kept_records(encode_kept_records(KeptRecords{})), KeptRecords{});
}

TEST(KeptData, LaterRecordsOfAnIdAndUnknownMembersAreDropped) {
    const std::string text = R"({"version":1,"extra":{"a":[1,2]},"videos":[
        {"id":"v","title":"first","dearrow_title":null,"channel_id":"","channel_name":"","channel_seed":"",
         "channel_avatar_url":"","views":0,"published":"","duration":0,"likes":0,"seed":"","thumbnail_url":"",
         "live":false,"later":"x"},
        {"id":"v","title":"second","dearrow_title":null,"channel_id":"","channel_name":"","channel_seed":"",
         "channel_avatar_url":"","views":0,"published":"","duration":0,"likes":0,"seed":"","thumbnail_url":"",
         "live":false}],"channels":[]})";
    const auto decoded = decode_kept_records(text);
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    ASSERT_EQ(decoded->videos.size(), 1u);
    EXPECT_EQ(decoded->videos[0].title, "first");
}

TEST(KeptData, AFileThatDoesNotReadIsRefusedWholeAndLeftAsItIs) {
    const std::string good = encode_kept_records(KeptRecords{{kept_fields(full_video())}, {}});
    std::string wrong_type = good;
    wrong_type.replace(wrong_type.find("\"views\":12345"), 13, "\"views\":\"many\"");
    std::string missing_field = good;
    missing_field.replace(missing_field.find(",\"live\":true"), 12, "");
    std::string no_id = good;
    no_id.replace(no_id.find("\"id\":\"v1\""), 9, "\"id\":\"\"");
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"not JSON", "\x89PNG\r\n"},
        {"cut short", good.substr(0, good.size() / 2)},
        {"another version", R"({"version":2,"videos":[],"channels":[]})"},
        {"a field of another type", wrong_type},
        {"a missing field", missing_field},
        {"a record without an id", no_id},
        {"trailing bytes", good + "]"},
        {"a list where an object goes", "[]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto path = KeptRecordsStore::records_path(dir.path());
        vorn_test::write_file_creating_parent(path, c.bytes);
        const KeptRecordsStore store = KeptRecordsStore::open_in(dir.path());
        EXPECT_TRUE(store.read_error().has_value());
        EXPECT_EQ(store.records(), KeptRecords{});
        EXPECT_EQ(vorn_test::read_file(path), c.bytes);
    }

    // Not a regular file, and one beyond the size limit.
    TempDir dir;
    const auto path = KeptRecordsStore::records_path(dir.path());
    std::filesystem::create_directories(path);
    EXPECT_TRUE(KeptRecordsStore::open_in(dir.path()).read_error().has_value());
    std::filesystem::remove(path);
    vorn_test::write_file_creating_parent(path, std::string(kKeptRecordsFileLimit + 1, ' '));
    EXPECT_TRUE(KeptRecordsStore::open_in(dir.path()).read_error().has_value());
    EXPECT_EQ(std::filesystem::file_size(path), kKeptRecordsFileLimit + 1);
}

TEST(KeptData, SavesReplaceTheFileWholeOnTheWriterThread) {
    TempDir dir;
    {
        KeptRecordsStore store = KeptRecordsStore::open_in(dir.path());
        EXPECT_FALSE(store.read_error().has_value());  // no file yet is no error
        store.use_writer_thread();
        store.save(KeptRecords{{kept_fields(full_video())}, {kept_fields(full_channel())}});
        store.save(KeptRecords{{}, {kept_fields(full_channel())}});
        store.finish_writes();
        EXPECT_FALSE(store.take_write_failure().has_value());
    }
    const auto path = KeptRecordsStore::records_path(dir.path());
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const KeptRecordsStore again = KeptRecordsStore::open_in(dir.path());
    EXPECT_FALSE(again.read_error().has_value());
    EXPECT_EQ(again.records(), (KeptRecords{{}, {kept_fields(full_channel())}}));

    // A failed write is answered once and marks the records unsaved.
    TempDir blocked;
    std::filesystem::create_directories(blocked.path() / "vorn" / "sarn");
    ::chmod((blocked.path() / "vorn" / "sarn").c_str(), 0500);
    KeptRecordsStore store = KeptRecordsStore::open_in(blocked.path());
    store.use_writer_thread();
    store.save(KeptRecords{{kept_fields(full_video())}, {}});
    store.finish_writes();
    if (::geteuid() != 0) {
        EXPECT_TRUE(store.take_write_failure().has_value());
        EXPECT_TRUE(store.unsaved());
        EXPECT_FALSE(store.take_write_failure().has_value());
    }
}

}  // namespace
}  // namespace sarn
