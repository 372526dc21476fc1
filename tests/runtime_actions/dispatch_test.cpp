// Typed dispatch over a real document: commit on success, rollback of every
// partial write on failure, the dispatch record, the recorder, the host's log
// and the registry.

#include <gtest/gtest.h>

#include "vorn_actions/executor.h"
#include "vorn_actions/registry.h"
#include "vorn_log/log.h"
#include "vorn_ui/action_host.h"
#include "vorn_ui/bound_dispatch.h"

namespace {

using vorn_actions::ActionError;
using vorn_actions::ActionErrorKind;
using vorn_ui::bound_dispatch::DispatchState;

// Writes `key` = `value` under the map "m"; when `fail` is set it writes the
// map and the key first and then refuses, so that a rollback must undo both.
class PutAction final : public vorn_actions::TypedAction {
 public:
  PutAction(std::string key, std::string value, bool fail = false, bool encodable = true)
      : m_key(std::move(key)), m_value(std::move(value)), m_fail(fail), m_encodable(encodable) {}

  std::string debug_text() const override { return "Put " + m_key; }
  std::expected<void, ActionError> apply(automerge::Document& doc) const override {
    auto map = doc.put_object(automerge::ObjId::root(), "m", automerge::ObjType::map);
    if (!map) return std::unexpected(ActionError::document(map.error()));
    if (auto put = doc.put(*map, m_key, automerge::Value::str(m_value)); !put) {
      return std::unexpected(ActionError::document(put.error()));
    }
    if (m_fail) return std::unexpected(ActionError::message("refused after writing"));
    return {};
  }
  bool is_collaborative() const override { return false; }
  std::expected<std::string, std::string> encode_json() const override {
    if (!m_encodable) return std::unexpected(std::string("cannot encode"));
    return "{\"Put\":{\"key\":\"" + m_key + "\",\"value\":\"" + m_value + "\"}}";
  }
  const std::string& key() const { return m_key; }

 private:
  std::string m_key, m_value;
  bool m_fail, m_encodable;
};

std::optional<std::string> value_at(const automerge::Document& doc, std::string_view key) {
  auto map = doc.get(automerge::ObjId::root(), "m");
  if (!map || !*map || !(*map)->is_object()) return std::nullopt;
  auto item = doc.get((*map)->id, key);
  if (!item || !*item) return std::nullopt;
  auto text = (*item)->value.as_str();
  return text ? std::optional<std::string>(std::string(*text)) : std::nullopt;
}

TEST(TypedDispatch, CommitsOnSuccessAndFillsTheRecord) {
  automerge::Document doc;
  DispatchState state;
  const auto heads_before = doc.heads();
  vorn_actions::ActionContext context{"Put a", vorn_actions::ActionOrigin{"app", "test"}};
  ASSERT_TRUE(vorn_ui::bound_dispatch::dispatch_typed(state, doc, "test.action", PutAction("a", "1"), &context));
  EXPECT_EQ(doc.pending_ops(), 0u);
  EXPECT_EQ(value_at(doc, "a"), "1");
  EXPECT_NE(doc.heads(), heads_before);
  ASSERT_TRUE(state.pending_heads);
  EXPECT_EQ(*state.pending_heads, heads_before);
  ASSERT_TRUE(state.last_encoded);
  EXPECT_EQ(state.last_encoded->kind, "test.action");
  EXPECT_EQ(state.last_encoded->payload, R"({"Put":{"key":"a","value":"1"}})");

  // A second dispatch keeps the first pending heads; taking them empties.
  const auto heads_mid = doc.heads();
  ASSERT_TRUE(vorn_ui::bound_dispatch::dispatch_typed(state, doc, "test.action", PutAction("b", "2"), nullptr));
  EXPECT_EQ(*state.pending_heads, heads_before);
  EXPECT_EQ(state.take_pending_heads(), heads_before);
  EXPECT_FALSE(state.pending_heads);
  EXPECT_NE(doc.heads(), heads_mid);
}

TEST(TypedDispatch, FailureRollsBackPartialWritesAndKeepsTheRecord) {
  automerge::Document doc;
  DispatchState state;
  ASSERT_TRUE(vorn_ui::bound_dispatch::dispatch_typed(state, doc, "k", PutAction("a", "1"), nullptr));
  const auto heads = doc.heads();
  const auto last = state.last_encoded;

  auto refused = vorn_ui::bound_dispatch::dispatch_typed(state, doc, "k", PutAction("b", "2", true), nullptr);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), ActionErrorKind::Message);
  EXPECT_EQ(refused.error().to_string(), "refused after writing");
  EXPECT_EQ(doc.pending_ops(), 0u);
  EXPECT_EQ(doc.heads(), heads);
  EXPECT_EQ(value_at(doc, "b"), std::nullopt);
  EXPECT_EQ(value_at(doc, "a"), "1");
  EXPECT_EQ(state.last_encoded, last);

  // The next successful action does not carry the refused writes along.
  ASSERT_TRUE(vorn_ui::bound_dispatch::dispatch_typed(state, doc, "k", PutAction("c", "3"), nullptr));
  EXPECT_EQ(value_at(doc, "b"), std::nullopt);
  auto reloaded = automerge::Document::load(doc.save());
  ASSERT_TRUE(reloaded);
  EXPECT_EQ(value_at(*reloaded, "b"), std::nullopt);
  EXPECT_EQ(value_at(*reloaded, "c"), "3");

  // An action that cannot be encoded never reaches the document.
  auto unencodable = vorn_ui::bound_dispatch::dispatch_typed(state, doc, "k", PutAction("d", "4", false, false), nullptr);
  ASSERT_FALSE(unencodable);
  EXPECT_EQ(unencodable.error().kind(), ActionErrorKind::Encode);
  EXPECT_EQ(value_at(doc, "d"), std::nullopt);
}

