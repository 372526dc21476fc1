#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <variant>

#include "sarn/model/action.h"
#include "sarn/model/operation.h"
#include "sarn/model/route_json.h"

namespace sarn {
namespace {

enum class Kind { Action, Operation, Route };

// Decodes `input` as `kind`; answers the canonical encoding of the value, or
// the error text.
struct Outcome {
    bool ok = false;
    std::string text;
};

Outcome decode_as(Kind kind, std::string_view input) {
    auto finish = [](const auto& result) {
        if (result) return Outcome{true, encode_json(*result)};
        return Outcome{false, result.error()};
    };
    switch (kind) {
        case Kind::Action: return finish(decode_action(input));
        case Kind::Operation: return finish(decode_operation(input));
        case Kind::Route: return finish(decode_route(input));
    }
    return {};
}

struct Row {
    Kind kind;
    std::string_view input;
    bool ok;
    std::string_view text;  // canonical encoding when ok, else the error text
};

// --- Every variant: encoding, decoding back and the debug text. ---

struct ActionRow {
    SarnAction value;
    std::string_view json;
    std::string_view debug;
};

TEST(ActionJson, EveryVariantEncodesDecodesAndPrints) {
    using namespace action;
    const ActionRow rows[] = {
        {LikeVideo{"abc"}, R"({"LikeVideo":{"video_id":"abc"}})", R"(LikeVideo { video_id: "abc" })"},
        {SetVideoLiked{"abc", true}, R"({"SetVideoLiked":{"video_id":"abc","liked":true}})",
         R"(SetVideoLiked { video_id: "abc", liked: true })"},
        {AddToQueue{"v"}, R"({"AddToQueue":{"video_id":"v"}})", R"(AddToQueue { video_id: "v" })"},
        {SetQueueMembership{"v", false}, R"({"SetQueueMembership":{"video_id":"v","queued":false}})",
         R"(SetQueueMembership { video_id: "v", queued: false })"},
        {SetHistoryEntry{"user:a", "v", 1700000000123, true, "m:1"},
         R"({"SetHistoryEntry":{"owner_id":"user:a","video_id":"v","watched_at_ms":1700000000123,"present":true,"mutation_id":"m:1"}})",
         R"(SetHistoryEntry { owner_id: "user:a", video_id: "v", watched_at_ms: 1700000000123, present: true, mutation_id: "m:1" })"},
        {ClearHistory{"o", 18446744073709551615u, "c"},
         R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":18446744073709551615,"clear_id":"c"}})",
         R"(ClearHistory { owner_id: "o", cleared_at_ms: 18446744073709551615, clear_id: "c" })"},
        {ToggleSubscription{"UC1"}, R"({"ToggleSubscription":{"channel_id":"UC1"}})",
         R"(ToggleSubscription { channel_id: "UC1" })"},
        {SetSubscription{"UC1", true}, R"({"SetSubscription":{"channel_id":"UC1","subscribed":true}})",
         R"(SetSubscription { channel_id: "UC1", subscribed: true })"},
        {SetSetting{Setting::DeArrowThumbnails, false}, R"({"SetSetting":{"setting":"DeArrowThumbnails","enabled":false}})",
         R"(SetSetting { setting: DeArrowThumbnails, enabled: false })"},
        {CyclePreferredQuality{}, R"("CyclePreferredQuality")", "CyclePreferredQuality"},
        {SetPreferredQuality{"720p"}, R"({"SetPreferredQuality":{"quality":"720p"}})",
         R"(SetPreferredQuality { quality: "720p" })"},
        {SetSponsorCategory{SponsorCategory::MusicOfftopic, SponsorMode::Show},
         R"({"SetSponsorCategory":{"category":"MusicOfftopic","mode":"Show"}})",
         "SetSponsorCategory { category: MusicOfftopic, mode: Show }"},
        {LikeComment{"v", 0, ""}, R"({"LikeComment":{"video_id":"v","index":0,"comment_id":""}})",
         R"(LikeComment { video_id: "v", index: 0, comment_id: "" })"},
        {SetCommentLiked{"c", true}, R"({"SetCommentLiked":{"comment_id":"c","liked":true}})",
         R"(SetCommentLiked { comment_id: "c", liked: true })"},
        {ReplyToComment{"v", 12, "c", "thanks \"so\" much\n"},
         R"({"ReplyToComment":{"video_id":"v","index":12,"comment_id":"c","text":"thanks \"so\" much\n"}})",
         R"(ReplyToComment { video_id: "v", index: 12, comment_id: "c", text: "thanks \"so\" much\n" })"},
        {SetCommentReply{"c", "reply-00ff00ff00ff00ff", "", false},
         R"({"SetCommentReply":{"comment_id":"c","reply_id":"reply-00ff00ff00ff00ff","text":"","active":false}})",
         R"(SetCommentReply { comment_id: "c", reply_id: "reply-00ff00ff00ff00ff", text: "", active: false })"},
    };
    static_assert(std::size(rows) == kSarnActionVariantCount);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const ActionRow& row = rows[i];
        EXPECT_EQ(row.value.index(), i) << "rows follow the declared order";
        EXPECT_EQ(variant_name(row.value), kSarnActionVariantNames[i]);
        EXPECT_EQ(encode_json(row.value), row.json);
        EXPECT_EQ(json_value(row.value).dump(), row.json);
        EXPECT_EQ(debug_text(row.value), row.debug);
        const auto decoded = decode_action(row.json);
        ASSERT_TRUE(decoded.has_value()) << decoded.error();
        EXPECT_EQ(*decoded, row.value) << row.json;
    }
}

