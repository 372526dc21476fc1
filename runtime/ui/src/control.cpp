#include "vorn_ui/control.h"

namespace vorn_ui {
namespace {

void escape_into(std::string& out, std::string_view part) {
  for (char c : part) {
    if (c == '%')
      out += "%25";
    else if (c == '#')
      out += "%23";
    else
      out += c;
  }
}

std::optional<std::string> unescape(std::string_view part) {
  std::string out;
  out.reserve(part.size());
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] != '%') {
      out += part[i];
      continue;
    }
    std::string_view code = part.substr(i + 1, 2);
    if (code == "25")
      out += '%';
    else if (code == "23")
      out += '#';
    else
      return std::nullopt;
    i += 2;
  }
  return out;
}

}  // namespace

std::string encode_address(const ActionAddress& address) {
  std::string out;
  out.reserve(address.resource.size() + address.action.size() + 1);
  escape_into(out, address.resource);
  out += '#';
  escape_into(out, address.action);
  return out;
}

std::optional<ActionAddress> decode_address(std::string_view text) {
  auto hash = text.find('#');
  if (hash == std::string_view::npos || text.find('#', hash + 1) != std::string_view::npos) return std::nullopt;
  auto resource = unescape(text.substr(0, hash));
  auto action = unescape(text.substr(hash + 1));
  if (!resource || !action || resource->empty()) return std::nullopt;
  return ActionAddress{std::move(*resource), std::move(*action)};
}

}  // namespace vorn_ui