TEST(TypedDispatch, WritesOutsideAnActionAreNotRolledBack) {
  automerge::Document doc;
  ASSERT_TRUE(doc.put(automerge::ObjId::root(), "outside", automerge::Value::boolean(true)));
  DispatchState state;
  ASSERT_FALSE(vorn_ui::bound_dispatch::dispatch_typed(state, doc, "k", PutAction("x", "1", true), nullptr));
  auto kept = doc.get(automerge::ObjId::root(), "outside");
  ASSERT_TRUE(kept && *kept);
  EXPECT_EQ((*kept)->value.as_bool(), true);
}

TEST(TypedDispatch, RecorderSeesHeadsBeforeAndAfterAndContextMerges) {
  automerge::Document doc;
  DispatchState state;
  state.base_context = vorn_actions::ActionContext{"Base label", vorn_actions::ActionOrigin{"app", "base"}};
  vorn_ui::bound_dispatch::ScopedRecorder recorder;
  const auto before = doc.heads();
  ASSERT_TRUE(vorn_ui::bound_dispatch::dispatch_typed(state, doc, "k", PutAction("a", "1"), nullptr));
  ASSERT_FALSE(vorn_ui::bound_dispatch::dispatch_typed(state, doc, "k", PutAction("b", "1", true), nullptr));
  ASSERT_EQ(recorder.recorded().size(), 1u);
  EXPECT_EQ(recorder.recorded()[0].heads_before, before);
  EXPECT_EQ(recorder.recorded()[0].heads_after, doc.heads());

  // The executor names the change after the effective context's label.
  vorn_actions::transport::LocalTransport transport;
  auto outcome = vorn_actions::executor::dispatch_by_with_context(
      PutAction("c", "1"), vorn_actions::EncodedAction{"k", "{}"}, transport, doc.actor_id().bytes(),
      vorn_actions::ActionContext{"Label", std::nullopt}, doc);
  ASSERT_TRUE(outcome && outcome->change);
  ASSERT_EQ(transport.deliveries().size(), 1u);
  EXPECT_EQ(transport.deliveries()[0].change, outcome->change);
  EXPECT_EQ(transport.deliveries()[0].actor, doc.actor_id().bytes());
}

TEST(ActionHost, FailureIsLoggedWithKindAndError) {
  automerge::Document doc;
  DispatchState state;
  vorn_log::CaptureSink sink;
  EXPECT_TRUE(vorn_ui::action_host::ActionHost::dispatch_with_context(state, doc, "sarn.action", PutAction("a", "1"),
                                                                      nullptr));
  EXPECT_TRUE(sink.with_message("action dispatch failed").empty());
  EXPECT_FALSE(vorn_ui::action_host::ActionHost::dispatch_with_context(state, doc, "sarn.action",
                                                                       PutAction("b", "1", true), nullptr));
  auto events = sink.with_message("action dispatch failed");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].level, vorn_log::Level::Warn);
  EXPECT_EQ(events[0].field("kind"), "sarn.action");
  EXPECT_EQ(events[0].field("error"), "refused after writing");
}

TEST(ActionRegistry, DecodesByNamespaceAndReplacesDecoders) {
  vorn_actions::ActionRegistry registry;
  int generation = 1;
  registry.register_action_namespace("test.action", [&](std::string_view payload)
                                         -> std::expected<std::unique_ptr<vorn_actions::TypedAction>, ActionError> {
    if (payload.empty()) return std::unexpected(ActionError::decode("test.action", "empty payload"));
    return std::make_unique<PutAction>(std::string(payload), std::to_string(generation));
  });
  EXPECT_TRUE(registry.has_namespace("test.action"));
  EXPECT_FALSE(registry.has_namespace("test"));

  auto unknown = registry.decode({"other.kind", "x"});
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error().kind(), ActionErrorKind::UnknownNamespace);
  auto bad = registry.decode({"test.action", ""});
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().to_string(), "could not decode test.action action: empty payload");

  automerge::Document doc;
  DispatchState state;
  ASSERT_TRUE(registry.dispatch(state, doc, {"test.action", "k1"}, nullptr));
  EXPECT_EQ(value_at(doc, "k1"), "1");

  registry.register_action_namespace("test.action", [](std::string_view)
                                         -> std::expected<std::unique_ptr<vorn_actions::TypedAction>, ActionError> {
    return std::unexpected(ActionError::decode("test.action", "replaced"));
  });
  auto replaced = registry.dispatch(state, doc, {"test.action", "k2"}, nullptr);
  ASSERT_FALSE(replaced);
  EXPECT_EQ(replaced.error().text(), "replaced");
}

}  // namespace
