#include "vorn_actions/resource.h"

#include <gtest/gtest.h>

namespace {

using namespace vorn_actions::resource;
using vorn_actions::ActionErrorKind;
using vorn_actions::EncodedAction;

Resource sample_tree() {
  auto pair = ActionSpec("pair", "Pair using invite",
                         enforce_operation_type("app.operation", derive_input("app.operation", [](const ActionArgs& args)
                                                    -> std::expected<std::string, std::string> {
                                                  return nlohmann::json{{"Pair", args.text("invite")}}.dump();
                                                })))
                  .with_description("Paste an invite")
                  .privileged()
                  .with_param(ActionParam::text("invite", "Invite")
                                  .with_description("redacted")
                                  .with_schema({{"minLength", 1}, {"maxLength", 5}}));
  auto wrong_kind = ActionSpec("wrong", "Wrong",
                               enforce_operation_type("app.operation", [](const ActionArgs&) {
                                 return std::expected<EncodedAction, vorn_actions::ActionError>(
                                     EncodedAction{"app.action", "\"X\""});
                               }));
  return Resource("app", "app.root", "App")
      .with_action(ActionSpec::fixed("home", "Open Home", {"app.operation", "\"Home\""}).with_contract(
          ActionContract{{}, EffectClass::ViewOnly}))
      .with_child(Resource("app.device", "app.device", "Device")
                      .with_action(std::move(pair))
                      .with_action(std::move(wrong_kind))
                      .with_action(ActionSpec::fixed("sync", "Sync", {"app.operation", "\"Sync\""})
                                       .unavailable("sync_unavailable", "Sync is unavailable")
                                       .destructive()));
}

TEST(Resources, BuildersKeepEveryMember) {
  const Resource tree = sample_tree();
  ASSERT_EQ(tree.children.size(), 1u);
  const ActionSpec* pair = tree.children[0].find_action("pair");
  ASSERT_NE(pair, nullptr);
  EXPECT_TRUE(pair->is_privileged());
  EXPECT_FALSE(pair->is_destructive());
  EXPECT_EQ(pair->description(), "Paste an invite");
  ASSERT_EQ(pair->params().size(), 1u);
  EXPECT_EQ(pair->params()[0].description, "redacted");
  EXPECT_EQ(tree.find_action("home")->contract()->effect, EffectClass::ViewOnly);
  EXPECT_TRUE(tree.children[0].find_action("sync")->is_destructive());
  EXPECT_EQ(tree.find_action("absent"), nullptr);
  const Resource roots[] = {tree};
  EXPECT_EQ(find_resource_deep(roots, "app.device"), &roots[0].children[0]);
  EXPECT_EQ(find_resource_deep(roots, "nope"), nullptr);
}

TEST(Resources, ArgumentsAreCheckedAgainstTheSpecification) {
  const Resource tree = sample_tree();
  const ActionSpec& pair = *tree.children[0].find_action("pair");
  const struct {
    nlohmann::json args;
    bool ok;
  } rows[] = {
      {{{"invite", "abc"}}, true},
      {{{"invite", "ab\u00e9de"}}, true},  // five code points
      {{{"invite", "abcdef"}}, false},       // longer than maxLength
      {{{"invite", ""}}, false},             // shorter than minLength
      {nlohmann::json::object(), false},     // absent counts as empty
      {{{"invite", 5}}, false},              // not text
      {{{"invite", "a"}, {"extra", "b"}}, false},
      {nlohmann::json::array(), false},
  };
  for (const auto& row : rows) {
    auto built = pair.build_json(row.args);
    EXPECT_EQ(built.has_value(), row.ok) << row.args.dump();
    if (!row.ok && !built) {
      EXPECT_EQ(built.error().kind(), ActionErrorKind::InvalidArguments);
    }
  }
  auto ran = pair.run({{"invite", "abc"}});
  ASSERT_TRUE(ran);
  EXPECT_EQ(*ran, (EncodedAction{"app.operation", R"({"Pair":"abc"})"}));
}

TEST(Resources, BindingsInvocationsAndKindEnforcement) {
  const Resource tree = sample_tree();
  const Resource roots[] = {tree};
  auto home = ActionBinding::unit_for(tree, "home");
  ASSERT_TRUE(home);
  EXPECT_EQ(home->address(), (ActionAddress{"app", "home"}));
  auto invocation = home->invocation();
  ASSERT_TRUE(invocation);
  EXPECT_EQ(invocation->args_json, "{}");
  EXPECT_EQ(run_invocation(roots, *invocation), (EncodedAction{"app.operation", "\"Home\""}));
  EXPECT_FALSE(ActionBinding::unit_for(tree, "missing"));

  // A unit binding of an action that needs an argument is refused at emit.
  EXPECT_FALSE(ActionBinding::unit_for(tree.children[0], "pair")->invocation());
  auto pair = ActionBinding::static_json(tree.children[0], "pair", {{"invite", "xyz"}});
  ASSERT_TRUE(pair && pair->invocation());
  EXPECT_EQ(run_invocation(roots, *pair->invocation())->payload, R"({"Pair":"xyz"})");

  auto wrong = ActionBinding::unit_for(tree.children[0], "wrong");
  auto mismatch = run_invocation(roots, *wrong->invocation());
  ASSERT_FALSE(mismatch);
  EXPECT_EQ(mismatch.error().kind(), ActionErrorKind::KindMismatch);

  auto unavailable = run_invocation(roots, *ActionBinding::unit_for(tree.children[0], "sync")->invocation());
  ASSERT_FALSE(unavailable);
  EXPECT_EQ(unavailable.error().text(), "Sync is unavailable");

  EXPECT_FALSE(run_invocation(roots, ControlInvocation{{"app", "gone"}, {}, "{}"}));
  EXPECT_EQ(ActionArgs().text("absent"), "");
  EXPECT_EQ(ActionArgs(nlohmann::json{{"n", 1}}).text("n"), "");
}

}  // namespace
