#include "sarn/actions/shared_reducer.h"

#include <gtest/gtest.h>

#include "doc_reading.h"
#include "vorn_ui/bound_dispatch.h"

namespace {

using namespace sarn;
using namespace sarn_test;
namespace a = sarn::action;

struct Write {
  std::string path;
  std::variant<bool, const char*> value;
};

struct Row {
  const char* name;
  SarnAction action;
  std::vector<Write> writes;
  std::vector<const char*> sarn_keys;  // the child maps created under "sarn"
};

TEST(SharedReducer, EveryAcceptedVariantWritesItsAbsoluteValue) {
  const Row rows[] = {
      {"liked", a::SetVideoLiked{"abc", true}, {{"sarn/likes/abc", true}}, {"likes"}},
      {"unliked stays as false", a::SetVideoLiked{"abc", false}, {{"sarn/likes/abc", false}}, {"likes"}},
      {"queue", a::AddToQueue{"v1"}, {{"sarn/queue/v1", true}}, {"queue"}},
      {"dequeue", a::SetQueueMembership{"v1", false}, {{"sarn/queue/v1", false}}, {"queue"}},
      {"subscribe", a::SetSubscription{"UC1", true}, {{"sarn/subscriptions/UC1", true}}, {"subscriptions"}},
      {"setting", a::SetSetting{Setting::DeArrowThumbnails, false},
       {{"sarn/settings/dearrow_thumbnails", false}}, {"settings"}},
      {"autoplay", a::SetSetting{Setting::Autoplay, true}, {{"sarn/settings/autoplay", true}}, {"settings"}},
      {"quality auto", a::SetPreferredQuality{"auto"}, {{"sarn/settings/preferred_quality", "auto"}}, {"settings"}},
      {"filler show", a::SetSponsorCategory{SponsorCategory::Filler, SponsorMode::Show},
       {{"sarn/settings/sponsor_categories/filler", "show"}}, {"settings"}},
      {"sponsor disabled", a::SetSponsorCategory{SponsorCategory::Sponsor, SponsorMode::Disabled},
       {{"sarn/settings/sponsor_categories/sponsor", "disabled"}}, {"settings"}},
      {"like by position", a::LikeComment{"abc", 3, ""}, {{"sarn/comment_likes/abc#3", true}}, {"comment_likes"}},
      {"like by id", a::LikeComment{"abc", 3, "c9"}, {{"sarn/comment_likes/c9", true}}, {"comment_likes"}},
      {"set comment liked, empty id", a::SetCommentLiked{"", true}, {{"sarn/comment_likes/", true}},
       {"comment_likes"}},
      {"reply", a::ReplyToComment{"abc", 0, "abc", ""},
       {{"sarn/comment_replies/abc/reply-fc182483ee0806dc", ""}}, {"comment_replies"}},
      {"reply by position", a::ReplyToComment{"vid", 2, "", "hi"},
       {{"sarn/comment_replies/vid#2/" + reply_id_for("vid#2", "hi"), "hi"}}, {"comment_replies"}},
      {"set reply", a::SetCommentReply{"c1", "reply-1", "text", true},
       {{"sarn/comment_replies/c1/reply-1/text", "text"}, {"sarn/comment_replies/c1/reply-1/active", true}},
       {"comment_replies"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    automerge::Document doc;
    ASSERT_TRUE(apply_shared_action(row.action, doc));
    for (const auto& w : row.writes) {
      const std::string& path = w.path;
      if (const bool* b = std::get_if<bool>(&w.value)) {
        EXPECT_EQ(bool_at(doc, path), *b) << path;
      } else {
        EXPECT_EQ(str_at(doc, path), std::get<const char*>(w.value)) << path;
      }
    }
    std::vector<std::string> expected(row.sarn_keys.begin(), row.sarn_keys.end());
    EXPECT_EQ(keys_at(doc, "sarn"), expected);
    EXPECT_EQ(keys_at(doc, ""), std::vector<std::string>{"sarn"});
  }
}

TEST(SharedReducer, RefusalsLeaveTheDocumentUntouched) {
  const struct {
    SarnAction action;
    std::string message;
  } rows[] = {
      {a::LikeVideo{"abc"}, "this Sarn action is not accepted by the shared document"},
      {a::SetHistoryEntry{"user:x", "abc", 5, true, "m"}, "this Sarn action is not accepted by the shared document"},
      {a::ClearHistory{"user:x", 5, "c"}, "this Sarn action is not accepted by the shared document"},
      {a::ToggleSubscription{"UC1"}, "this Sarn action is not accepted by the shared document"},
      {a::CyclePreferredQuality{}, "this Sarn action is not accepted by the shared document"},
      {a::SetPreferredQuality{"720P"}, "unsupported preferred quality: 720P"},
      {a::SetPreferredQuality{""}, "unsupported preferred quality: "},
      {a::SetPreferredQuality{" 720p"}, "unsupported preferred quality:  720p"},
  };
  for (const auto& row : rows) {
    automerge::Document doc;
    auto result = apply_shared_action(row.action, doc);
    ASSERT_FALSE(result) << row.message;
    EXPECT_EQ(result.error().kind(), vorn_actions::ActionErrorKind::Message);
    EXPECT_EQ(result.error().text(), row.message);
    EXPECT_EQ(doc.pending_ops(), 0u);
    EXPECT_TRUE(keys_at(doc, "").empty());
  }
}

TEST(SharedReducer, NonMapValuesAreReplacedByFreshMaps) {
  automerge::Document doc;
  ASSERT_TRUE(doc.put(automerge::ObjId::root(), "sarn", automerge::Value::str("old")));
  ASSERT_TRUE(apply_shared_action(a::SetVideoLiked{"v", true}, doc));
  EXPECT_TRUE(is_map_at(doc, "sarn"));
  EXPECT_EQ(bool_at(doc, "sarn/likes/v"), true);

  // A list as "sarn", a scalar as a child map, a string reply then a map.
  automerge::Document lists;
  ASSERT_TRUE(lists.put_object(automerge::ObjId::root(), "sarn", automerge::ObjType::list));
  ASSERT_TRUE(apply_shared_action(a::AddToQueue{"q"}, lists));
  EXPECT_EQ(bool_at(lists, "sarn/queue/q"), true);
  auto sarn = item_at(lists, "sarn");
  ASSERT_TRUE(lists.put(sarn->id, "settings", automerge::Value::int64(7)));
  ASSERT_TRUE(apply_shared_action(a::SetSetting{Setting::ShowComments, true}, lists));
  EXPECT_EQ(bool_at(lists, "sarn/settings/show_comments"), true);

  ASSERT_TRUE(apply_shared_action(a::ReplyToComment{"abc", 0, "abc", "hi"}, lists));
  EXPECT_EQ(str_at(lists, "sarn/comment_replies/abc/reply-580e42424aa26c8f"), "hi");
  ASSERT_TRUE(apply_shared_action(a::SetCommentReply{"abc", "reply-580e42424aa26c8f", "edited", false}, lists));
  EXPECT_EQ(str_at(lists, "sarn/comment_replies/abc/reply-580e42424aa26c8f/text"), "edited");
  EXPECT_EQ(bool_at(lists, "sarn/comment_replies/abc/reply-580e42424aa26c8f/active"), false);
}

TEST(SharedReducer, RepliesAndReplays) {
  EXPECT_EQ(reply_id_for("abc", ""), "reply-fc182483ee0806dc");
  EXPECT_EQ(reply_id_for("abc", "hi"), "reply-580e42424aa26c8f");
  EXPECT_EQ(comment_key_for("", "abc", 3), "abc#3");
  EXPECT_EQ(comment_key_for("id", "abc", 3), "id");

  automerge::Document doc;
  ASSERT_TRUE(apply_shared_action(a::ReplyToComment{"v", 0, "abc", "hi"}, doc));
  ASSERT_TRUE(apply_shared_action(a::ReplyToComment{"v", 0, "abc", "hi"}, doc));
  EXPECT_EQ(keys_at(doc, "sarn/comment_replies/abc").size(), 1u);
  ASSERT_TRUE(apply_shared_action(a::ReplyToComment{"v", 0, "abc", "other"}, doc));
  EXPECT_EQ(keys_at(doc, "sarn/comment_replies/abc").size(), 2u);

  // Applying an accepted action twice leaves the same values.
  automerge::Document twice;
  const SarnAction action = a::SetSponsorCategory{SponsorCategory::Intro, SponsorMode::Show};
  ASSERT_TRUE(apply_shared_action(action, twice));
  ASSERT_TRUE(apply_shared_action(action, twice));
  EXPECT_EQ(str_at(twice, "sarn/settings/sponsor_categories/intro"), "show");
}

TEST(SharedReducer, CollaborativeVariantsAndTypedAction) {
  const std::pair<SarnAction, bool> rows[] = {
      {a::LikeVideo{}, false},           {a::SetVideoLiked{}, false},     {a::AddToQueue{}, true},
      {a::SetQueueMembership{}, true},   {a::SetHistoryEntry{}, false},   {a::ClearHistory{}, false},
      {a::ToggleSubscription{}, false},  {a::SetSubscription{}, false},   {a::SetSetting{}, false},
      {a::CyclePreferredQuality{}, false}, {a::SetPreferredQuality{}, false}, {a::SetSponsorCategory{}, false},
      {a::LikeComment{}, false},         {a::SetCommentLiked{}, false},   {a::ReplyToComment{}, true},
      {a::SetCommentReply{}, true},
  };
  static_assert(std::size(rows) == kSarnActionVariantCount);
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(rows[i].first.index(), i);
    EXPECT_EQ(is_collaborative(rows[i].first), rows[i].second) << i;
  }

  // Through the runtime's dispatch: a refusal is rolled back and logged by
  // the host; an accepted action is committed.
  TypedSarnAction liked(a::SetVideoLiked{"abc", true});
  EXPECT_EQ(liked.encode_json(), R"({"SetVideoLiked":{"video_id":"abc","liked":true}})");
  EXPECT_EQ(liked.debug_text(), R"(SetVideoLiked { video_id: "abc", liked: true })");
  automerge::Document doc;
  vorn_ui::bound_dispatch::DispatchState state;
  ASSERT_TRUE(vorn_ui::bound_dispatch::dispatch_typed(state, doc, kSharedActionKind, liked, nullptr));
  EXPECT_EQ(bool_at(doc, "sarn/likes/abc"), true);
  EXPECT_EQ(doc.pending_ops(), 0u);
}

}  // namespace