struct OperationRow {
    SarnOperation value;
    std::string_view json;
    std::string_view debug;
};

TEST(OperationJson, EveryVariantEncodesDecodesAndPrints) {
    using namespace operation;
    const OperationRow rows[] = {
        {TogglePlayback{}, R"("TogglePlayback")", "TogglePlayback"},
        {ToggleSidebar{}, R"("ToggleSidebar")", "ToggleSidebar"},
        {Share{"v"}, R"({"Share":{"video_id":"v"}})", R"(Share { video_id: "v" })"},
        {Navigate{Route::watch("abc")}, R"({"Navigate":{"route":{"Watch":"abc"}}})",
         R"(Navigate { route: Watch("abc") })"},
        {OpenVideo{"v"}, R"({"OpenVideo":{"video_id":"v"}})", R"(OpenVideo { video_id: "v" })"},
        {OpenChannel{"c"}, R"({"OpenChannel":{"channel_id":"c"}})", R"(OpenChannel { channel_id: "c" })"},
        {OpenPlaylist{"p"}, R"({"OpenPlaylist":{"playlist_id":"p"}})", R"(OpenPlaylist { playlist_id: "p" })"},
        {Download{"v"}, R"({"Download":{"video_id":"v"}})", R"(Download { video_id: "v" })"},
        {PairDevice{"grayjay://sync/AAAA"}, R"({"PairDevice":{"invite":"grayjay://sync/AAAA"}})",
         R"(PairDevice { invite: "grayjay://sync/AAAA" })"},
        {SyncDevices{}, R"("SyncDevices")", "SyncDevices"},
        {ApproveDevice{"p"}, R"({"ApproveDevice":{"peer_id":"p"}})", R"(ApproveDevice { peer_id: "p" })"},
        {RevokeDevice{"p"}, R"({"RevokeDevice":{"peer_id":"p"}})", R"(RevokeDevice { peer_id: "p" })"},
        {RecordHistory{"v"}, R"({"RecordHistory":{"video_id":"v"}})", R"(RecordHistory { video_id: "v" })"},
        {RemoveHistory{"v"}, R"({"RemoveHistory":{"video_id":"v"}})", R"(RemoveHistory { video_id: "v" })"},
        {ClearHistory{}, R"("ClearHistory")", "ClearHistory"},
    };
    static_assert(std::size(rows) == kSarnOperationVariantCount);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const OperationRow& row = rows[i];
        EXPECT_EQ(row.value.index(), i) << "rows follow the declared order";
        EXPECT_EQ(variant_name(row.value), kSarnOperationVariantNames[i]);
        EXPECT_EQ(encode_json(row.value), row.json);
        EXPECT_EQ(json_value(row.value).dump(), row.json);
        EXPECT_EQ(debug_text(row.value), row.debug);
        const auto decoded = decode_operation(row.json);
        ASSERT_TRUE(decoded.has_value()) << decoded.error();
        EXPECT_EQ(*decoded, row.value) << row.json;
    }
}

TEST(RouteJson, EveryRouteEncodesDecodesAndPrints) {
    struct RouteRow {
        Route route;
        std::string_view json;
        std::string_view debug;
    };
    const RouteRow rows[] = {
        {Route::home(), R"("Home")", "Home"},
        {Route::trending(), R"("Trending")", "Trending"},
        {Route::subscriptions(), R"("Subscriptions")", "Subscriptions"},
        {Route::queue(), R"("Queue")", "Queue"},
        {Route::watch("abc"), R"({"Watch":"abc"})", R"(Watch("abc"))"},
        {Route::channel("UC1"), R"({"Channel":"UC1"})", R"(Channel("UC1"))"},
        {Route::playlist("PL1"), R"({"Playlist":"PL1"})", R"(Playlist("PL1"))"},
        {Route::search("rust"), R"({"Search":"rust"})", R"(Search("rust"))"},
        {Route::history(), R"("History")", "History"},
        {Route::settings(), R"("Settings")", "Settings"},
    };
    static_assert(std::size(rows) == kRouteKindCount);
    for (const RouteRow& row : rows) {
        EXPECT_EQ(encode_json(row.route), row.json);
        EXPECT_EQ(json_value(row.route).dump(), row.json);
        EXPECT_EQ(debug_text(row.route), row.debug);
        const auto decoded = decode_route(row.json);
        ASSERT_TRUE(decoded.has_value()) << decoded.error();
        EXPECT_EQ(*decoded, row.route);
        // Inside an operation it takes the same form.
        const SarnOperation navigate = operation::Navigate{row.route};
        EXPECT_EQ(encode_json(navigate), std::string(R"({"Navigate":{"route":)") + std::string(row.json) + "}}");
    }
}

