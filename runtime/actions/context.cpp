#include "vorn_actions/context.h"

#include <cctype>
#include <vector>

#include <nlohmann/json.hpp>

namespace vorn_actions::context {

namespace {

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_separator(char c) { return c == '_' || c == '-' || c == '.' || c == ' '; }

std::vector<std::string> split_words(std::string_view id) {
  std::vector<std::string> words;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
  };
  for (std::size_t i = 0; i < id.size(); ++i) {
    const char c = id[i];
    if (is_separator(c)) {
      flush();
      continue;
    }
    if (!word.empty() && is_upper(c)) {
      const char prev = word.back();
      const bool next_lower = i + 1 < id.size() && is_lower(id[i + 1]);
      if (is_lower(prev) || is_digit(prev) || (is_upper(prev) && next_lower)) flush();
    }
    word.push_back(c);
  }
  flush();
  return words;
}

bool all_capitals(const std::string& word) {
  bool letters = false;
  for (char c : word) {
    if (is_lower(c)) return false;
    if (is_upper(c)) letters = true;
  }
  return letters && word.size() > 1;
}

}  // namespace

std::string humanize_identifier(std::string_view identifier) {
  std::string out;
  bool first = true;
  for (auto& word : split_words(identifier)) {
    if (!all_capitals(word)) {
      for (auto& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (first && !word.empty()) word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    }
    if (!out.empty()) out.push_back(' ');
    out += word;
    first = false;
  }
  return out;
}

std::optional<std::string> variant_name(std::string_view payload) {
  auto json = nlohmann::json::parse(payload, nullptr, false);
  if (json.is_discarded()) return std::nullopt;
  if (json.is_string()) return json.get<std::string>();
  if (json.is_object() && json.size() == 1) return json.begin().key();
  return std::nullopt;
}

ActionContext ActionContext::enriched_by(const ActionContext& base) const {
  ActionContext out = *this;
  if (!out.label) out.label = base.label;
  if (!out.origin) out.origin = base.origin;
  return out;
}

ActionContext ActionContext::describe(std::string_view payload, std::string application_id,
                                      std::string source_label) {
  ActionContext out;
  std::string label;
  if (auto name = variant_name(payload)) label = humanize_identifier(*name);
  out.label = label.empty() ? std::string("Update") : label;
  out.origin = ActionOrigin{std::move(application_id), std::move(source_label)};
  return out;
}

}  // namespace vorn_actions::context
