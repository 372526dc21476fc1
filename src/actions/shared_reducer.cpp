#include "sarn/actions/shared_reducer.h"

#include <fmt/format.h>

#include "sarn/actions/owner_history.h"
#include "sarn/actions/owner_identity.h"
#include "sarn/model/settings.h"

namespace sarn {

namespace {

using vorn_actions::ActionError;
using Result = std::expected<void, ActionError>;

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

Result put(automerge::Document& doc, automerge::ObjId map, std::string_view key, const automerge::Value& value) {
  auto done = doc.put(map, key, value);
  if (!done) return std::unexpected(ActionError::document(done.error()));
  return {};
}

// Puts `value` at sarn/<child>/<key>.
Result put_in(automerge::Document& doc, automerge::ObjId root, std::string_view child, std::string_view key,
              const automerge::Value& value) {
  auto map = ensure_child_map(doc, root, child);
  if (!map) return std::unexpected(map.error());
  return put(doc, *map, key, value);
}

}  // namespace

std::string reply_id_for(std::string_view comment_key, std::string_view text) {
  std::string bytes;
  bytes.reserve(comment_key.size() + 1 + text.size());
  bytes.append(comment_key);
  bytes.push_back(static_cast<char>(0xFF));
  bytes.append(text);
  return fmt::format("reply-{:016x}", fnv1a64(bytes));
}

std::string comment_key_for(std::string_view comment_id, std::string_view video_id, std::uint64_t index) {
  if (!comment_id.empty()) return std::string(comment_id);
  return fmt::format("{}#{}", video_id, index);
}

bool is_collaborative(const SarnAction& action) {
  return std::holds_alternative<action::AddToQueue>(action) ||
         std::holds_alternative<action::SetQueueMembership>(action) ||
         std::holds_alternative<action::ReplyToComment>(action) ||
         std::holds_alternative<action::SetCommentReply>(action);
}

std::expected<void, ActionError> apply_shared_action(const SarnAction& action, automerge::Document& doc) {
  // 1. Refusals, before anything is read or written.
  if (std::holds_alternative<action::LikeVideo>(action) || std::holds_alternative<action::SetHistoryEntry>(action) ||
      std::holds_alternative<action::ClearHistory>(action) ||
      std::holds_alternative<action::ToggleSubscription>(action) ||
      std::holds_alternative<action::CyclePreferredQuality>(action)) {
    return std::unexpected(ActionError::message(std::string(kRefusedActionText)));
  }
  // 2. The quality check.
  if (const auto* q = std::get_if<action::SetPreferredQuality>(&action); q && !is_accepted_quality(q->quality)) {
    return std::unexpected(ActionError::message(fmt::format("unsupported preferred quality: {}", q->quality)));
  }
  // 3. The root map.
  auto root = ensure_child_map(doc, automerge::ObjId::root(), "sarn");
  if (!root) return std::unexpected(root.error());
  const automerge::ObjId sarn = *root;

  // 4. The write.
  using automerge::Value;
  return std::visit(
      Overloaded{
          [&](const action::SetVideoLiked& a) { return put_in(doc, sarn, "likes", a.video_id, Value::boolean(a.liked)); },
          [&](const action::AddToQueue& a) { return put_in(doc, sarn, "queue", a.video_id, Value::boolean(true)); },
          [&](const action::SetQueueMembership& a) {
            return put_in(doc, sarn, "queue", a.video_id, Value::boolean(a.queued));
          },
          [&](const action::SetSubscription& a) {
            return put_in(doc, sarn, "subscriptions", a.channel_id, Value::boolean(a.subscribed));
          },
          [&](const action::SetSetting& a) {
            return put_in(doc, sarn, "settings", setting_key(a.setting), Value::boolean(a.enabled));
          },
          [&](const action::SetPreferredQuality& a) {
            return put_in(doc, sarn, "settings", "preferred_quality", Value::str(a.quality));
          },
          [&](const action::SetSponsorCategory& a) -> Result {
            auto settings = ensure_child_map(doc, sarn, "settings");
            if (!settings) return std::unexpected(settings.error());
            return put_in(doc, *settings, "sponsor_categories", category_key(a.category),
                          Value::str(mode_document_text(a.mode)));
          },
          [&](const action::LikeComment& a) {
            return put_in(doc, sarn, "comment_likes", comment_key_for(a.comment_id, a.video_id, a.index),
                          Value::boolean(true));
          },
          [&](const action::SetCommentLiked& a) {
            return put_in(doc, sarn, "comment_likes", a.comment_id, Value::boolean(a.liked));
          },
          [&](const action::ReplyToComment& a) -> Result {
            const std::string key = comment_key_for(a.comment_id, a.video_id, a.index);
            auto replies = ensure_child_map(doc, sarn, "comment_replies");
            if (!replies) return std::unexpected(replies.error());
            return put_in(doc, *replies, key, reply_id_for(key, a.text), Value::str(a.text));
          },
          [&](const action::SetCommentReply& a) -> Result {
            auto replies = ensure_child_map(doc, sarn, "comment_replies");
            if (!replies) return std::unexpected(replies.error());
            auto comment = ensure_child_map(doc, *replies, a.comment_id);
            if (!comment) return std::unexpected(comment.error());
            auto reply = ensure_child_map(doc, *comment, a.reply_id);
            if (!reply) return std::unexpected(reply.error());
            if (auto done = put(doc, *reply, "text", Value::str(a.text)); !done) return done;
            return put(doc, *reply, "active", Value::boolean(a.active));
          },
          // Refused above.
          [&](const auto&) -> Result { return std::unexpected(ActionError::message(std::string(kRefusedActionText))); },
      },
      action);
}

}  // namespace sarn