// --- Texts: escapes on the way out, and what the debug text shows. ---

TEST(VocabularyText, EscapesAndNonAsciiTextRoundTrip) {
    struct TextRow {
        std::string text;
        std::string_view json;   // the string as encoded
        std::string_view debug;  // the string in the debug text
    };
    const TextRow rows[] = {
        {"plain", R"("plain")", R"("plain")"},
        {"a/b", R"("a/b")", R"("a/b")"},
        {"q\"b\\s", R"("q\"b\\s")", R"("q\"b\\s")"},
        {"\b\f\n\r\t", R"("\b\f\n\r\t")", R"("\u{8}\u{c}\n\r\t")"},
        {std::string("\x00\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\x7f\"", R"("\0\u{1}\u{1f}\u{7f}")"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"",
         "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        // Combining accent, zero-width space, no-break space: escaped in the debug text only.
        {"e\xcc\x81\xe2\x80\x8b\xc2\xa0", "\"e\xcc\x81\xe2\x80\x8b\xc2\xa0\"", R"("e\u{301}\u{200b}\u{a0}")"},
        {"it's", R"("it's")", R"("it's")"},
    };
    for (const TextRow& row : rows) {
        const SarnAction value = action::SetPreferredQuality{row.text};
        const std::string json = encode_json(value);
        EXPECT_EQ(json, std::string(R"({"SetPreferredQuality":{"quality":)") + std::string(row.json) + "}}");
        EXPECT_EQ(debug_text(value), std::string("SetPreferredQuality { quality: ") + std::string(row.debug) + " }");
        const auto decoded = decode_action(json);
        ASSERT_TRUE(decoded.has_value()) << decoded.error();
        EXPECT_EQ(*decoded, value);
    }
}

TEST(VocabularyText, InvalidUtf8IsWrittenAsReplacementCharacters) {
    // Values built in memory may carry bytes that are not UTF-8; the encoders
    // still produce valid documents, one U+FFFD per invalid sequence.
    const SarnAction value = action::LikeVideo{"a\xff" "b\xe2\x82" "c\xed\xa0\x80"};
    const std::string json = encode_json(value);
    EXPECT_EQ(json, "{\"LikeVideo\":{\"video_id\":\"a\xef\xbf\xbd" "b\xef\xbf\xbd" "c\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"}}");
    EXPECT_EQ(json_value(value).dump(), json);
    EXPECT_EQ(debug_text(value), "LikeVideo { video_id: \"a\xef\xbf\xbd" "b\xef\xbf\xbd" "c\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\" }");
    const SarnOperation navigate = operation::Navigate{Route::search("\xc0")};
    EXPECT_EQ(encode_json(navigate), "{\"Navigate\":{\"route\":{\"Search\":\"\xef\xbf\xbd\"}}}");
    EXPECT_EQ(json_value(navigate).dump(), encode_json(navigate));
    EXPECT_TRUE(decode_operation(encode_json(navigate)).has_value());
}

// --- The alternative forms the decoders accept, with the value they give. ---

TEST(VocabularyDecoding, AcceptsEveryAlternativeForm) {
    const Row rows[] = {
        {Kind::Action, R"({"CyclePreferredQuality":null})", true, R"("CyclePreferredQuality")"},
        {Kind::Action, "  \"CyclePreferredQuality\"\n", true, R"("CyclePreferredQuality")"},
        {Kind::Action, R"({"LikeVideo":["abc"]})", true, R"({"LikeVideo":{"video_id":"abc"}})"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"abc"}})", true, R"({"LikeVideo":{"video_id":"abc"}})"},
        {Kind::Action, R"({"SetVideoLiked":{"liked":true,"video_id":"a","extra":[1,2]}})", true, R"({"SetVideoLiked":{"video_id":"a","liked":true}})"},
        {Kind::Action, R"({"SetVideoLiked":{"x":{"y":[{"z":null},-1.5e3,"\ud800"]},"liked":false,"video_id":"a","z":true}})", true, R"({"SetVideoLiked":{"video_id":"a","liked":false}})"},
        {Kind::Action, "{\"SetVideoLiked\":{\"skipped\":\"\xff\xfe\",\"video_id\":\"a\",\"liked\":true}}", true, R"({"SetVideoLiked":{"video_id":"a","liked":true}})"},
        {Kind::Action, R"({"SetVideoLiked":["a",true]})", true, R"({"SetVideoLiked":{"video_id":"a","liked":true}})"},
        {Kind::Action, R"({"SetHistoryEntry":["o","v",18446744073709551615,true,"m"]})", true, R"({"SetHistoryEntry":{"owner_id":"o","video_id":"v","watched_at_ms":18446744073709551615,"present":true,"mutation_id":"m"}})"},
        {Kind::Action, R"({"SetHistoryEntry":{"mutation_id":"m","present":false,"watched_at_ms":0,"video_id":"v","owner_id":"o"}})", true, R"({"SetHistoryEntry":{"owner_id":"o","video_id":"v","watched_at_ms":0,"present":false,"mutation_id":"m"}})"},
        {Kind::Action, R"({"SetSetting":{"setting":{"DeArrow":null},"enabled":false}})", true, R"({"SetSetting":{"setting":"DeArrow","enabled":false}})"},
        {Kind::Action, R"({"SetSponsorCategory":["Filler",{"Show":null}]})", true, R"({"SetSponsorCategory":{"category":"Filler","mode":"Show"}})"},
        {Kind::Action, R"({"LikeComment":{"video_id":"v","index":0,"comment_id":""}})", true, R"({"LikeComment":{"video_id":"v","index":0,"comment_id":""}})"},
        {Kind::Action, R"({"ReplyToComment":{"video_id":"v\u00e9\n","index":7,"comment_id":"c\/d","text":"\ud83d\ude00 \"q\" \\ \u001f"}})", true, "{\"ReplyToComment\":{\"video_id\":\"v\xc3\xa9\\n\",\"index\":7,\"comment_id\":\"c/d\",\"text\":\"\xf0\x9f\x98\x80 \\\"q\\\" \\\\ \\u001f\"}}"},
        {Kind::Action, "\t{ \"SetQueueMembership\" :\x0d\n[ \"v\" , false ] }\n", true, R"({"SetQueueMembership":{"video_id":"v","queued":false}})"},
        {Kind::Operation, R"({"TogglePlayback":null})", true, R"("TogglePlayback")"},
        {Kind::Operation, R"({"Navigate":{"route":{"Home":null}}})", true, R"({"Navigate":{"route":"Home"}})"},
        {Kind::Operation, R"({"Navigate":{"route":{"Search":"rust"}}})", true, R"({"Navigate":{"route":{"Search":"rust"}}})"},
        {Kind::Operation, R"({"Navigate":["Queue"]})", true, R"({"Navigate":{"route":"Queue"}})"},
        {Kind::Operation, R"({"Navigate":{"route":{"Watch":"abc"},"route2":"x"}})", true, R"({"Navigate":{"route":{"Watch":"abc"}}})"},
        {Kind::Operation, R"({"PairDevice":["grayjay://sync/AAAA"]})", true, R"({"PairDevice":{"invite":"grayjay://sync/AAAA"}})"},
        {Kind::Route, R"({"History":null})", true, R"("History")"},
        {Kind::Route, R"({"Playlist":"PL1"})", true, R"({"Playlist":"PL1"})"},
    };
    for (const Row& row : rows) {
        const Outcome outcome = decode_as(row.kind, row.input);
        EXPECT_TRUE(outcome.ok) << row.input << "\n  " << outcome.text;
        EXPECT_EQ(outcome.text, row.text) << row.input;
    }
}

