#pragma once
// The description that travels with a dispatched action: a human label and
// where the action came from. Plain values; any thread.

#include <optional>
#include <string>
#include <string_view>

namespace vorn_actions::context {

// "SetVideoLiked" -> "Set video liked", "legacy_migration_complete" ->
// "Legacy migration complete", "open-video" -> "Open video". Words break at
// a lower-case letter or digit followed by a capital, before the last capital
// of a run of capitals followed by a lower-case letter ("HTTPServer" ->
// "HTTP server"), and at underscores, hyphens, dots and spaces. The first
// word is capitalised, later words are lower-cased unless they are all
// capitals. An identifier without letters or digits gives "".
std::string humanize_identifier(std::string_view identifier);

// The variant name of an externally tagged JSON payload: the text of a bare
// string, or the key of a one-member object; none otherwise (or when the
// payload is not JSON).
std::optional<std::string> variant_name(std::string_view payload);

struct ActionOrigin {
  std::string application_id;
  std::string source_label;

  friend bool operator==(const ActionOrigin&, const ActionOrigin&) = default;
};

struct ActionContext {
  std::optional<std::string> label;
  std::optional<ActionOrigin> origin;

  // This context with every member it lacks taken from `base`.
  ActionContext enriched_by(const ActionContext& base) const;

  // label = humanize_identifier of the payload's variant name, else "Update";
  // origin = the application identifier and the source label.
  static ActionContext describe(std::string_view payload, std::string application_id, std::string source_label);

  friend bool operator==(const ActionContext&, const ActionContext&) = default;
};

}  // namespace vorn_actions::context

namespace vorn_actions {
using context::ActionContext;
using context::ActionOrigin;
}  // namespace vorn_actions
