#pragma once
// Reading paths of a document in tests: "sarn/likes/abc".

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "automerge/document.h"

namespace sarn_test {

inline std::vector<std::string> split_path(const std::string& path) {
  std::vector<std::string> parts;
  std::stringstream in(path);
  std::string part;
  while (std::getline(in, part, '/')) parts.push_back(part);
  if (!path.empty() && path.back() == '/') parts.emplace_back();  // an empty last key
  return parts;
}

// The item at the path, following maps; none when any step is missing.
inline std::optional<automerge::Item> item_at(const automerge::Document& doc, const std::string& path) {
  automerge::ObjId obj = automerge::ObjId::root();
  std::optional<automerge::Item> item;
  for (const auto& part : split_path(path)) {
    if (item) {
      if (item->object != automerge::ObjType::map) return std::nullopt;
      obj = item->id;
    }
    auto got = doc.get(obj, part);
    if (!got || !*got) return std::nullopt;
    item = **got;
  }
  return item;
}

inline std::optional<bool> bool_at(const automerge::Document& doc, const std::string& path) {
  auto item = item_at(doc, path);
  if (!item || item->is_object()) return std::nullopt;
  return item->value.as_bool();
}

inline std::optional<std::string> str_at(const automerge::Document& doc, const std::string& path) {
  auto item = item_at(doc, path);
  if (!item || item->is_object()) return std::nullopt;
  auto text = item->value.as_str();
  if (!text) return std::nullopt;
  return std::string(*text);
}

inline bool is_map_at(const automerge::Document& doc, const std::string& path) {
  auto item = item_at(doc, path);
  return item && item->object == automerge::ObjType::map;
}

inline std::vector<std::string> keys_at(const automerge::Document& doc, const std::string& path) {
  automerge::ObjId obj = automerge::ObjId::root();
  if (!path.empty()) {
    auto item = item_at(doc, path);
    if (!item || item->object != automerge::ObjType::map) return {};
    obj = item->id;
  }
  auto keys = doc.keys(obj);
  return keys ? *keys : std::vector<std::string>{};
}

}  // namespace sarn_test