TEST(VocabularyDecoding, LeavesFieldsOutOfOrderAndUnknownMembersAside) {
    const auto liked = decode_action(R"({"SetVideoLiked":{"liked":true,"video_id":"a","extra":[1,2]}})");
    ASSERT_TRUE(liked.has_value()) << liked.error();
    EXPECT_EQ(*liked, SarnAction(action::SetVideoLiked{"a", true}));
    const auto unit = decode_action(R"({"CyclePreferredQuality":null})");
    ASSERT_TRUE(unit.has_value());
    EXPECT_EQ(*unit, SarnAction(action::CyclePreferredQuality{}));
    const auto home = decode_operation(R"({"Navigate":{"route":{"Home":null}}})");
    ASSERT_TRUE(home.has_value());
    EXPECT_EQ(*home, SarnOperation(operation::Navigate{Route::home()}));
}

// --- Every refusal, with the exact text the reference decoder gives. ---

TEST(VocabularyDecoding, RefusesWithTheReferenceTexts) {
    const Row rows[] = {
        {Kind::Action, R"("LikeVideo")", false, R"(invalid type: unit variant, expected struct variant)"},
        {Kind::Action, R"("likevideo")", false, R"(unknown variant `likevideo`, expected one of `LikeVideo`, `SetVideoLiked`, `AddToQueue`, `SetQueueMembership`, `SetHistoryEntry`, `ClearHistory`, `ToggleSubscription`, `SetSubscription`, `SetSetting`, `CyclePreferredQuality`, `SetPreferredQuality`, `SetSponsorCategory`, `LikeComment`, `SetCommentLiked`, `ReplyToComment`, `SetCommentReply` at line 1 column 11)"},
        {Kind::Action, R"({"Nope":{}})", false, R"(unknown variant `Nope`, expected one of `LikeVideo`, `SetVideoLiked`, `AddToQueue`, `SetQueueMembership`, `SetHistoryEntry`, `ClearHistory`, `ToggleSubscription`, `SetSubscription`, `SetSetting`, `CyclePreferredQuality`, `SetPreferredQuality`, `SetSponsorCategory`, `LikeComment`, `SetCommentLiked`, `ReplyToComment`, `SetCommentReply` at line 1 column 7)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"a"},"AddToQueue":{"video_id":"b"}})", false, R"(expected value at line 1 column 29)"},
        {Kind::Action, R"(5)", false, R"(expected value at line 1 column 1)"},
        {Kind::Action, R"(null)", false, R"(expected value at line 1 column 1)"},
        {Kind::Action, R"([])", false, R"(expected value at line 1 column 1)"},
        {Kind::Action, R"(["LikeVideo"])", false, R"(expected value at line 1 column 1)"},
        {Kind::Action, R"({})", false, R"(expected value at line 1 column 2)"},
        {Kind::Action, R"({5:1})", false, R"(invalid type: integer `5`, expected variant identifier at line 1 column 2)"},
        {Kind::Action, R"({"LikeVideo"})", false, R"(expected `:` at line 1 column 13)"},
        {Kind::Action, R"()", false, R"(EOF while parsing a value at line 1 column 0)"},
        {Kind::Action, R"(   )", false, R"(EOF while parsing a value at line 1 column 3)"},
        {Kind::Action, R"({)", false, R"(EOF while parsing a value at line 1 column 1)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"a"})", false, R"(EOF while parsing an object at line 1 column 29)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"a"}} x)", false, R"(trailing characters at line 1 column 32)"},
        {Kind::Action, "{\"LikeVideo\":{\"video_id\":\"a\"}}\n\n x", false, R"(trailing characters at line 3 column 2)"},
        {Kind::Action, R"("CyclePreferredQuality" "CyclePreferredQuality")", false, R"(trailing characters at line 1 column 25)"},
        {Kind::Action, R"({"CyclePreferredQuality":{}})", false, R"(invalid type: map, expected unit at line 1 column 25)"},
        {Kind::Action, R"({"CyclePreferredQuality":[]})", false, R"(invalid type: sequence, expected unit at line 1 column 25)"},
        {Kind::Action, R"({"CyclePreferredQuality":"x"})", false, R"(invalid type: string "x", expected unit at line 1 column 28)"},
        {Kind::Action, R"({"CyclePreferredQuality":nul})", false, R"(expected ident at line 1 column 29)"},
        {Kind::Operation, R"({"SyncDevices":0})", false, R"(invalid type: integer `0`, expected unit at line 1 column 16)"},
        {Kind::Action, R"({"LikeVideo":"abc"})", false, R"(invalid type: string "abc", expected struct variant SarnAction::LikeVideo at line 1 column 18)"},
        {Kind::Action, R"({"LikeVideo":null})", false, R"(invalid type: null, expected struct variant SarnAction::LikeVideo at line 1 column 17)"},
        {Kind::Action, R"({"LikeVideo":true})", false, R"(invalid type: boolean `true`, expected struct variant SarnAction::LikeVideo at line 1 column 17)"},
        {Kind::Action, R"({"LikeVideo":-5})", false, R"(invalid type: integer `-5`, expected struct variant SarnAction::LikeVideo at line 1 column 15)"},
        {Kind::Action, R"({"LikeVideo":1.5})", false, R"(invalid type: floating point `1.5`, expected struct variant SarnAction::LikeVideo at line 1 column 16)"},
        {Kind::Operation, R"({"Navigate":"Home"})", false, R"(invalid type: string "Home", expected struct variant SarnOperation::Navigate at line 1 column 18)"},
        {Kind::Operation, R"("Share")", false, R"(invalid type: unit variant, expected struct variant)"},
        {Kind::Action, R"({"SetVideoLiked":{"video_id":"a"}})", false, R"(missing field `liked` at line 1 column 33)"},
        {Kind::Action, R"({"SetVideoLiked":{}})", false, R"(missing field `video_id` at line 1 column 19)"},
        {Kind::Action, R"({"SetHistoryEntry":{"present":true,"video_id":"v"}})", false, R"(missing field `owner_id` at line 1 column 50)"},
        {Kind::Action, R"({"SetVideoLiked":{"video_id":"a","video_id":"b","liked":false}})", false, R"(duplicate field `video_id` at line 1 column 43)"},
        {Kind::Action, R"({"SetVideoLiked":{"video_id":"a","liked":true,"liked":true}})", false, R"(duplicate field `liked` at line 1 column 53)"},
        {Kind::Action, R"({"SetVideoLiked":["a"]})", false, R"(invalid length 1, expected struct variant SarnAction::SetVideoLiked with 2 elements at line 1 column 22)"},
        {Kind::Action, R"({"LikeVideo":[]})", false, R"(invalid length 0, expected struct variant SarnAction::LikeVideo with 1 element at line 1 column 15)"},
        {Kind::Operation, R"({"Share":[]})", false, R"(invalid length 0, expected struct variant SarnOperation::Share with 1 element at line 1 column 11)"},
        {Kind::Action, R"({"SetHistoryEntry":["o","v",1]})", false, R"(invalid length 3, expected struct variant SarnAction::SetHistoryEntry with 5 elements at line 1 column 30)"},
        {Kind::Action, R"({"SetVideoLiked":["a",true,3]})", false, R"(trailing characters at line 1 column 28)"},
        {Kind::Action, R"({"SetVideoLiked":["a",true,]})", false, R"(trailing comma at line 1 column 28)"},
        {Kind::Action, R"({"SetVideoLiked":{"video_id":"a","liked":"yes"}})", false, R"(invalid type: string "yes", expected a boolean at line 1 column 46)"},
        {Kind::Action, R"({"SetVideoLiked":{"video_id":5,"liked":true}})", false, R"(invalid type: integer `5`, expected a string at line 1 column 30)"},
        {Kind::Action, R"({"SetVideoLiked":{"video_id":"a","liked":1}})", false, R"(invalid type: integer `1`, expected a boolean at line 1 column 42)"},
        {Kind::Action, R"({"SetVideoLiked":{"video_id":"a","liked":null}})", false, R"(invalid type: null, expected a boolean at line 1 column 45)"},
        {Kind::Action, R"({"SetVideoLiked":{"video_id":["a"],"liked":true}})", false, R"(invalid type: sequence, expected a string at line 1 column 29)"},
        {Kind::Action, R"({"SetVideoLiked":{"video_id":{"a":1},"liked":true}})", false, R"(invalid type: map, expected a string at line 1 column 29)"},
        {Kind::Action, R"({"LikeComment":{"video_id":"v","index":-1,"comment_id":""}})", false, R"(invalid value: integer `-1`, expected usize at line 1 column 41)"},
        {Kind::Action, R"({"LikeComment":{"video_id":"v","index":1.0,"comment_id":""}})", false, R"(invalid type: floating point `1.0`, expected usize at line 1 column 42)"},
        {Kind::Action, R"({"LikeComment":{"video_id":"v","index":"1","comment_id":""}})", false, R"(invalid type: string "1", expected usize at line 1 column 42)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":-9223372036854775808,"clear_id":"c"}})", false, R"(invalid value: integer `-9223372036854775808`, expected u64 at line 1 column 68)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":-9223372036854775809,"clear_id":"c"}})", false, R"(invalid type: floating point `-9223372036854776000.0`, expected u64 at line 1 column 68)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":18446744073709551616,"clear_id":"c"}})", false, R"(invalid type: floating point `18446744073709552000.0`, expected u64 at line 1 column 68)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":1.5,"clear_id":"c"}})", false, R"(invalid type: floating point `1.5`, expected u64 at line 1 column 51)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":1e3,"clear_id":"c"}})", false, R"(invalid type: floating point `1000.0`, expected u64 at line 1 column 51)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":-0,"clear_id":"c"}})", false, R"(invalid type: floating point `-0.0`, expected u64 at line 1 column 50)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":1.0e-7,"clear_id":"c"}})", false, R"(invalid type: floating point `0.0000001`, expected u64 at line 1 column 54)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":1e-400,"clear_id":"c"}})", false, R"(invalid type: floating point `0.0`, expected u64 at line 1 column 54)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":1e400,"clear_id":"c"}})", false, R"(number out of range at line 1 column 53)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":0.1e310,"clear_id":"c"}})", false, R"(number out of range at line 1 column 55)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":01,"clear_id":"c"}})", false, R"(invalid number at line 1 column 50)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":1.,"clear_id":"c"}})", false, R"(invalid number at line 1 column 51)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":-,"clear_id":"c"}})", false, R"(invalid number at line 1 column 50)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":1e,"clear_id":"c"}})", false, R"(invalid number at line 1 column 51)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":+1,"clear_id":"c"}})", false, R"(expected value at line 1 column 49)"},
        {Kind::Action, R"({"ClearHistory":{"owner_id":"o","cleared_at_ms":123456789012345678901234567890,"clear_id":"c"}})", false, R"(invalid type: floating point `123456789012345680000000000000.0`, expected u64 at line 1 column 78)"},
        {Kind::Action, R"({"SetSetting":{"setting":"Foo","enabled":true}})", false, R"(unknown variant `Foo`, expected one of `SponsorBlock`, `DeArrow`, `DeArrowTitles`, `DeArrowThumbnails`, `ReturnDislike`, `Autoplay`, `ShowComments` at line 1 column 30)"},
        {Kind::Action, R"({"SetSetting":{"setting":"dearrow","enabled":true}})", false, R"(unknown variant `dearrow`, expected one of `SponsorBlock`, `DeArrow`, `DeArrowTitles`, `DeArrowThumbnails`, `ReturnDislike`, `Autoplay`, `ShowComments` at line 1 column 34)"},
        {Kind::Action, R"({"SetSponsorCategory":{"category":"Foo","mode":"Show"}})", false, R"(unknown variant `Foo`, expected one of `Sponsor`, `SelfPromo`, `Interaction`, `Intro`, `Outro`, `Preview`, `MusicOfftopic`, `Filler` at line 1 column 39)"},
        {Kind::Action, R"({"SetSponsorCategory":{"category":"Filler","mode":"X"}})", false, R"(unknown variant `X`, expected one of `Skip`, `Show`, `Disabled` at line 1 column 53)"},
        {Kind::Action, R"({"SetSponsorCategory":{"category":"Filler","mode":{"Show":1}}})", false, R"(invalid type: integer `1`, expected unit at line 1 column 59)"},
        {Kind::Action, R"({"SetSponsorCategory":{"category":3,"mode":"Show"}})", false, R"(expected value at line 1 column 35)"},
        {Kind::Operation, R"({"Navigate":{"route":"Watch"}})", false, R"(invalid type: unit variant, expected newtype variant at line 1 column 29)"},
        {Kind::Operation, R"({"Navigate":{"route":{"Watch":5}}})", false, R"(invalid type: integer `5`, expected a string at line 1 column 31)"},
        {Kind::Operation, R"({"Navigate":{"route":{"Home":5}}})", false, R"(invalid type: integer `5`, expected unit at line 1 column 30)"},
        {Kind::Operation, R"({"Navigate":{"route":5}})", false, R"(expected value at line 1 column 22)"},
        {Kind::Operation, R"({"Navigate":{"route":"home"}})", false, R"(unknown variant `home`, expected one of `Home`, `Trending`, `Subscriptions`, `Queue`, `Watch`, `Channel`, `Playlist`, `Search`, `History`, `Settings` at line 1 column 27)"},
        {Kind::Operation, R"({"Navigate":{"route":{"Search":"a","x":1}}})", false, R"(expected value at line 1 column 34)"},
        {Kind::Operation, R"({"Navigate":{}})", false, R"(missing field `route` at line 1 column 14)"},
        {Kind::Operation, R"("Navigat")", false, R"(unknown variant `Navigat`, expected one of `TogglePlayback`, `ToggleSidebar`, `Share`, `Navigate`, `OpenVideo`, `OpenChannel`, `OpenPlaylist`, `Download`, `PairDevice`, `SyncDevices`, `ApproveDevice`, `RevokeDevice`, `RecordHistory`, `RemoveHistory`, `ClearHistory` at line 1 column 9)"},
        {Kind::Route, R"("Watch")", false, R"(invalid type: unit variant, expected newtype variant)"},
        {Kind::Route, R"({"Watch":null})", false, R"(invalid type: null, expected a string at line 1 column 13)"},
        {Kind::Route, R"("home")", false, R"(unknown variant `home`, expected one of `Home`, `Trending`, `Subscriptions`, `Queue`, `Watch`, `Channel`, `Playlist`, `Search`, `History`, `Settings` at line 1 column 6)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"a",}})", false, R"(trailing comma at line 1 column 30)"},
        {Kind::Action, R"({"LikeVideo":["a",]})", false, R"(trailing comma at line 1 column 19)"},
        {Kind::Action, R"({"LikeVideo":["a")", false, R"(EOF while parsing a list at line 1 column 17)"},
        {Kind::Action, R"({"LikeVideo":["a",)", false, R"(trailing characters at line 1 column 18)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"a" "x"}})", false, R"(expected `,` or `}` at line 1 column 30)"},
        {Kind::Action, R"({"LikeVideo":{"video_id" "a"}})", false, R"(expected `:` at line 1 column 26)"},
        {Kind::Action, R"({"LikeVideo":{video_id:"a"}})", false, R"(key must be a string at line 1 column 15)"},
        {Kind::Action, R"({"LikeVideo":{"z":[1,],"video_id":"q"}})", false, R"(expected value at line 1 column 22)"},
        {Kind::Action, R"({"LikeVideo":{"z":{"a" 1},"video_id":"q"}})", false, R"(expected `:` at line 1 column 24)"},
        {Kind::Action, R"({"LikeVideo":{"z":{"a":1]},"video_id":"q"}})", false, R"(expected `,` or `}` at line 1 column 25)"},
        {Kind::Action, R"({"LikeVideo":{"z":{1:1},"video_id":"q"}})", false, R"(key must be a string at line 1 column 20)"},
        {Kind::Action, R"({"LikeVideo":{"z":01,"video_id":"q"}})", false, R"(invalid number at line 1 column 20)"},
        {Kind::Action, R"({"LikeVideo":{"z":nulx,"video_id":"q"}})", false, R"(expected ident at line 1 column 22)"},
        {Kind::Action, R"({"LikeVideo":{"z":[[[[[[)", false, R"(EOF while parsing a list at line 1 column 24)"},
        {Kind::Action, "\n\n  {\"LikeVideo\":\n {\"video_id\":5}}", false, R"(invalid type: integer `5`, expected a string at line 4 column 14)"},
        {Kind::Action, R"(")", false, R"(EOF while parsing a string at line 1 column 1)"},
        {Kind::Action, R"("abc)", false, R"(EOF while parsing a string at line 1 column 4)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"\u12x4"}})", false, R"(invalid escape at line 1 column 32)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"\u12"}})", false, R"(invalid escape at line 1 column 32)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"\ud800"}})", false, R"(unexpected end of hex escape at line 1 column 33)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"\ud800\u0041"}})", false, R"(lone leading surrogate in hex escape at line 1 column 38)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"\udc00"}})", false, R"(lone leading surrogate in hex escape at line 1 column 32)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"\ud800\n"}})", false, R"(unexpected end of hex escape at line 1 column 34)"},
        {Kind::Action, R"({"LikeVideo":{"video_id":"\q"}})", false, R"(invalid escape at line 1 column 28)"},
        {Kind::Action, "{\"LikeVideo\":{\"video_id\":\"a\x01\"}}", false, R"(control character (\u0000-\u001F) found while parsing a string at line 1 column 28)"},
        {Kind::Action, "{\"LikeVideo\":{\"video_id\":\"a\tb\"}}", false, R"(control character (\u0000-\u001F) found while parsing a string at line 1 column 28)"},
        {Kind::Action, "{\"LikeVideo\":{\"z\":\"\x01\",\"video_id\":\"q\"}}", false, R"(control character (\u0000-\u001F) found while parsing a string at line 1 column 19)"},
        {Kind::Action, R"({"LikeVideo":{"z":"\x","video_id":"q"}})", false, R"(invalid escape at line 1 column 21)"},
        {Kind::Action, R"({"SetVideoLiked":{"video_id":"a","liked":"yes\n\u0000\u00e9\u0301\u200b\u007f'\u00a0"}})", false, "invalid type: string \"yes\\n\\0\xc3\xa9\\u{301}\\u{200b}\\u{7f}'\\u{a0}\", expected a boolean at line 1 column 85"},
        {Kind::Action, "\"\xff\"", false, R"(invalid unicode code point at line 1 column 3)"},
        {Kind::Action, "{\"LikeVideo\":{\"video_id\":\"\xc3\"}}", false, R"(invalid unicode code point at line 1 column 28)"},
        {Kind::Action, "{\"LikeVideo\":{\"video_id\":\"\xed\xa0\x80\"}}", false, R"(invalid unicode code point at line 1 column 30)"},
        {Kind::Action, "{\"LikeVideo\":{\"video_id\":\"\xc0\xaf\"}}", false, R"(invalid unicode code point at line 1 column 29)"},
        {Kind::Action, "{\"LikeVideo\":{\"video_id\":\"\xf4\x90\x80\x80\"}}", false, R"(invalid unicode code point at line 1 column 31)"},
        {Kind::Action, "{\"LikeVideo\":{\"video_id\":\"ok\\n\xe2\x82\"}}", false, R"(invalid unicode code point at line 1 column 33)"},
        {Kind::Action, "{\"LikeVideo\":{\"x\xff\":1,\"video_id\":\"a\"}}", false, R"(invalid unicode code point at line 1 column 18)"},
        {Kind::Action, "{\"Like\xffVideo\":{\"video_id\":\"a\"}}", false, R"(invalid unicode code point at line 1 column 13)"},
        {Kind::Operation, "{\"Navigate\":{\"route\":{\"Watch\":\"\xfe\"}}}", false, R"(invalid unicode code point at line 1 column 33)"},
        {Kind::Action, "{\"SetVideoLiked\":{\"video_id\":\"a\",\"liked\":\"\xff\"}}", false, R"(invalid unicode code point at line 1 column 44)"},
    };
    for (const Row& row : rows) {
        const Outcome outcome = decode_as(row.kind, row.input);
        EXPECT_FALSE(outcome.ok) << row.input << "\n  decoded to " << outcome.text;
        EXPECT_EQ(outcome.text, row.text) << row.input;
    }
}

