#include "vorn_actions/context.h"

#include <gtest/gtest.h>

namespace {

using vorn_actions::ActionContext;
using vorn_actions::ActionOrigin;
namespace context = vorn_actions::context;

TEST(ActionContext, HumanizeIdentifier) {
  const struct {
    const char* in;
    const char* out;
  } rows[] = {
      {"SetVideoLiked", "Set video liked"},
      {"LegacyMigrationComplete", "Legacy migration complete"},
      {"Clear", "Clear"},
      {"legacy_migration_complete", "Legacy migration complete"},
      {"open-video", "Open video"},
      {"HTTPServer", "HTTP server"},
      {"ReplyToComment", "Reply to comment"},
      {"Play2Video", "Play2 video"},
      {"SetAValue", "Set a value"},
      {"", ""},
      {"__", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(context::humanize_identifier(row.in), row.out) << row.in;
}

TEST(ActionContext, VariantNameAndDescribe) {
  EXPECT_EQ(context::variant_name("\"LegacyMigrationComplete\""), "LegacyMigrationComplete");
  EXPECT_EQ(context::variant_name(R"({"SetEntry":{"video_id":"a"}})"), "SetEntry");
  EXPECT_EQ(context::variant_name(R"({"A":1,"B":2})"), std::nullopt);
  EXPECT_EQ(context::variant_name("[1]"), std::nullopt);
  EXPECT_EQ(context::variant_name("{not json"), std::nullopt);

  auto described = ActionContext::describe(R"({"SetVideoLiked":{"video_id":"a","liked":true}})", "org.example.App",
                                           "Library");
  EXPECT_EQ(described.label, "Set video liked");
  EXPECT_EQ(described.origin, (ActionOrigin{"org.example.App", "Library"}));
  EXPECT_EQ(ActionContext::describe("42", "a", "b").label, "Update");
  EXPECT_EQ(ActionContext::describe("garbage", "a", "b").label, "Update");
}

TEST(ActionContext, EnrichedByFillsOnlyMissingMembers) {
  ActionContext base{"Base", ActionOrigin{"app", "base source"}};
  ActionContext given{"Given", std::nullopt};
  auto merged = given.enriched_by(base);
  EXPECT_EQ(merged.label, "Given");
  EXPECT_EQ(merged.origin, base.origin);
  EXPECT_EQ(ActionContext{}.enriched_by(base), base);
  EXPECT_EQ(base.enriched_by(ActionContext{}), base);
}

}  // namespace