TEST(VocabularyDecoding, EveryTruncationOfADocumentIsRefused) {
    // A document cut anywhere is an error value, never a value or a crash;
    // the value held before the attempt stays as it was.
    const std::string documents[] = {
        encode_json(SarnAction(action::SetHistoryEntry{"user:x", "v\xc3\xa9", 42, true, "m\"1"})),
        encode_json(SarnAction(action::ReplyToComment{"v", 3, "c", "line\nbreak"})),
        R"({"SetVideoLiked":{"skip":[{"a":[1,2.5e3,null]}],"liked":true,"video_id":"\ud83d\ude00"}})",
        encode_json(SarnOperation(operation::Navigate{Route::search("q")})),
    };
    for (const std::string& document : documents) {
        ASSERT_TRUE(decode_action(document).has_value() || decode_operation(document).has_value()) << document;
        for (std::size_t cut = 0; cut < document.size(); ++cut) {
            const std::string_view prefix = std::string_view(document).substr(0, cut);
            SarnAction held = action::AddToQueue{"kept"};
            if (auto decoded = decode_action(prefix)) held = *decoded;
            EXPECT_EQ(held, SarnAction(action::AddToQueue{"kept"})) << prefix;
            EXPECT_FALSE(decode_operation(prefix).has_value()) << prefix;
        }
    }
}

}  // namespace
}  // namespace sarn
